// Pages of the listing.
#include <array>

#include "driver/errors.h"
#include "driver/run_state.h"
#include "driver/source_date.h"
#include "format/formats.h"
#include "listing/layout.h"

namespace {

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

Listing::Listing(RunState& run, std::time_t started) : rs(run), fp(run.list_fp), list_time(started) {}

const char* month_name(int month) { return kMonths[static_cast<std::size_t>(month)]; }

void fill_to(std::string& line, char fill, std::size_t column) {
  if (line.size() < column) line.append(column - line.size(), fill);
}

void lst_page(Listing& lst) {
  lst.line_cnt = 1;
  ++lst.page_no;
  put_ff(lst);
  const ModTime t = calendar_fields(lst.rs, lst.list_time);
  std::fputs("VORNA", lst.fp);
  std::fprintf(lst.fp, " librarian %s                   ", fmt::kVersion);
  std::fprintf(lst.fp, "date %4d-%s-%02d %02d:%02d page %4d\n\n\n", t[5] + 1900, month_name(t[4]), t[3], t[2],
               t[1], lst.page_no);
}

void put_ff(Listing& lst) {
  if (std::fputc('\f', lst.fp) == EOF) error_exit(lst.rs, kListWriteFailed);
}
