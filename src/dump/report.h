// The rules a file breaks, each at the offset where it shows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace dump {

struct Violation {
  int64_t at;
  std::string what;      // what is wrong
  std::string expected;  // what the format wants instead
  bool stops = false;    // the rest of the file could not be read
};

class Report {
 public:
  void add(int64_t at, std::string what, std::string expected) {
    found_.push_back({at, std::move(what), std::move(expected), false});
  }
  // A fault after which the rest of the file cannot be read.
  void stop(int64_t at, std::string what, std::string expected) {
    found_.push_back({at, std::move(what), std::move(expected), true});
    stopped_ = true;
  }
  bool stopped() const { return stopped_; }
  bool clean() const { return found_.empty(); }
  // In file order; violations at one offset keep the order they were found in.
  std::vector<Violation> sorted() const;
  // What a dump without --check reports: the faults that stopped the reading.
  std::vector<Violation> shown(bool check) const;

 private:
  std::vector<Violation> found_;
  bool stopped_ = false;
};

// "FILE: offset 0x...: what is wrong (what was expected)"
std::string violation_line(const std::string& file, const Violation& v);
// The count that ends a check: "FILE: 2 violations".
std::string count_line(const std::string& file, std::size_t count);

// "1 byte", "2 bytes".
std::string byte_count(int64_t n);

// printf into a std::string.
std::string format(const char* fmt, ...);

}  // namespace dump
