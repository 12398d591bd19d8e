// Module-table entries of the new library, as the commands make them: the
// entry of an appended module, the table working file (tmp1) they go to,
// and the duplicate check before each.
#pragma once

#include <cstdio>
#include <string>

#include "driver/run_state.h"

class DefIndex;
struct ModuleScan;

// Which time of a file: as the run stores or shows it (no later than
// SOURCE_DATE_EPOCH), or the file's own (the update check).
enum class FileTime { kStamp, kOwn };

// The modification time of the file a stream is open on, as calendar fields
// (local time, UTC with SOURCE_DATE_EPOCH); all fields 0 and false when its
// status cannot be read.
bool get_ftime(const RunState& rs, std::FILE* fp, ModTime& time, FileTime which = FileTime::kStamp);

// A module name (a file name without its directory); too long a name is
// refused naming `file`.
std::string module_name(RunState& rs, const std::string& file);

// Counts the symbols of `rotbl_rec` into the header and into the entry's F4
// counts (put_rotbl measures the sizes).
void count_symbols(RunState& rs);

// Counts the module just read from `obj_path` into the header and makes
// its entry in `rotbl_rec` from what the scan found, the body's size and
// the file's time.
void make_rotbl(RunState& rs, ModuleScan& scan, int64_t body_size);

// Appends `rotbl_rec` to tmp1, noting where the commit puts its offsets.
void add_rotbl(RunState& rs);

// The duplicate check: the earliest definition of `defs` that the current
// entry defines again, as the symbol and the module holding it; false when
// there is none.
bool pub_redef(RunState& rs, DefIndex& defs, std::string& symbol, std::string& other);

// Appends `rotbl_rec` to tmp1 after the duplicate check: a clash with an
// entry already there ends the run, else the entry's global definitions
// are indexed for the entries after it.
void put_checked_rotbl(RunState& rs, DefIndex& defs);
