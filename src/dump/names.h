// What vornadump calls the records and fields it shows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "dump/sink.h"
#include "format/symbols.h"

namespace dump {

// The record that a tag starts in a part of a file; null for a tag that
// the part does not hold.
const char* record_kind(Part part, int tag);
// "F4", "E0", "FF"; a byte that is no tag as "0x12".
std::string tag_name(int tag);
// A string as the text output shows it: in double quotes, a quote or
// backslash after a backslash, a byte outside printable ASCII as \xNN.
std::string escaped(std::string_view s);
// Bytes as the JSON documents show them: two hexadecimal digits each.
std::string hex_digits(std::string_view bytes);

// Where each of a tables' lists ends: what a record added is what lies
// between two marks.
struct TableMarks {
  std::size_t blocks = 0, pubs = 0, equs = 0, bits = 0, exts = 0, f3s = 0;
};
TableMarks marks_of(const SymbolTables& t);

// The symbol tables' kinds, in the order a module-table entry lists them.
enum class TableList { kPublics, kEqus, kBits, kDescriptors, kExternals };
// Shows to `v` what a symbol record added to `t` since `before`.
void show_added(RecordVisitor& v, const SymbolTables& t, const TableMarks& before, TableList list);

}  // namespace dump
