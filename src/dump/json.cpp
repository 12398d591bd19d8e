#include "dump/json.h"

namespace dump {

void JsonWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back().first) std::fputc(',', out_);
    first_.back().first = false;
  }
}

void JsonWriter::object() {
  before_value();
  std::fputc('{', out_);
  first_.push_back({'}', true});
}

void JsonWriter::array() {
  before_value();
  std::fputc('[', out_);
  first_.push_back({']', true});
}

void JsonWriter::end() {
  std::fputc(first_.back().close, out_);
  first_.pop_back();
}

void JsonWriter::key(std::string_view k) {
  before_value();
  quote(k);
  std::fputc(':', out_);
  after_key_ = true;
}

void JsonWriter::str(std::string_view s) {
  before_value();
  quote(s);
}

void JsonWriter::quote(std::string_view s) {
  std::fputc('"', out_);
  for (unsigned char c : s) {
    if (c == '"' || c == '\\')
      std::fprintf(out_, "\\%c", c);
    else if (c < 0x20 || c >= 0x7F)
      std::fprintf(out_, "\\u%04x", c);
    else
      std::fputc(c, out_);
  }
  std::fputc('"', out_);
}

void JsonWriter::num(int64_t n) {
  before_value();
  std::fprintf(out_, "%lld", static_cast<long long>(n));
}

void JsonWriter::boolean(bool b) {
  before_value();
  std::fputs(b ? "true" : "false", out_);
}

void JsonWriter::null() {
  before_value();
  std::fputs("null", out_);
}

}  // namespace dump
