// Reading the library's header and module table, and selecting modules by
// name: what append, replace, delete, extract and list share.
//
// A command first checks every given name against the module table (the
// selection pass) before it produces any output; then it reads the table
// again, noting which modules the names select, and finally walks the
// bodies in library order.
#pragma once

#include <string>

#include "core/commit_plan.h"
#include "core/run.h"
#include "format/library.h"

// Reads the library's header into `h` and checks it: its format, when
// `format_detail` names the refusal, and that it is built for our
// processor. The library then
// stands at its first module-table entry.
void read_header(Run& run, LibraryHeader& h, const char* format_detail);

// Reads the next module-table entry's fixed records into `entry`, stepping
// over its symbol records by `entry_len`. 0 at the table's end mark (the
// library then stands at the first body), else 1.
int get_modname(Run& run, TableEntry& entry);

// Reads the next whole entry into `entry`, symbol tables included. 0 at
// the table's end mark.
int get_rotbl(Run& run, TableEntry& entry);

// The index of the first given name whose base name equals the entry's
// module name ignoring case, or -1.
int fname_search(const Run& run, const TableEntry& entry);

// Checks every given name against the module table, read through `entry`:
// each must select exactly one module. Leaves the library at the first body.
void select_modules(Run& run, TableEntry& entry);

// The start of replace, delete and extract: the header read and checked
// into `h` (its format too, when `format_detail` names the refusal), then
// the selection pass through `entry`, and the library back at its first
// module-table entry. An entry record that a library leaves out keeps what
// the entry read before held, as in every pass over the table.
void start_selection(Run& run, LibraryHeader& h, TableEntry& entry, const char* format_detail);

// Copies one module body from `in` to `out` (or only reads it, when `out` is
// null), which must take exactly `expected` bytes; a body that disagrees
// with its table entry is refused naming `bad`.
void copy_body(Run& run, InputFile& in, RecOut* out, int32_t expected, const std::string& bad);

// Checks the library's next body, of `body_len` bytes, and keeps it for
// the new library where it lies.
void keep_body(Run& run, CommitPlan& plan, int32_t body_len);
