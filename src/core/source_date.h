// Reproducible builds: SOURCE_DATE_EPOCH.
//
// With the variable set, seconds since 1970-01-01 00:00:00 UTC, nothing a
// run writes depends on the time zone or on the moment of the run: every
// time is written as UTC calendar fields, a file's time no later than the
// epoch, and the listing's date is the epoch itself. Without it (or with it
// empty) times are local calendar time, as they always were.
#pragma once

#include <ctime>
#include <optional>

#include "format/library.h"

// The epoch, when the variable is set.
using SourceDate = std::optional<std::time_t>;

// Reads SOURCE_DATE_EPOCH. Anything but plain decimal digits up to
// 9999-12-31 23:59:59 UTC ends the run.
SourceDate read_source_date();

// The moment the run shows as its own: the epoch, else now.
std::time_t run_time(const SourceDate& epoch);
// A file's time as the run stores or shows it: no later than the epoch.
std::time_t clamp_to_epoch(const SourceDate& epoch, std::time_t t);
// Calendar fields of `t`: UTC with the epoch set, else local time.
ModTime calendar_fields(const SourceDate& epoch, std::time_t t);

// Calendar fields of `t` in UTC, the same on every host; a time outside
// the years 1 to 9999 counts as the nearest end of that range.
ModTime utc_fields(std::time_t t);
