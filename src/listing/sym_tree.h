// The symbols of the symbol table being printed.
//
// A table lists its symbols in ascending order of their names, compared byte
// by byte as unsigned characters (so "QUIT" < "Quit" < "quit"). Symbols with
// equal names stay in the order in which they were added: the module read
// first comes first, and within one module a public symbol comes before the
// EQU and BIT symbols of the same name, because the module table lists the
// three kinds in that order.
//
// The names lie in one store and the symbols are small records pointing
// into it, so a table of tens of thousands of symbols is
// sorted by moving a few bytes each.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/symbols.h"

struct SymNode {
  // The name's first eight bytes as one number, most significant first:
  // names that differ there compare as these numbers do.
  uint64_t prefix;
  NameRef name;
  uint32_t module;  // the module's place among the table's modules
  SymKind kind;
};

class SymTree {
 public:
  // Symbols added from now on belong to this module and have this kind.
  void set_module(const std::string& mod_name);
  void set_kind(SymKind kind) { kind_ = kind; }

  void add_sym(std::string_view name);
  bool empty() const { return nodes_.empty(); }
  void clear();

  // The symbols in print order. Sorting waits until the table is printed,
  // which keeps the whole table n log n however the names arrive.
  const std::vector<SymNode>& in_order();
  std::string_view name(const SymNode& node) const { return names_.name(node.name); }
  const std::string& module(const SymNode& node) const { return modules_[node.module]; }

 private:
  std::vector<SymNode> nodes_;
  NameStore names_;
  std::vector<std::string> modules_;
  SymKind kind_ = SymKind::kPublic;
};
