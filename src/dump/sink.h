// Where vornadump sends what it reads: the text dump, the JSON document, or
// nothing (a check that only reports). The readers call a sink in file
// order; the fields of a record come through the RecordVisitor calls.
#pragma once

#include <cstdint>
#include <string>

#include "dump/report.h"
#include "format/library.h"
#include "format/module.h"
#include "format/visitor.h"

namespace dump {

// Parts of a file.
enum class Part {
  kHeader,  // a library's header section
  kEntry,   // one module-table entry
  kBody,    // one module body of a library
  kModule,  // a relocatable module file
};

class Sink : public RecordVisitor {
 public:
  virtual void begin_file(const std::string& name, const char* kind, int64_t size) = 0;
  // With `check` the report's violations belong in the output.
  virtual void end_file(const Report& report, bool check) = 0;
  // A part begins at `at`; `number` counts entries and bodies from 1.
  virtual void begin_part(Part part, int64_t at, int number) = 0;
  virtual void end_part(int64_t size) = 0;
  virtual void begin_record(int64_t at, int tag, const char* kind) = 0;
  virtual void end_record() = 0;
  // What a part holds, once it has been read.
  virtual void header(const LibraryHeader& h) = 0;
  virtual void entry(const TableEntry& e) = 0;
  // What append would collect from a module; offsets from its start.
  virtual void collects(const ModuleScan& scan) = 0;
  // The end mark of the module table or of the body section.
  virtual void end_mark(const char* what, int64_t at) = 0;
};

// Hears everything and shows nothing.
class NullSink : public Sink {
 public:
  void open(const char*, int64_t) override {}
  void close() override {}
  void value(const char*, int64_t, uint32_t, int) override {}
  void text(const char*, int64_t, std::string_view) override {}
  void data(const char*, int64_t, std::string_view) override {}
  void run(const char*, int64_t, int64_t) override {}
  void begin_file(const std::string&, const char*, int64_t) override {}
  void end_file(const Report&, bool) override {}
  void begin_part(Part, int64_t, int) override {}
  void end_part(int64_t) override {}
  void begin_record(int64_t, int, const char*) override {}
  void end_record() override {}
  void header(const LibraryHeader&) override {}
  void entry(const TableEntry&) override {}
  void collects(const ModuleScan&) override {}
  void end_mark(const char*, int64_t) override {}
};

}  // namespace dump
