// The library header and the module-table entries.
//
// An entry describes one module: F0 name, F1 entry_len and tail_len, F2 body
// size, F4 counts and sizes, then the symbol records (F5 public blocks, F6
// EQU, FA BIT), the F3 descriptors, F7 externals, F8 offsets, F9 time, FF.
// Readers that skip an entry's symbol records rely on this order and on the
// two lengths, so the writer computes both from what it actually writes.
#pragma once

#include <string>

#include "driver/run_state.h"

class RecIn;
class RecOut;

// Reads the header section from the library stream's position through its end mark.
void get_header(RunState& rs);

// Counts the current module into the header and fills in its entry from the
// collected tables, the name of `obj_path` and the file's time.
// `body_size` is the number of bytes the module's body takes.
void make_rotbl(RunState& rs, int64_t body_size);

// The modification time of a file as local time; all fields 0 and false
// when the file's status cannot be read.
bool get_ftime(const std::string& name, ModTime& time);
// The same for the file a stream is open on.
bool get_ftime(std::FILE* fp, ModTime& time);

// Appends the entry of `rs.rotbl_rec` and `rs.tables` to tmp1.
void put_rotbl(RunState& rs);

// Writes the entry after the duplicate check: a clash with an entry already
// in tmp1 ends the run, else the entry is written and its global definitions
// are indexed for the entries after it.
void put_checked_rotbl(RunState& rs);

// Copies the fields of one module-table record whose tag was just read and
// copied. Entry names and global definitions go into `defs` when it is
// given. False for a tag that no entry holds.
bool copy_table_record(RecIn& in, RecOut& out, int tag, DefIndex* defs);

// A module name (a file name without its directory); too long a name is
// refused naming `file`.
std::string module_name(RunState& rs, const std::string& file);
