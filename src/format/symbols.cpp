#include "format/symbols.h"

#include "format/formats.h"
#include "format/stdfnc.h"
#include "format/trace.h"

void SymbolTables::clear() {
  clear_lists();
  names_.clear();
}

void SymbolTables::clear_lists() {
  pub_list.clear();
  pub_syms.clear();
  equ_list.clear();
  bit_list.clear();
  ext_list.clear();
  f3_list.clear();
}

namespace {

// Reads the name of a list entry: kept in `t` when there is one; false for
// the empty name that ends the list.
bool list_name(RecIn& in, SymbolTables* t, NameRef& name) {
  if (t == nullptr) return in.skip_str();
  std::string_view s = in.get_str();
  if (s.empty()) return false;
  name = t->keep(s);
  return true;
}

void count(FormatTrace* trace, SymKind kind, int n) {
  if (trace != nullptr) trace->symbol_read(kind, n);
}

}  // namespace

void get_repf3(RecIn& in, SymbolTables* t) {
  F3Entry e{};
  e.number = in.get_word();
  list_name(in, t, e.name);
  e.byte1 = in.get_byte();
  e.byte2 = in.get_byte();
  e.value = in.get_tri();
  e.long_value = in.get_long();
  if (t != nullptr) t->f3_list.push_back(e);
}

void get_repf4(RecIn& in, SymbolTables* t, FormatTrace* trace) {
  int number = in.get_word();
  if (t != nullptr) t->pub_list.push_back(PubBlock{number, static_cast<uint32_t>(t->pub_syms.size()), 0});
  for (;;) {
    PubSym s{in.get_tri(), {}};
    if (!list_name(in, t, s.name)) return;
    if (t == nullptr) continue;
    t->pub_syms.push_back(s);
    ++t->pub_list.back().count;
    count(trace, SymKind::kPublic, t->pub_count());
  }
}

void get_repf5(RecIn& in, SymbolTables* t, FormatTrace* trace) {
  for (;;) {
    EquSym s{in.get_long(), {}};
    if (!list_name(in, t, s.name)) return;
    if (t == nullptr) continue;
    t->equ_list.push_back(s);
    count(trace, SymKind::kEqu, t->equ_count());
  }
}

void get_repf6(RecIn& in, SymbolTables* t, FormatTrace* trace) {
  NameRef name;
  while (list_name(in, t, name)) {
    if (t == nullptr) continue;
    t->ext_list.push_back(name);
    count(trace, SymKind::kExternal, t->ext_count());
  }
}

void get_repfa(RecIn& in, SymbolTables* t, FormatTrace* trace) {
  for (;;) {
    int number = in.get_word();
    BitSym s{number, in.get_tri(), {}};
    if (!list_name(in, t, s.name)) return;
    if (t == nullptr) continue;
    t->bit_list.push_back(s);
    count(trace, SymKind::kBit, t->bit_count());
  }
}

void put_publics(RecOut& out, const SymbolTables& t) {
  for (const PubBlock& b : t.pub_list) {
    out.put_byte(fmt::kF5);
    out.put_word(b.number);
    for (const PubSym& s : t.syms(b)) {
      out.put_tri(s.value);
      out.put_str(t.name(s.name));
    }
    out.put_tri(0);
    out.put_byte(0);
  }
}

void put_equs(RecOut& out, const SymbolTables& t) {
  if (t.equ_list.empty()) return;
  out.put_byte(fmt::kF6);
  for (const EquSym& s : t.equ_list) {
    out.put_long(s.value);
    out.put_str(t.name(s.name));
  }
  out.put_long(0);
  out.put_byte(0);
}

void put_bits(RecOut& out, const SymbolTables& t) {
  if (t.bit_list.empty()) return;
  out.put_byte(fmt::kFA);
  for (const BitSym& s : t.bit_list) {
    out.put_word(s.number);
    out.put_tri(s.value);
    out.put_str(t.name(s.name));
  }
  out.put_word(0);
  out.put_tri(0);
  out.put_byte(0);
}

void put_descriptors(RecOut& out, const SymbolTables& t) {
  for (const F3Entry& e : t.f3_list) {
    out.put_byte(fmt::kF3);
    out.put_word(e.number);
    out.put_str(t.name(e.name));
    out.put_byte(e.byte1);
    out.put_byte(e.byte2);
    out.put_tri(e.value);
    out.put_long(e.long_value);
  }
}

void put_externals(RecOut& out, const SymbolTables& t) {
  if (t.ext_list.empty()) return;
  out.put_byte(fmt::kF7);
  for (NameRef name : t.ext_list) out.put_str(t.name(name));
  out.put_byte(0);
}
