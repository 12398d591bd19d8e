// The symbols of the symbol table being printed.
//
// A table lists its symbols in ascending order of their names, compared byte
// by byte as unsigned characters (so "QUIT" < "Quit" < "quit"). Symbols with
// equal names stay in the order in which they were added: the module read
// first comes first, and within one module a public symbol comes before the
// EQU and BIT symbols of the same name, because the module table lists the
// three kinds in that order.
//
// The symbol records are read straight into the tree's tables, so each name
// is kept once, and the symbols are small records pointing at them. They
// are sorted by eight bytes of their names at a time, as numbers: a radix
// sort for many symbols, a comparison sort for a few; only names that agree
// in those bytes are looked at further.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/symbols.h"

struct SymNode {
  // Eight bytes of the name, most significant first, from the place the
  // sort has come to (zeros past the name's end): names that differ there
  // compare as these numbers do.
  uint64_t key;
  NameRef name;
  uint32_t module;  // the module's place among the table's modules
  SymKind kind;
};

class SymTree {
 public:
  // Symbols added from now on belong to this module and have this kind.
  void set_module(const std::string& mod_name);
  void set_kind(SymKind kind) { kind_ = kind; }

  // The tables a symbol record is read into.
  SymbolTables* tables() { return &tables_; }
  // Adds the symbols of the current kind that the tables got from the
  // record just read; returns how many.
  int add_read();
  bool empty() const { return nodes_.empty(); }
  // Makes room for `symbols` at once, rather than growing step by step.
  void reserve(std::size_t symbols) { nodes_.reserve(symbols); }
  void clear();

  // The symbols in print order. Sorting waits until the table is printed,
  // which keeps the whole table n log n however the names arrive.
  const std::vector<SymNode>& in_order();
  std::string_view name(const SymNode& node) const { return tables_.name(node.name); }

  // Puts the symbols, in print order already, in the order of their
  // modules, keeping their order within each. Since equal names keep the
  // order they were added in, each module's symbols are then in the print
  // order of a table of that module alone.
  void group_by_module();
  // The symbols of module `k` (counted as set_module counted them) once
  // they are grouped.
  std::span<const SymNode> of_module(std::size_t k) const {
    return {nodes_.data() + module_start_[k], module_start_[k + 1] - module_start_[k]};
  }
  const std::string& module(const SymNode& node) const { return modules_[node.module]; }

 private:
  // Adds the symbols of `list`; returns how many.
  template <class List>
  std::size_t add_syms(const List& list);
  // Sorts the nodes from `first` to `last`, whose names agree in their
  // first `depth` bytes and whose keys hold the eight bytes after.
  void sort_from(SymNode* first, SymNode* last, std::size_t depth);
  // The same for a few nodes, by comparing them.
  void sort_few(SymNode* first, SymNode* last, std::size_t depth);
  // A stable merge sort by `before`, through `buffer`.
  template <class Before>
  void merge_sort(SymNode* first, SymNode* last, SymNode* buffer, Before before);
  // A stable radix sort by the keys alone.
  void radix_sort(SymNode* first, SymNode* last);
  // Gives the nodes the keys of their names' eight bytes from `depth` on;
  // false when no name goes on past `depth`.
  bool rekey(SymNode* first, SymNode* last, std::size_t depth);

  std::vector<SymNode> nodes_;
  std::vector<SymNode> scratch_;  // the radix sort's second buffer
  SymbolTables tables_;
  std::vector<std::string> modules_;
  std::vector<std::size_t> module_start_;  // where each module's symbols begin once grouped
  SymKind kind_ = SymKind::kPublic;
};
