// Trace lines of the format readers.
//
// A reader that meets something a trace shows tells the caller's trace,
// when it was given one; the caller decides what the lines look like and
// where they go.
#pragma once

#include <cstdint>

#include "format/symbols.h"

class FormatTrace {
 public:
  virtual ~FormatTrace() = default;
  // A record of a module or of a module-table entry begins; its tag was read.
  virtual void record(int) {}
  // A symbol of a kind was read; the count is the number of that kind read
  // so far from the module or entry being read.
  virtual void symbol_read(SymKind, int) {}
  // The first F7 or F8 record of a module starts at this offset.
  virtual void first_record(int, int32_t) {}
  // An F7 entry's first item is this byte, which no first item may be.
  virtual void bad_first_item(int) {}
};
