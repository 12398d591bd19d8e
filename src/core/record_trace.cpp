#include "core/record_trace.h"

#include <cstdio>

#include "format/formats.h"

void RecordTrace::record(int tag) {
  switch (records_) {
    case Records::kNone: return;
    case Records::kParse: std::fprintf(trace_.out(), "parse->%X\n", tag); return;
    case Records::kTags: std::fprintf(trace_.out(), "%02X-", tag); return;
    case Records::kReaders:
      switch (tag) {
        case fmt::kF3: std::fputs(",get_repf3\n", trace_.out()); return;
        case fmt::kF5: std::fputs(",get_repf4\n", trace_.out()); return;
        case fmt::kF6: std::fputs(",get_repf5\n", trace_.out()); return;
        case fmt::kF7: std::fputs(",get_repf6\n", trace_.out()); return;
        case fmt::kFA: std::fputs(",get_repfa\n", trace_.out()); return;
        default: return;
      }
  }
}

void RecordTrace::symbol_read(SymKind kind, int count) {
  trace_.move_cursor(1, 24);
  switch (kind) {
    case SymKind::kPublic: std::fprintf(trace_.out(), "_public synbol count = %d", count); return;
    case SymKind::kEqu: std::fprintf(trace_.out(), "_public equ count = %d", count); return;
    case SymKind::kExternal: std::fprintf(trace_.out(), "_extern synbol count = %d", count); return;
    case SymKind::kBit: std::fprintf(trace_.out(), "_public bit count = %d", count); return;
  }
}

void RecordTrace::first_record(int tag, int32_t offset) {
  if (!first_records_) return;
  std::fprintf(trace_.out(), tag == fmt::kF7 ? "\noffset1_f7=%ld\n" : "\noffset1_f8=%ld", static_cast<long>(offset));
}

void RecordTrace::bad_first_item(int byte) { std::fprintf(trace_.out(), "%X ", byte); }
