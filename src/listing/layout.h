// The layout of a listing file.
//
// A listing is a text file cut into pages. Every page opens with a form feed
// and a header line with the program's version, the time the listing was
// started and the page number, followed by two empty lines. A line counter
// decides where a page ends: the list command moves it for the lines it
// writes itself, the table printers below for the symbol lines.
//
// Symbol tables are printed from the symbols collected for one table: two
// symbols per line, each with its module, in the global tables of the
// library; four per line in the table of one module.
#pragma once

#include <cstddef>
#include <cstdio>
#include <span>
#include <ctime>
#include <string>

#include "core/run.h"
#include "core/source_date.h"
#include "core/trace_out.h"
#include "format/stdfnc.h"
#include "listing/sym_tree.h"

// A page ends when its line counter reaches this.
constexpr int kPageLength = 50;

// The state of the listing being written; it lives as long as the list command.
struct Listing {
  explicit Listing(const Run& run);

  TraceOut trace;
  SourceDate epoch;       // the page headers' time is shown in UTC with it
  std::FILE* fp;          // the listing stream
  std::time_t list_time;  // when the list command started (or SOURCE_DATE_EPOCH); every page header shows it
  int page_no = 0;        // the last page begun
  int line_cnt = 0;       // lines counted on the current page
  int col_cnt = 0;        // symbols already placed on the line being built
  // Symbol-table lines on their way to the listing: put together here and
  // written many at a time, before anything else is written.
  Block lines;
  std::size_t lines_used = 0;  // bytes of `lines` that hold lines
  std::size_t line_at = 0;     // where the line being built begins
  SymTree sym_tree;            // the symbols of the table being built
};

// "Jan" to "Dec" for the months 0 to 11.
const char* month_name(int month);

// Adds `value` in decimal, padded with `pad` to `width` characters as
// printf's %4d (blanks) or %02d (zeros) pads it.
void put_decimal(std::string& line, int value, std::size_t width, char pad);

// Adds `fill` characters until the line is `column` characters long.
void fill_to(std::string& line, char fill, std::size_t column);

// Begins a new page: form feed and page header.
void lst_page(Listing& lst);
// Writes a form feed; a failed write ends the run.
void put_ff(Listing& lst);

// Empties the symbol tree.
void freel(Listing& lst);
// Prints the tree as a global table (the caller has written the title and
// the column header) and empties it. The tree goes to `keep`, its symbols
// grouped by module: they are the modules' own tables too.
void end_glob(Listing& lst, SymTree& keep);
// Prints one module's table of `nodes`, whose names `tree` holds (the caller
// has written the module's title line), with the two empty lines that end it.
void end_mod(Listing& lst, const SymTree& tree, std::span<const SymNode> nodes);
