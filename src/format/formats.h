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
// Module-table entry after its F1 record without symbol records:
// F2 (5) + F4 (29) + F8 (21) + F9 (13) + end mark (1).
constexpr int32_t kEntryFixed = 69;
// From the first F3/F7/F8 record to the entry's end: F8 (21) + F9 (13) + FF (1).
constexpr int32_t kTailFixed = 35;
// Bytes that the fixed records F2 and F4 take; what remains of kEntryFixed
// after them is F8, F9 and the end mark.
constexpr int32_t kF2F4Size = 34;

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

// Module and CPU names are compared ignoring the case of ASCII letters.
inline bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace fmt
