// What a reader of the module grammar shows of the fields it reads.
//
// The librarian steps over most fields of a module's records without
// looking at them. A tool that prints a module (vornadump) gives the walker
// a RecordVisitor instead, and hears of every field in file order with its
// position, so that the layout of each record stays written down once, in
// the walker. The symbol records are the exception: their contents go into
// the walker's ModuleScan, where a visitor finds them after the record.
#pragma once

#include <cstdint>
#include <string_view>

class RecordVisitor {
 public:
  virtual ~RecordVisitor() = default;
  // A group of fields begins at `at`: an F2 sub-record, an F7 entry or
  // item, an E4 group, one entry of a name-terminated list. Groups nest;
  // close() ends the innermost.
  virtual void open(const char* what, int64_t at) = 0;
  virtual void close() = 0;
  // A value of `width` bytes (1 to 4).
  virtual void value(const char* name, int64_t at, uint32_t value, int width) = 0;
  // A string, without its NUL.
  virtual void text(const char* name, int64_t at, std::string_view s) = 0;
  // A few bytes shown as they are (at most 8).
  virtual void data(const char* name, int64_t at, std::string_view bytes) = 0;
  // A run of `length` bytes that is not shown: an F8 block's contents.
  virtual void run(const char* name, int64_t at, int64_t length) = 0;
};
