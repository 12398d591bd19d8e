#include "intake/record_trace.h"

#include <cstdio>

#include "driver/run_state.h"
#include "format/formats.h"
#include "format/stdfnc.h"

void RecordTrace::record(int tag) {
  switch (records_) {
    case Records::kNone: return;
    case Records::kParse: std::fprintf(rs_.out, "parse->%X\n", tag); return;
    case Records::kTags: std::fprintf(rs_.out, "%02X-", tag); return;
    case Records::kReaders:
      switch (tag) {
        case fmt::kF3: std::fputs(",get_repf3\n", rs_.out); return;
        case fmt::kF5: std::fputs(",get_repf4\n", rs_.out); return;
        case fmt::kF6: std::fputs(",get_repf5\n", rs_.out); return;
        case fmt::kF7: std::fputs(",get_repf6\n", rs_.out); return;
        case fmt::kFA: std::fputs(",get_repfa\n", rs_.out); return;
        default: return;
      }
  }
}

void RecordTrace::symbol_read(SymKind kind, int count) {
  move_cursor(rs_.out, 1, 24);
  switch (kind) {
    case SymKind::kPublic: std::fprintf(rs_.out, "_public synbol count = %d", count); return;
    case SymKind::kEqu: std::fprintf(rs_.out, "_public equ count = %d", count); return;
    case SymKind::kExternal: std::fprintf(rs_.out, "_extern synbol count = %d", count); return;
    case SymKind::kBit: std::fprintf(rs_.out, "_public bit count = %d", count); return;
  }
}

void RecordTrace::first_record(int tag, int32_t offset) {
  if (!first_records_) return;
  std::fprintf(rs_.out, tag == fmt::kF7 ? "\noffset1_f7=%ld\n" : "\noffset1_f8=%ld", static_cast<long>(offset));
}

void RecordTrace::bad_first_item(int byte) { std::fprintf(rs_.out, "%X ", byte); }

FormatTrace* traced(RunState& rs, RecordTrace& trace) { return rs.trace ? &trace : nullptr; }
