// What a comparison of two libraries or two modules finds: a list of
// differences, each one value of the first file (A) against the same value
// of the second (B), and how the list is written, as text or as JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace dump {

// One side of a difference: a value as the files hold it, or nothing.
struct DiffValue {
  enum class Kind {
    kNone,        // the side has no such value
    kCount,       // a number shown in decimal: sizes, counts, positions
    kHex,         // a number shown in hexadecimal, `width` bytes wide
    kText,        // a string
    kBytes,       // bytes shown as they are
    kTime,        // a module time: the six fields of an F9 record
    kPresent,     // a name that is there (an external)
    kDescriptor,  // an F3 descriptor: number, byte1, byte2, value, long
    kNames,       // module names, in the order they stand; A's side of an
                  // order also holds where each stands among them in B
  };
  Kind kind = Kind::kNone;
  int64_t number = 0;
  int width = 0;
  std::string text;                // kText, kBytes
  std::vector<int64_t> numbers;    // kTime, kDescriptor, kNames
  std::vector<std::string> names;  // kNames

  DiffValue() = default;
  DiffValue(Kind k, int64_t n = 0, int w = 0) : kind(k), number(n), width(w) {}
  static DiffValue count(int64_t n) { return {Kind::kCount, n}; }
  static DiffValue hex(int64_t n, int width) { return {Kind::kHex, n, width}; }
  static DiffValue str(std::string s, Kind kind = Kind::kText) {
    DiffValue v(kind);
    v.text = std::move(s);
    return v;
  }
  static DiffValue bytes(std::string b) { return str(std::move(b), Kind::kBytes); }
  static DiffValue present() { return {Kind::kPresent}; }
  static DiffValue list(Kind kind, std::vector<int64_t> n) {
    DiffValue v(kind);
    v.numbers = std::move(n);
    return v;
  }
  static DiffValue module_names(std::vector<std::string> names) {
    DiffValue v(Kind::kNames);
    v.names = std::move(names);
    return v;
  }

  bool operator==(const DiffValue&) const = default;
};

// What differs.
enum class DiffWhat {
  kHeader,   // a value of the library header
  kOnlyInA,  // a module that only A holds; its number in A
  kOnlyInB,
  kOrder,    // the modules both hold stand in another order; their names in each
  kEntry,    // a value of a module's entry: a field, or a symbol
  kBody,     // the module's body, from the first record where the two part
};

struct Difference {
  Difference(DiffWhat w, std::optional<std::string> m, std::string f, DiffValue va = {}, DiffValue vb = {})
      : what(w), module(std::move(m)), field(std::move(f)), a(std::move(va)), b(std::move(vb)) {}

  DiffWhat what;
  std::optional<std::string> module;  // none for the header, the order, and a module file
  std::string field;                  // empty for none
  DiffValue a, b;
  // A body's: the record where the bodies part, from the module's start,
  // its tag, and the first byte that differs.
  int64_t offset = -1;
  int tag = -1;
  int64_t at = -1;
};

struct Comparison {
  std::string a, b;   // the files
  bool library;       // two libraries, else two modules
  bool ignore_times;
  std::vector<Difference> differences;
};

// One line per difference, then the count.
void write_text(std::FILE* out, const Comparison& c);
// One JSON document, on one line.
void write_json(std::FILE* out, const Comparison& c);

}  // namespace dump
