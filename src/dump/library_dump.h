// Reads a library section by section: the header, the module table and the
// bodies, each body as a module. What was read goes to the sink as it is
// read, and is kept, all but the bodies, for the rules that compare the
// parts (check_library).
#pragma once

#include <cstdint>
#include <vector>

#include "dump/module_dump.h"
#include "dump/report.h"
#include "dump/sink.h"
#include "format/library.h"

class RecIn;

namespace dump {

// One record of the header or of an entry: its tag, where it starts and
// how many bytes it takes, tag included.
struct RecordSpan {
  int tag;
  int64_t at;
  int64_t size;
};

struct HeaderView {
  LibraryHeader values;
  std::vector<RecordSpan> records;  // the end mark not included
  bool complete = false;
};

struct EntryView {
  int64_t at = 0;
  int64_t size = 0;  // its first tag through its end mark
  TableEntry values;
  std::vector<RecordSpan> records;  // the end mark not included
  bool complete = false;
};

struct LibraryView {
  int64_t size = 0;  // of the file
  HeaderView header;
  std::vector<EntryView> entries;
  int64_t table_end = -1;  // the table's end mark; -1 = not reached
  // What each body holds, in table order, as far as they could be read;
  // the symbol tables are the module's own, not the whole body.
  std::vector<ModuleView> bodies;
  int64_t body_end = -1;  // the body section's end mark; -1 = not found
};

// Reads the library that `in` holds from its start, showing it to `sink`;
// the faults that stop the reading go to `report`.
LibraryView read_library(RecIn& in, int64_t file_size, Sink& sink, Report& report);

// Adds to `report` every rule of the library format that `lib` breaks.
void check_library(const LibraryView& lib, Report& report);

}  // namespace dump
