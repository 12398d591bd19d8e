// The per-module symbol tables.
//
// While one module is read (from a relocatable file or from a library's
// module table) its public symbols (grouped in blocks, one per F4 record),
// public EQU symbols, public BIT symbols, external names and F3 descriptors
// are collected here, in the order the records list them. They are written
// out as the module's table entry and released before the next module.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PubSym {
  int32_t value;  // 3-byte value
  std::string name;
};

struct PubBlock {
  int number;  // the F4 record's block number
  std::vector<PubSym> syms;
};

struct EquSym {
  int32_t value;
  std::string name;
};

struct BitSym {
  int number;
  int32_t value;  // 3-byte value
  std::string name;
};

struct F3Entry {
  int number;
  std::string name;
  int byte1;
  int byte2;
  int32_t value;  // 3-byte value
  int32_t long_value;
};

struct SymbolTables {
  std::vector<PubBlock> pub_list;
  std::vector<EquSym> equ_list;
  std::vector<BitSym> bit_list;
  std::vector<std::string> ext_list;
  std::vector<F3Entry> f3_list;

  int pub_count() const {
    int n = 0;
    for (const PubBlock& b : pub_list) n += static_cast<int>(b.syms.size());
    return n;
  }
  int equ_count() const { return static_cast<int>(equ_list.size()); }
  int bit_count() const { return static_cast<int>(bit_list.size()); }
  int ext_count() const { return static_cast<int>(ext_list.size()); }
  // Public, EQU, BIT and external symbols: what a module adds to the
  // library's global symbol count.
  int symbol_count() const { return pub_count() + equ_count() + bit_count() + ext_count(); }
};

// Releases every list; the next module starts empty.
inline void free_tables(SymbolTables& t) { t = SymbolTables{}; }
