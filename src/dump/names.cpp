#include "dump/names.h"

#include "dump/report.h"
#include "format/formats.h"

namespace dump {

namespace {

const char* module_record(int tag) {
  switch (tag) {
    case fmt::kF0: return "format";
    case fmt::kF1: return "string";
    case fmt::kF2: return "three groups";
    case fmt::kF3: return "descriptor";
    case fmt::kF4: return "public symbols";
    case fmt::kF5: return "public EQU symbols";
    case fmt::kF6: return "external symbols";
    case fmt::kF7: return "item entries";
    case fmt::kF8: return "contents";
    case fmt::kF9: case fmt::kFA: case fmt::kE1: return "list";
    case fmt::kE0: return "public BIT symbols";
    case fmt::kE2: return "fixed";
    case fmt::kE3: return "groups";
    case fmt::kE4: return "named groups";
    case fmt::kE5: return "string";
    case fmt::kE6: return "byte";
    case fmt::kEnd: return "end of module";
    default: return nullptr;
  }
}

const char* entry_record(int tag) {
  switch (tag) {
    case fmt::kF0: return "module name";
    case fmt::kF1: return "lengths";
    case fmt::kF2: return "body size";
    case fmt::kF3: return "descriptor";
    case fmt::kF4: return "counts and sizes";
    case fmt::kF5: return "public symbols";
    case fmt::kF6: return "EQU symbols";
    case fmt::kF7: return "external symbols";
    case fmt::kF8: return "offsets";
    case fmt::kF9: return "time";
    case fmt::kFA: return "BIT symbols";
    case fmt::kEnd: return "end of entry";
    default: return nullptr;
  }
}

const char* header_record(int tag) {
  switch (tag) {
    case fmt::kF0: return "version";
    case fmt::kF1: return "format";
    case fmt::kF2: return "CPU";
    case fmt::kF3: return "module count";
    case fmt::kF4: return "global symbol count";
    case fmt::kEnd: return "end of header";
    default: return nullptr;
  }
}

}  // namespace

const char* record_kind(Part part, int tag) {
  switch (part) {
    case Part::kHeader: return header_record(tag);
    case Part::kEntry: return entry_record(tag);
    default: return module_record(tag);
  }
}

std::string tag_name(int tag) {
  if (tag >= fmt::kE0) return format("%02X", tag);
  return format("0x%02X", tag);
}

std::string escaped(std::string_view s) {
  std::string q = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') q += format("\\%c", c);
    else if (c < 0x20 || c >= 0x7F) q += format("\\x%02x", c);
    else q += static_cast<char>(c);
  }
  return q + "\"";
}

std::string hex_digits(std::string_view bytes) {
  std::string s;
  for (unsigned char c : bytes) s += format("%02x", c);
  return s;
}

TableMarks marks_of(const SymbolTables& t) {
  return {t.pub_list.size(), t.pub_syms.size(), t.equ_list.size(), t.bit_list.size(), t.ext_list.size(),
          t.f3_list.size()};
}

namespace {

void show_publics(RecordVisitor& v, const SymbolTables& t, const TableMarks& m) {
  for (std::size_t b = m.blocks; b < t.pub_list.size(); ++b) {
    v.value("block", -1, static_cast<uint32_t>(t.pub_list[b].number), 2);
    for (const PubSym& s : t.syms(t.pub_list[b])) {
      v.open("symbol", -1);
      v.value("value", -1, static_cast<uint32_t>(s.value), 3);
      v.text("name", -1, t.name(s.name));
      v.close();
    }
  }
}

void show_equs(RecordVisitor& v, const SymbolTables& t, const TableMarks& m) {
  for (std::size_t i = m.equs; i < t.equ_list.size(); ++i) {
    v.open("symbol", -1);
    v.value("value", -1, static_cast<uint32_t>(t.equ_list[i].value), 4);
    v.text("name", -1, t.name(t.equ_list[i].name));
    v.close();
  }
}

void show_bits(RecordVisitor& v, const SymbolTables& t, const TableMarks& m) {
  for (std::size_t i = m.bits; i < t.bit_list.size(); ++i) {
    const BitSym& s = t.bit_list[i];
    v.open("symbol", -1);
    v.value("number", -1, static_cast<uint32_t>(s.number), 2);
    v.value("value", -1, static_cast<uint32_t>(s.value), 3);
    v.text("name", -1, t.name(s.name));
    v.close();
  }
}

void show_descriptors(RecordVisitor& v, const SymbolTables& t, const TableMarks& m) {
  for (std::size_t i = m.f3s; i < t.f3_list.size(); ++i) {
    const F3Entry& e = t.f3_list[i];
    v.value("number", -1, static_cast<uint32_t>(e.number), 2);
    v.text("name", -1, t.name(e.name));
    v.value("byte1", -1, static_cast<uint32_t>(e.byte1), 1);
    v.value("byte2", -1, static_cast<uint32_t>(e.byte2), 1);
    v.value("value", -1, static_cast<uint32_t>(e.value), 3);
    v.value("long", -1, static_cast<uint32_t>(e.long_value), 4);
  }
}

void show_externals(RecordVisitor& v, const SymbolTables& t, const TableMarks& m) {
  for (std::size_t i = m.exts; i < t.ext_list.size(); ++i) v.text("name", -1, t.name(t.ext_list[i]));
}

}  // namespace

void show_added(RecordVisitor& v, const SymbolTables& t, const TableMarks& before, TableList list) {
  switch (list) {
    case TableList::kPublics: return show_publics(v, t, before);
    case TableList::kEqus: return show_equs(v, t, before);
    case TableList::kBits: return show_bits(v, t, before);
    case TableList::kDescriptors: return show_descriptors(v, t, before);
    case TableList::kExternals: return show_externals(v, t, before);
  }
}

}  // namespace dump
