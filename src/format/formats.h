// Tags and fixed sizes of the two record-stream file formats.
//
// A relocatable module (.QOB) is a sequence of tagged records ending with FF.
// A library (.LIB) is three sections, each closed by FF: the header, the
// module table (one entry per module, each closed by FF) and the module
// bodies, which are the relocatable modules stored unchanged.
#pragma once

#include <cstdint>
#include <string_view>

namespace fmt {

// Record tags of relocatable modules; the library header and module-table
// entries reuse F0 to FA with meanings of their own.
enum Tag : int {
  kE0 = 0xE0, kE1, kE2, kE3, kE4, kE5, kE6,
  kF0 = 0xF0, kF1, kF2, kF3, kF4, kF5, kF6, kF7, kF8, kF9, kFA,
  kEnd = 0xFF,
};

// Prefix bytes that may stand before the first item of an F7 entry.
constexpr int kF7Prefix1 = 0x81;
constexpr int kF7Prefix2 = 0x82;

// Header section: three tags and NULs of the string records, two tags with a
// 4-byte count each, and the end mark.
constexpr int32_t kHeaderFixed = 17;

// The records every module-table entry has once, tags included: F1 holds the
// two lengths, F2 the body size, F4 seven values, F8 five, F9 six 2-byte
// values; the end mark closes the entry.
constexpr int32_t kF1Size = 1 + 2 * 4;
constexpr int32_t kF2Size = 1 + 4;
constexpr int32_t kF4Size = 1 + 7 * 4;
constexpr int32_t kF8Size = 1 + 5 * 4;
constexpr int32_t kF9Size = 1 + 6 * 2;
constexpr int32_t kEndSize = 1;
// What entry_len counts besides the symbol records (69), and what tail_len
// counts besides the F3 and F7 records (35).
constexpr int32_t kEntryFixed = kF2Size + kF4Size + kF8Size + kF9Size + kEndSize;
constexpr int32_t kTailFixed = kF8Size + kF9Size + kEndSize;

constexpr const char* kVersion = "V.4.00.00";
constexpr const char* kFormat = "VER.A";
constexpr const char* kCpu = "VRN100";

constexpr int32_t kMaxModules = 1000;
// Sizes and offsets are stored as 4-byte signed values: no body of a
// library may end past this offset.
constexpr int64_t kMaxOffset = 0x7FFFFFFF;
// The string buffer holds 255 characters and the NUL.
constexpr std::size_t kMaxString = 255;
// Header strings are kept in 32-byte fields.
constexpr std::size_t kMaxHeaderString = 31;

// Names change case only in their ASCII letters: every other byte, of any
// code page, stays as it is.
constexpr char upper_ascii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Module and CPU names are compared ignoring the case of ASCII letters.
inline bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper_ascii(a[i]) != upper_ascii(b[i])) return false;
  return true;
}

}  // namespace fmt
