#include "driver/utf16.h"

namespace {

constexpr std::string_view kLittleMark = "\xFF\xFE";
constexpr std::string_view kBigMark = "\xFE\xFF";

bool is_high_surrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

char32_t unit_at(std::string_view units, std::size_t at, ByteOrder order) {
  auto first = static_cast<unsigned char>(units[at]);
  auto second = static_cast<unsigned char>(units[at + 1]);
  return order == ByteOrder::kLittle ? first | second << 8 : first << 8 | second;
}

void put_utf8(std::string& out, char32_t c) {
  auto byte = [&out](char32_t b) { out.push_back(static_cast<char>(b)); };
  if (c < 0x80) {
    byte(c);
  } else if (c < 0x800) {
    byte(0xC0 | c >> 6);
    byte(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    byte(0xE0 | c >> 12);
    byte(0x80 | (c >> 6 & 0x3F));
    byte(0x80 | (c & 0x3F));
  } else {
    byte(0xF0 | c >> 18);
    byte(0x80 | (c >> 12 & 0x3F));
    byte(0x80 | (c >> 6 & 0x3F));
    byte(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::optional<ByteOrder> utf16_mark(std::string_view text) {
  if (text.starts_with(kLittleMark)) return ByteOrder::kLittle;
  if (text.starts_with(kBigMark)) return ByteOrder::kBig;
  return std::nullopt;
}

Utf16Text decode_utf16(std::string_view units, ByteOrder order) {
  Utf16Text text;
  text.utf8.reserve(units.size() / 2);
  std::size_t at = 0;
  for (; at + 2 <= units.size(); at += 2) {
    char32_t c = unit_at(units, at, order);
    if (is_high_surrogate(c) && at + 4 <= units.size() && is_low_surrogate(unit_at(units, at + 2, order))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit_at(units, at + 2, order) - 0xDC00);
      at += 2;
    } else if (is_high_surrogate(c) || is_low_surrogate(c)) {
      text.fault_at = at;
      return text;
    }
    put_utf8(text.utf8, c);
  }
  if (at != units.size()) text.fault_at = at;
  return text;
}
