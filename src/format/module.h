// The relocatable module format (.QOB).
//
// A module is a sequence of tagged records ending with FF, in any order and
// number. The librarian stores a module's records unchanged as its body in a
// library; from a few of them it collects what the library's module table
// needs: the symbols and descriptors, and where the first F7 and F8 records
// start. The same grammar describes every body inside a library.
#pragma once

#include <cstdint>
#include <string>

#include "format/symbols.h"

class InputFile;
class RecIn;
class RecOut;
class FormatTrace;
class RecordVisitor;

// What the walker's owner calls the faults of the module grammar (the
// detail of their FormatError): F2 without its F0 sub-record, an F7 entry
// whose first item is not F0, F1 or F2.
struct RomodFaults {
  std::string bad_f2;
  std::string bad_f7;
};

// What a module's records hold for its module-table entry.
struct ModuleScan {
  SymbolTables symbols;
  int32_t offset1_f7 = 0;  // the first F7 record's tag, from the module's start; 0 = none
  int32_t offset1_f8 = 0;
};

bool is_record_tag(int tag);

// Reads modules record by record, following the grammar.
class ModuleWalker {
 public:
  // With `scan` the walker collects the symbol records and the first F7/F8
  // positions into it; `trace` hears of what a trace shows.
  ModuleWalker(RecIn& in, const RomodFaults& faults, ModuleScan* scan = nullptr, FormatTrace* trace = nullptr)
      : in_(in), faults_(faults), scan_(scan), trace_(trace) {}

  // Reads the body of one record whose tag was just read; false for a byte
  // that is no record tag (nothing is read then).
  bool record(int tag);

  // From now on every field read is shown to `visitor` (null: none is).
  void visit(RecordVisitor* visitor) { visitor_ = visitor; }

 private:
  void f2();
  void f7();
  void f7_item(int c, bool first);
  void f8();
  void e3();
  void e4();
  void named_list(const char* name1, int width1, const char* name2 = nullptr, int width2 = 0);
  void str_list();
  // Remembers where the module's first record of a kind starts.
  void first(int32_t& offset, int tag);

  // The fields, each shown to the visitor when there is one. `field` reads
  // a value of 1 to 4 bytes; `skip_field` steps over one when nobody looks;
  // `text` reads a string, true when it is not empty; `data` a few bytes.
  uint32_t field(int width, const char* name) { return visitor_ == nullptr ? value(width) : shown_field(width, name); }
  uint32_t value(int width);  // the field's value, shown to nobody
  uint32_t shown_field(int width, const char* name);
  void skip_field(int width, const char* name);
  bool text(const char* name);
  void data(int n, const char* name);
  void group(const char* what);
  void end_group();

  RecIn& in_;
  const RomodFaults& faults_;
  ModuleScan* scan_;
  FormatTrace* trace_;
  RecordVisitor* visitor_ = nullptr;
};

// Reads one module body from `in` through its closing FF, copying it to
// `out` when given; returns its size. A byte in tag position that is no tag,
// or the end of the input there, is "S0004"; F2 without its F0 sub-record
// "S0001"; an F7 entry with a bad first item "S0002".
int64_t copy_romod(InputFile& in, RecOut* out, FormatTrace* trace = nullptr);
