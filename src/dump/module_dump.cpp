#include "dump/module_dump.h"

#include "dump/names.h"
#include "format/formats.h"
#include "format/stdfnc.h"
#include "format/trace.h"

namespace dump {

namespace {

// vornadump tells the walker's faults apart by their rule: it names none.
const RomodFaults kNoDetails{};

// Hears the byte that an F7 entry's first item may not be.
struct BadItem : FormatTrace {
  int byte = -1;
  void bad_first_item(int c) override { byte = c; }
};

// Records that replace stops at: it collects nothing from them on.
bool is_stop_record(int tag) { return tag == fmt::kF9 || tag == fmt::kFA || (tag >= fmt::kE1 && tag <= fmt::kE6); }
// Records that fill the module's entry: symbols, descriptors, first F7 and F8.
bool is_symbol_record(int tag) { return (tag >= fmt::kF3 && tag <= fmt::kF8) || tag == fmt::kE0; }

// Which table a symbol record of a module fills.
bool table_of(int tag, TableList& list) {
  switch (tag) {
    case fmt::kF3: list = TableList::kDescriptors; return true;
    case fmt::kF4: list = TableList::kPublics; return true;
    case fmt::kF5: list = TableList::kEqus; return true;
    case fmt::kF6: list = TableList::kExternals; return true;
    case fmt::kE0: list = TableList::kBits; return true;
    default: return false;
  }
}

class ModuleReader {
 public:
  ModuleReader(RecIn& in, int64_t file_size, Sink& sink, Report& report, ModuleRole role)
      : in_(in), file_size_(file_size), sink_(sink), report_(report), role_(role),
        walker_(in, kNoDetails, &view_.append, &bad_item_) {
    walker_.visit(&sink_);
  }

  ModuleView read() {
    view_.start = in_.tell();
    try {
      while (next_record()) {
      }
    } catch (const FormatError& e) {
      if (e.kind != FormatError::Kind::kMalformed) throw;
      sink_.end_record();
      malformed(e.rule);
    }
    view_.size = in_.tell() - view_.start;
    view_.append.offset1_f7 = offset1_f7_;
    view_.append.offset1_f8 = offset1_f8_;
    if (!stopped_) keep_replace_view();
    sink_.collects(view_.append);
    return std::move(view_);
  }

 private:
  // Reads one record; false after the FF or a fault.
  bool next_record() {
    at_ = in_.tell();
    int tag = in_.get_tag();
    if (tag < 0) {
      report_.stop(at_, "the module ends before its FF", "an FF record");
      return false;
    }
    if (!is_record_tag(tag) && tag != fmt::kEnd) {
      report_.stop(at_, format("byte 0x%02X where a record tag belongs", tag), "a tag E0 to E6, F0 to FA, or FF");
      return false;
    }
    tag_ = tag;
    check_order(tag);
    sink_.begin_record(at_, tag, record_kind(Part::kModule, tag));
    if (tag == fmt::kEnd) {
      sink_.end_record();
      view_.complete = true;
      after_end();
      return false;
    }
    read_body(tag);
    sink_.end_record();
    return true;
  }

  void read_body(int tag) {
    TableMarks before = marks_of(view_.append.symbols);
    remember_first(tag);
    walker_.record(tag);
    TableList list;
    if (table_of(tag, list)) show_added(sink_, view_.append.symbols, before, list);
    if (tag == fmt::kF0) {
      view_.has_format = true;
      check_format(in_.file().last_str());
    }
  }

  // Where append finds the first F7 and F8 records: 0 stands for none, so a
  // record at the module's very start is not remembered.
  void remember_first(int tag) {
    int64_t offset = at_ - view_.start;
    if (tag == fmt::kF7 && offset1_f7_ == 0) offset1_f7_ = static_cast<int32_t>(offset);
    if (tag == fmt::kF8 && offset1_f8_ == 0) offset1_f8_ = static_cast<int32_t>(offset);
  }

  void keep_replace_view() {
    view_.replace = view_.append;
    view_.replace.offset1_f7 = offset1_f7_;
    view_.replace.offset1_f8 = offset1_f8_;
  }

  void check_order(int tag) {
    bool first = at_ == view_.start;
    if (is_stop_record(tag) && !stopped_) {
      keep_replace_view();
      stopped_ = true;
    }
    if (role_ != ModuleRole::kFile) return;
    if (first && tag != fmt::kF0)
      report_.add(at_, format("the module begins with %s, so replace refuses it", tag_name(tag).c_str()),
                  "an F0 record first");
    if (stopped_ && is_symbol_record(tag))
      report_.add(at_,
                  format("%s record after the first F9, FA or E1 to E6 record: replace leaves it out of the "
                         "module's entry",
                         tag_name(tag).c_str()),
                  "symbol records F3 to F8 and E0 before those");
  }

  void check_format(const std::string& s) {
    if (s != fmt::kFormat)
      report_.add(at_, format("the F0 record holds \"%s\": append refuses the module", s.c_str()), fmt::kFormat);
  }

  void after_end() {
    int64_t end = in_.tell();
    if (role_ == ModuleRole::kFile && end < file_size_)
      report_.add(end, byte_count(file_size_ - end) + " after the module's FF",
                  "the file ends with its FF");
  }

  // What each rule that a module breaks is reported as.
  void malformed(FormatError::Rule rule) {
    switch (rule) {
      case FormatError::Rule::kF2SubRecord:
        return report_.stop(at_, "the F2 record does not begin with its F0 sub-record", "F0");
      case FormatError::Rule::kF7FirstItem:
        return report_.stop(in_.tell() - 1, format("an F7 entry's first item is 0x%02X", bad_item_.byte),
                            "an item F0, F1 or F2");
      case FormatError::Rule::kRecord:
      case FormatError::Rule::kTooLarge:  // only a writer with a limit meets it
      case FormatError::Rule::kNone:
        return record_fault();
    }
  }

  // A record that breaks the stream's grammar: cut off by the end of the
  // file, or with a string longer than the string buffer.
  void record_fault() {
    std::string tag = tag_name(tag_);
    if (in_.tell() >= file_size_) {
      report_.stop(at_, format("the %s record is cut off by the end of the file", tag.c_str()),
                   "the rest of the record and an FF");
    } else {
      report_.stop(at_, format("a string of the %s record is longer than 255 characters", tag.c_str()),
                   "at most 255 characters");
    }
  }

  RecIn& in_;
  int64_t file_size_;
  Sink& sink_;
  Report& report_;
  ModuleRole role_;
  ModuleView view_;
  BadItem bad_item_;
  ModuleWalker walker_;
  int64_t at_ = 0;   // the record being read
  int tag_ = 0;
  bool stopped_ = false;
  int32_t offset1_f7_ = 0;
  int32_t offset1_f8_ = 0;
};

}  // namespace

ModuleView read_module(RecIn& in, int64_t file_size, Sink& sink, Report& report, ModuleRole role) {
  return ModuleReader(in, file_size, sink, report, role).read();
}

}  // namespace dump
