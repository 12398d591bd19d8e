// The symbols of the symbol table being printed.
//
// A table lists its symbols in ascending order of their names, compared byte
// by byte as unsigned characters (so "QUIT" < "Quit" < "quit"). Symbols with
// equal names stay in the order in which they were added: the module read
// first comes first, and within one module a public symbol comes before the
// EQU and BIT symbols of the same name, because the module table lists the
// three kinds in that order.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "format/symbols.h"

struct SymNode {
  std::string name;
  std::shared_ptr<const std::string> module;  // shared by all symbols of one module
  SymKind kind;
};

class SymTree {
 public:
  // Symbols added from now on belong to this module and have this kind.
  void set_module(const std::string& mod_name);
  void set_kind(SymKind kind) { kind_ = kind; }

  void add_sym(std::string_view name);
  bool empty() const { return nodes_.empty(); }
  void clear() { nodes_.clear(); }

  // The symbols in print order. Sorting waits until the table is printed,
  // which keeps the whole table n log n however the names arrive.
  const std::vector<SymNode>& in_order();

 private:
  std::vector<SymNode> nodes_;
  std::shared_ptr<const std::string> module_;
  SymKind kind_ = SymKind::kPublic;
};
