// Pages of the listing.
#include <array>
#include <charconv>
#include <string>

#include "core/errors.h"
#include "format/formats.h"
#include "listing/layout.h"

namespace {

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

Listing::Listing(const Run& run)
    : trace(run.trace), epoch(run.line.source_date), fp(run.files.list_fp), list_time(run_time(epoch)) {}

const char* month_name(int month) { return kMonths[static_cast<std::size_t>(month)]; }

void put_decimal(std::string& line, int value, std::size_t width, char pad) {
  char digits[16];
  char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  std::size_t n = static_cast<std::size_t>(end - digits);
  const char* from = digits;
  // As printf pads: zeros go after the sign, blanks before it.
  if (pad == '0' && value < 0) {
    line += '-';
    ++from;
    --n;
    if (width > 0) --width;
  }
  if (n < width) line.append(width - n, pad);
  line.append(from, n);
}

void fill_to(std::string& line, char fill, std::size_t column) {
  if (line.size() < column) line.append(column - line.size(), fill);
}

void lst_page(Listing& lst) {
  lst.line_cnt = 1;
  ++lst.page_no;
  put_ff(lst);
  const ModTime t = calendar_fields(lst.epoch, lst.list_time);
  // "VORNA librarian %s                   date %4d-%s-%02d %02d:%02d page %4d\n\n\n",
  // put together by hand: a large listing has thousands of pages.
  std::string line;
  line.reserve(96);
  line += "VORNA";
  line += " librarian ";
  line += fmt::kVersion;
  line += "                   ";
  line += "date ";
  put_decimal(line, t[5] + 1900, 4, ' ');
  line += '-';
  line += month_name(t[4]);
  line += '-';
  put_decimal(line, t[3], 2, '0');
  line += ' ';
  put_decimal(line, t[2], 2, '0');
  line += ':';
  put_decimal(line, t[1], 2, '0');
  line += " page ";
  put_decimal(line, lst.page_no, 4, ' ');
  line += "\n\n\n";
  std::fwrite(line.data(), 1, line.size(), lst.fp);
}

void put_ff(Listing& lst) {
  if (std::fputc('\f', lst.fp) == EOF) error_exit(kListWriteFailed);
}
