// Printing the symbol tables of the listing.
//
// A global table line holds two symbols, each followed by its module: the
// first symbol is filled with dots to column 20 and the whole first column
// with blanks to column 40, the second symbol with dots to column 60. A
// module's own table holds four symbols per line in fields of 20 columns.
// Columns count from 0; a field that is already full gets nothing, so long
// names push the rest of the line to the right and nothing is ever cut.
//
// Tables of tens of thousands of symbols pass here, so a line is put
// together by copying its pieces into a block that holds many lines.
#include <array>
#include <cstring>
#include <string_view>

#include "host/host.h"
#include "listing/layout.h"

namespace {

constexpr std::size_t kLinesBlock = 1 << 16;
// Fill characters are copied in runs of this many, past where the fill
// ends: a field is filled by fewer characters than a name or a module
// name takes, at least one, short of a column 20 on.
constexpr std::size_t kFillRun = 32;
constexpr std::array<char, kFillRun> run_of(char c) {
  std::array<char, kFillRun> run{};
  run.fill(c);
  return run;
}
constexpr std::array<char, kFillRun> kDots = run_of('.');
constexpr std::array<char, kFillRun> kBlanks = run_of(' ');
// Room a line may take: four fields of a 255-character name and its mark,
// or two of a name and a module name, with their fill characters, and a
// run of fill characters copied whole past where the line ends.
constexpr std::size_t kLineRoom = 2048;

std::string_view mark(SymKind kind) {
  switch (kind) {
    case SymKind::kEqu: return "(e)";
    case SymKind::kBit: return "(b)";
    default: return "";
  }
}

// Writes the lines put together so far.
void flush_lines(Listing& lst) {
  if (lst.lines_used > 0) host::write_fast(lst.lines.data(), lst.lines_used, lst.fp);
  lst.lines_used = lst.line_at = 0;
}

// Where the next field of the line goes; a new line begins when none of it
// is placed yet.
char* field_start(Listing& lst) {
  if (lst.col_cnt == 0) {
    if (lst.lines.size() - lst.lines_used < kLineRoom) {
      flush_lines(lst);
      if (lst.lines.size() < kLinesBlock) lst.lines.resize(kLinesBlock);
    }
    lst.line_at = lst.lines_used;
  }
  return lst.lines.data() + lst.lines_used;
}

void put(char*& p, std::string_view text) {
  copy_name(p, text.data(), text.size());
  p += text.size();
}

// Adds `fill` characters until the line is `column` characters long.
void fill_to(Listing& lst, char*& p, const std::array<char, kFillRun>& fill, std::size_t column) {
  std::size_t length = static_cast<std::size_t>(p - (lst.lines.data() + lst.line_at));
  if (length >= column) return;
  char* end = p + (column - length);
  for (; p < end; p += kFillRun) std::memcpy(p, fill.data(), kFillRun);
  p = end;
}

// Starts the next symbol on the line being built.
char* put_symbol(Listing& lst, const SymTree& tree, const SymNode& node) {
  char* p = field_start(lst);
  put(p, "  ");
  put(p, tree.name(node));
  put(p, mark(node.kind));
  return p;
}

// The line being built holds what is placed up to `p`.
void end_field(Listing& lst, char* p) { lst.lines_used = static_cast<std::size_t>(p - lst.lines.data()); }

// Ends the line being built.
void end_line(Listing& lst, char* p) {
  *p++ = '\n';
  end_field(lst, p);
}

// Places a symbol and its module on a global table line.
void prt_sym2(Listing& lst, const SymNode& node) {
  char* p = put_symbol(lst, lst.sym_tree, node);
  fill_to(lst, p, kDots, lst.col_cnt == 0 ? 20 : 60);
  put(p, " ");
  put(p, lst.sym_tree.module(node));
  fill_to(lst, p, kBlanks, 40);
  if (++lst.col_cnt < 2) return end_field(lst, p);
  lst.col_cnt = 0;
  end_line(lst, p);
  if (++lst.line_cnt >= kPageLength) {
    flush_lines(lst);
    lst_page(lst);
    std::fputs("  symbol_name      module_name           symbol_name      module_name \n\n", lst.fp);
    lst.line_cnt += 4;
  }
}

// Places a symbol on a line of a module's table.
void prt_sym4(Listing& lst, const SymTree& tree, const SymNode& node) {
  char* p = put_symbol(lst, tree, node);
  fill_to(lst, p, kBlanks, 20 * static_cast<std::size_t>(lst.col_cnt + 1));
  if (++lst.col_cnt < 4) return end_field(lst, p);
  lst.col_cnt = 0;
  end_line(lst, p);
  if (++lst.line_cnt >= kPageLength) {
    flush_lines(lst);
    lst_page(lst);
  }
}

// Ends a last line that holds fewer symbols than a full one.
void end_short_line(Listing& lst) { end_line(lst, lst.lines.data() + lst.lines_used); }

}  // namespace

void freel(Listing& lst) {
  lst.trace.line("_run freel\n");
  lst.sym_tree.clear();
}

void end_glob(Listing& lst, SymTree& keep) {
  lst.col_cnt = 0;
  lst.line_cnt += 4;  // the title and the column header
  for (const SymNode& node : lst.sym_tree.in_order()) prt_sym2(lst, node);
  // A last line with one symbol is not counted.
  if (lst.col_cnt != 0) end_short_line(lst);
  flush_lines(lst);
  keep = std::move(lst.sym_tree);
  keep.group_by_module();
  lst.sym_tree = SymTree();
  freel(lst);
}

void end_mod(Listing& lst, const SymTree& tree, std::span<const SymNode> nodes) {
  lst.col_cnt = 0;
  lst.line_cnt += 2;  // the module's title line
  for (const SymNode& node : nodes) prt_sym4(lst, tree, node);
  if (lst.col_cnt != 0) {
    end_short_line(lst);
    ++lst.line_cnt;
  }
  flush_lines(lst);
  std::fputs("\n\n", lst.fp);
  lst.line_cnt += 2;
  if (lst.line_cnt >= kPageLength) lst_page(lst);
  freel(lst);
}
