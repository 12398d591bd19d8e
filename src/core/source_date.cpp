// Reproducible builds: SOURCE_DATE_EPOCH.
#include "core/source_date.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#include "core/errors.h"
#include "host/host.h"

namespace {

static_assert(sizeof(std::time_t) >= 8, "times up to the year 9999 need a 64-bit time_t");

constexpr std::time_t kEarliest = -62135596800;  // 0001-01-01 00:00:00 UTC
constexpr std::time_t kLatest = 253402300799;    // 9999-12-31 23:59:59 UTC

// Plain decimal digits no greater than kLatest; nothing else.
std::optional<std::time_t> parse_epoch(const std::string& text) {
  std::time_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > kLatest) return std::nullopt;
  }
  return value;
}

}  // namespace

SourceDate read_source_date() {
  std::optional<std::string> text = host::env("SOURCE_DATE_EPOCH");
  if (!text) return std::nullopt;
  SourceDate epoch = parse_epoch(*text);
  if (!epoch) error_exit(kBadSourceDate, *text);
  return epoch;
}

std::time_t run_time(const SourceDate& epoch) { return epoch.value_or(std::time(nullptr)); }

std::time_t clamp_to_epoch(const SourceDate& epoch, std::time_t t) { return epoch ? std::min(t, *epoch) : t; }

ModTime calendar_fields(const SourceDate& epoch, std::time_t t) {
  if (epoch) return utc_fields(t);
  std::tm tm{};
  host::local_time(t, tm);
  return ModTime{tm.tm_sec, tm.tm_min, tm.tm_hour, tm.tm_mday, tm.tm_mon, tm.tm_year};
}

ModTime utc_fields(std::time_t t) {
  using namespace std::chrono;
  const sys_seconds moment{seconds{std::clamp(t, kEarliest, kLatest)}};
  const sys_days day = floor<days>(moment);
  const year_month_day date{day};
  const hh_mm_ss clock{moment - day};
  return ModTime{static_cast<int>(clock.seconds().count()), static_cast<int>(clock.minutes().count()),
                 static_cast<int>(clock.hours().count()),   static_cast<int>(unsigned{date.day()}),
                 static_cast<int>(unsigned{date.month()}) - 1, static_cast<int>(date.year()) - 1900};
}
