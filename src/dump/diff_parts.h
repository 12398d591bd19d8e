// The parts of a comparison: entry values, symbol tables and bodies, each
// compared by what it holds, and the pairing of two lists by name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dump/difference.h"
#include "format/library.h"

class RecIn;

namespace dump {

// Adds to `out` a difference of `field` when the two values differ.
void add_if_different(std::vector<Difference>& out, DiffWhat what, const std::optional<std::string>& module,
                      std::string field, DiffValue a, DiffValue b);

// Pairs two lists by key: the k-th item of a key in A with the k-th item
// of the same key in B. For each item of A the place of its partner in B,
// -1 for none.
std::vector<int> pair_by_key(const std::vector<std::string>& a, const std::vector<std::string>& b);

// Where the first of `n` bytes read from `a` and `m` bytes read from `b`
// differ, from where both stood; -1 when they are the same. The two are
// read a block at a time, side by side.
int64_t first_difference(RecIn& a, int64_t n, RecIn& b, int64_t m);

// The differences between the values of two module-table entries (the
// offsets in the library, which follow from the modules before, and the
// entry's own lengths, which follow from its symbol records, are none),
// and between their symbol tables.
void compare_entries(const TableEntry& a, const TableEntry& b, bool ignore_times,
                     const std::optional<std::string>& module, std::vector<Difference>& out);
void compare_symbols(const SymbolTables& a, const SymbolTables& b, const std::optional<std::string>& module,
                     std::vector<Difference>& out);

// A module's body in a file: the stream that reads it, and where it lies.
struct BodySpan {
  RecIn& in;
  int64_t at;
  int64_t size;
};

// The two bodies, equal or the first record where they part: the record's
// offset in the module and tag, the field, and the field's values.
std::optional<Difference> compare_bodies(const BodySpan& a, const BodySpan& b,
                                         const std::optional<std::string>& module);

}  // namespace dump
