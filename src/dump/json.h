// A writer of JSON text, one value after another, with the commas and the
// escapes that the text needs. Strings are bytes: bytes outside printable
// ASCII are written as \u00XX, so that any file name or symbol gives valid
// JSON (a byte is read as the character of the same number).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace dump {

class JsonWriter {
 public:
  explicit JsonWriter(std::FILE* out) : out_(out) {}

  void object();
  void array();
  void end();
  void key(std::string_view k);
  void str(std::string_view s);
  void num(int64_t n);
  void boolean(bool b);
  void null();
  // A key and its value.
  void field(std::string_view k, std::string_view s) { key(k), str(s); }
  void field(std::string_view k, int64_t n) { key(k), num(n); }
  void field(std::string_view k, bool b) { key(k), boolean(b); }
  int depth() const { return static_cast<int>(first_.size()); }

 private:
  void before_value();
  void quote(std::string_view s);

  struct Open {
    char close;  // '}' or ']'
    bool first;  // nothing written in it yet
  };
  std::FILE* out_;
  std::vector<Open> first_;
  bool after_key_ = false;
};

}  // namespace dump
