// Text in UTF-16, as Windows PowerShell writes a command file with `>`:
// its code units in either byte order after a byte-order mark, turned into
// the UTF-8 that names have everywhere else in the program.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

enum class ByteOrder { kLittle, kBig };

// The byte order that a UTF-16 byte-order mark at the start of `text`
// gives (FF FE little-endian, FE FF big-endian); nullopt without one.
std::optional<ByteOrder> utf16_mark(std::string_view text);

struct Utf16Text {
  std::string utf8;
  // Where the text stops being UTF-16, counted from the first byte given:
  // a surrogate without its partner, or a byte left over at the end.
  std::optional<std::size_t> fault_at;
};

// Decodes `units` (the bytes after the byte-order mark) into UTF-8; on a
// fault `utf8` holds the text before it.
Utf16Text decode_utf16(std::string_view units, ByteOrder order);
