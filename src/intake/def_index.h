// Index of the global definitions in the module-table working file.
//
// A module may not define a public, EQU or BIT name that a module already in
// the table defines; the three kinds share one name space and externals never
// take part. Instead of rescanning the table for every new module, the names
// are indexed as entries are written. Each name remembers where it first
// occurred in table order, so a clash reports exactly what a scan from the
// start would find first: the earliest such name and the module holding it.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "intake/tables.h"

class DefIndex {
 public:
  // Names added from now on belong to the module `mod_name`.
  void start_module(const std::string& mod_name);
  void add(const std::string& name);
  // Adds every global definition of `t`, in the order an entry lists them.
  void add_tables(const std::string& mod_name, const SymbolTables& t);

  struct Clash {
    std::string name;
    std::string module;
  };
  // The earliest indexed definition that `t` defines again, if any.
  bool find_clash(const SymbolTables& t, Clash& clash) const;

 private:
  struct Def {
    uint64_t seq;
    uint32_t module;
  };
  using Map = std::unordered_map<std::string, Def>;
  void consider(const std::string& name, Map::const_iterator& best) const;

  Map defs_;
  std::vector<std::string> modules_;
  uint64_t seq_ = 0;
};
