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
#include <string_view>
#include <vector>

#include "format/library.h"
#include "format/name_store.h"
#include "format/symbols.h"

class DefIndex {
 public:
  // Makes room for about `names` definitions at once, rather than growing
  // step by step (a library's header tells how many symbols it holds).
  void reserve(std::size_t names);
  // Names added from now on belong to the module `mod_name`.
  void start_module(std::string_view mod_name);
  void add(std::string_view name);
  // Adds every global definition of `t`, in the order an entry lists them.
  void add_tables(std::string_view mod_name, const SymbolTables& t);

  struct Clash {
    std::string name;
    std::string module;
  };
  // The earliest indexed definition that `t` defines again, if any. What it
  // looked up is kept for an add_tables of `t` right after.
  bool find_clash(const SymbolTables& t, Clash& clash);

 private:
  // A name's first definition. Definitions are numbered in table order by
  // their place in defs_; the names lie in names_, so a library of tens of
  // thousands of names costs a few allocations, not two per name.
  struct Def {
    NameRef name;
    uint32_t module;
    uint32_t hash;
  };
  std::string_view name_of(const Def& d) const { return names_.name(d.name); }
  // The slot that holds `name`, or the free slot where it would go.
  std::size_t slot_of(std::string_view name, uint32_t hash) const;
  // What a slot holds: the name's hash above its place in defs_ plus 1, so
  // that most names that differ are told apart without reading defs_.
  static uint64_t slot(uint32_t hash, uint32_t place) { return (static_cast<uint64_t>(hash) << 32) | place; }
  // Doubles the slots (the first time: makes them) and puts every
  // definition in again.
  void grow();
  // Grows until `more` definitions fit with the slots at most half full.
  void make_room(std::size_t more);
  // Adds `name` with its hash at the free slot `i` that slot_of gave.
  void add_at(std::string_view name, uint32_t hash, std::size_t i);

  NameStore names_;
  std::vector<Def> defs_;
  // Open addressing, at most half full, so that a probe rarely passes more
  // than a slot or two; it compares the hashes held in the slots before any
  // name. See slot(); 0 when free.
  std::vector<uint64_t> slots_;
  std::vector<std::string> modules_;
  // The tables that find_clash looked at last, and for each of their
  // definitions, in the order for_each_definition gives them, its hash and
  // the slot found for it.
  struct Lookup {
    uint32_t hash;
    std::size_t slot;
  };
  const SymbolTables* looked_up_ = nullptr;
  std::vector<Lookup> lookups_;
};

// About how many global definitions the library with this header holds, as
// far as a header can be believed: its symbol count (externals included).
std::size_t expected_names(const LibraryHeader& h);
// About how many a new library of `modules` modules holds, the first of
// which defines what `first` holds; at most as many as a modest index has
// room for.
std::size_t expected_names(std::size_t modules, const SymbolTables& first);
