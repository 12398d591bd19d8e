// The replace table: one entry per module of the library in library order,
// which replace, delete and extract fill in their table pass and follow in
// their body pass.
#pragma once

#include <cstdint>
#include <vector>

struct ReplaceEntry {
  bool selected = false;
  int file_index = 0;    // the given name that selects the module
  int32_t body_len = 0;  // the module's body in the library
  int32_t new_len = 0;   // replace: the body that takes its place
};

using ReplaceTable = std::vector<ReplaceEntry>;
