// Selecting library modules by name: the machinery that replace, delete,
// extract and list share.
//
// A command first checks every given name against the module table (the
// selection pass) before it produces any output; then it reads the table
// again, marking in the replace table which modules the names select, and
// finally walks the bodies in library order.
#pragma once

#include <string>

#include "driver/run_state.h"

// Reads the next module-table entry's fixed records into `rotbl_rec`,
// stepping over its symbol records by `entry_len`. 0 at the table's end mark
// (the library then stands at the first body), else 1.
int get_modname(RunState& rs);

// Reads the next whole entry into `rotbl_rec`, symbol tables included. 0 at
// the table's end mark.
int get_rotbl(RunState& rs);

// The index of the first given name whose base name equals `mod_name`
// ignoring case, or -1.
int fname_search(const RunState& rs);

// Checks every given name against the module table: each must select exactly
// one module. Leaves the library at the first body.
void select_modules(RunState& rs);

// Ends the run unless the library is built for our processor.
void check_cpu(RunState& rs);

// The start of replace, delete and extract: the header read and checked
// (its format too, when `format_detail` names the refusal), then the
// selection pass with the command's verbose heading, and the library back
// at its first module-table entry.
void start_selection(RunState& rs, const char* heading, const char* format_detail);

// Copies one module body from `in` to `out` (or only reads it, when `out` is
// null), which must take exactly `expected` bytes; a body that disagrees
// with its table entry is refused naming `bad`.
void copy_body(RunState& rs, InputFile& in, RecOut* out, int32_t expected, const std::string& bad);
