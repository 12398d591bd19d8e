// The trace lines that the commands show while the format readers work:
// running symbol counts at one place of the screen, the first F7 and F8
// positions, a bad F7 item, and one line per record in the style of the
// routine that reads it.
#pragma once

#include "core/trace_out.h"
#include "format/trace.h"

class RecordTrace : public FormatTrace {
 public:
  // What a record's tag shows.
  enum class Records {
    kNone,
    kParse,    // "parse->F0": the module copier
    kTags,     // "F0-": the reader of an entry's fixed records
    kReaders,  // ",get_repf4": the reader of a whole entry, at its symbol records
  };

  RecordTrace(const TraceOut& trace, Records records, bool first_records = false)
      : trace_(trace), records_(records), first_records_(first_records) {}
  const TraceOut& trace() const { return trace_; }

  void record(int tag) override;
  void symbol_read(SymKind kind, int count) override;
  void first_record(int tag, int32_t offset) override;
  void bad_first_item(int byte) override;

 private:
  const TraceOut& trace_;
  Records records_;
  bool first_records_;
};

// The trace to give a reader: none unless the trace flag is set.
inline FormatTrace* traced(RecordTrace& trace) { return trace.trace().on() ? &trace : nullptr; }
