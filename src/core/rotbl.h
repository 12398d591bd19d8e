// Module-table entries of the new library, as the commands make them: the
// time of a module's file, the symbol counts, the table working file (tmp1)
// the entries go to, and the duplicate check before each.
#pragma once

#include <cstdio>
#include <string>

#include "core/commit_plan.h"
#include "core/source_date.h"
#include "core/trace_out.h"
#include "format/library.h"

class DefIndex;

// Which time of a file: as the run stores or shows it (no later than
// SOURCE_DATE_EPOCH), or the file's own (the update check).
enum class FileTime { kStamp, kOwn };

// The modification time of the file a stream is open on, as calendar fields
// (local time, UTC with SOURCE_DATE_EPOCH); all fields 0 and false when its
// status cannot be read.
bool get_ftime(const SourceDate& epoch, std::FILE* fp, ModTime& time, FileTime which = FileTime::kStamp);

// Moves a count of the library's header by `n`. A header may hold any
// count at all: the count wraps around as its 32-bit field does, rather than
// overflow.
void move_count(int32_t& count, int64_t n);

// Counts the symbols of `entry` into the header and into the entry's F4
// counts (put_rotbl measures the sizes).
void count_symbols(LibraryHeader& h, TableEntry& entry);

// Appends `entry` to tmp1, its sizes measured, noting where the commit puts
// its offsets.
void add_rotbl(CommitPlan& plan, TableEntry& entry);

// The duplicate check: the earliest definition of `defs` that `entry`
// defines again, as the symbol and the module holding it; false when there
// is none.
bool pub_redef(const TraceOut& trace, DefIndex& defs, const TableEntry& entry, std::string& symbol,
               std::string& other);

// Appends `entry` to tmp1 after the duplicate check: a clash with an entry
// already there ends the run, else the entry's global definitions are
// indexed for the entries after it.
void put_checked_rotbl(const TraceOut& trace, CommitPlan& plan, DefIndex& defs, TableEntry& entry);
