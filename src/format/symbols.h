// The symbol tables of one module.
//
// While one module is read, from a relocatable file or from a library's
// module table, its public symbols (grouped in blocks, one per record),
// public EQU symbols, public BIT symbols, external names and F3 descriptors
// are kept here in the order the records list them. The names lie in one
// store, so tables that are cleared and filled again for every module
// allocate nothing once they have grown.
//
// The records of these tables have the same layouts in both formats: a
// relocatable module's F3, F4, F5, F6 and E0 records are a module-table
// entry's F3, F5, F6, F7 and FA records. One reader of each serves both.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "format/name_store.h"

class RecIn;
class RecOut;
class FormatTrace;

enum class SymKind { kPublic = 0, kEqu = 1, kExternal = 2, kBit = 3 };

struct PubSym {
  int32_t value;  // 3-byte value
  NameRef name;
};

// One public-symbol record: its block number and its symbols, which are
// pub_syms[first] on.
struct PubBlock {
  int number;
  uint32_t first;
  uint32_t count;
};

struct EquSym {
  int32_t value;
  NameRef name;
};

struct BitSym {
  int number;
  int32_t value;  // 3-byte value
  NameRef name;
};

struct F3Entry {
  int number;
  NameRef name;
  int byte1;
  int byte2;
  int32_t value;  // 3-byte value
  int32_t long_value;
};

class SymbolTables {
 public:
  std::vector<PubBlock> pub_list;
  std::vector<PubSym> pub_syms;
  std::vector<EquSym> equ_list;
  std::vector<BitSym> bit_list;
  std::vector<NameRef> ext_list;
  std::vector<F3Entry> f3_list;

  std::string_view name(NameRef n) const { return names_.name(n); }
  // Keeps a copy of `name` in the store.
  NameRef keep(std::string_view name) { return names_.keep(name); }
  std::span<const PubSym> syms(const PubBlock& b) const { return {pub_syms.data() + b.first, b.count}; }

  int pub_count() const { return static_cast<int>(pub_syms.size()); }
  int equ_count() const { return static_cast<int>(equ_list.size()); }
  int bit_count() const { return static_cast<int>(bit_list.size()); }
  int ext_count() const { return static_cast<int>(ext_list.size()); }
  // Public, EQU, BIT and external symbols: what a module adds to the
  // library's global symbol count.
  int symbol_count() const { return pub_count() + equ_count() + bit_count() + ext_count(); }

  // Calls `f` with every global definition, public, EQU and BIT in this
  // order, as a module-table entry lists them.
  template <class F>
  void for_each_definition(F f) const {
    for (const PubSym& s : pub_syms) f(name(s.name));
    for (const EquSym& s : equ_list) f(name(s.name));
    for (const BitSym& s : bit_list) f(name(s.name));
  }

  // Calls `f` with the name of every symbol: public, EQU, BIT, external.
  template <class F>
  void for_each_name(F f) const {
    for_each_definition(f);
    for (NameRef n : ext_list) f(name(n));
  }

  // Empties every table, keeping the room they have grown.
  void clear();
  // Empties the lists, keeping the names they pointed at.
  void clear_lists();

 private:
  NameStore names_;
};

// Releases the tables of the module just handled; the next starts empty.
inline void free_tables(SymbolTables& t) { t.clear(); }

// The readers of the symbol records, each called after its tag was read:
// they read the record's body into `t`, or only step over it when `t` is
// null (then each is also the skip routine of its table record: get_repf3
// is skip_f3, get_repf4 skip_f5, get_repf5 skip_f6, get_repf6 skip_f7 and
// get_repfa skip_fa). `trace` hears of every symbol kept.
void get_repf3(RecIn& in, SymbolTables* t);  // one F3 descriptor
void get_repf4(RecIn& in, SymbolTables* t, FormatTrace* trace);  // one block of public symbols
void get_repf5(RecIn& in, SymbolTables* t, FormatTrace* trace);  // public EQU symbols
void get_repf6(RecIn& in, SymbolTables* t, FormatTrace* trace);  // external names
void get_repfa(RecIn& in, SymbolTables* t, FormatTrace* trace);  // public BIT symbols

// The writers of a module-table entry's symbol records: one F5 record per
// block of public symbols, then one F6 record of the EQU symbols, one FA
// record of the BIT symbols, one F3 record per descriptor and one F7 record
// of the external names, each left out when there is nothing to list.
void put_publics(RecOut& out, const SymbolTables& t);
void put_equs(RecOut& out, const SymbolTables& t);
void put_bits(RecOut& out, const SymbolTables& t);
void put_descriptors(RecOut& out, const SymbolTables& t);
void put_externals(RecOut& out, const SymbolTables& t);
