// Printing the symbol tables of the listing.
//
// A global table line holds two symbols, each followed by its module: the
// first symbol is filled with dots to column 20 and the whole first column
// with blanks to column 40, the second symbol with dots to column 60. A
// module's own table holds four symbols per line in fields of 20 columns.
// Columns count from 0; a field that is already full gets nothing, so long
// names push the rest of the line to the right and nothing is ever cut.
#include "driver/run_state.h"
#include "listing/layout.h"

namespace {

const char* mark(SymKind kind) {
  switch (kind) {
    case SymKind::kEqu: return "(e)";
    case SymKind::kBit: return "(b)";
    default: return "";
  }
}

// Starts the next symbol on the line being built.
void put_symbol(Listing& lst, const SymNode& node) {
  if (lst.col_cnt == 0) lst.line_buf.clear();
  lst.line_buf += "  ";
  lst.line_buf += lst.sym_tree.name(node);
  lst.line_buf += mark(node.kind);
}

void write_line(Listing& lst) {
  std::fwrite(lst.line_buf.data(), 1, lst.line_buf.size(), lst.fp);
  std::fputc('\n', lst.fp);
}

// Places a symbol and its module on a global table line.
void prt_sym2(Listing& lst, const SymNode& node) {
  put_symbol(lst, node);
  fill_to(lst.line_buf, '.', lst.col_cnt == 0 ? 20 : 60);
  lst.line_buf += ' ';
  lst.line_buf += lst.sym_tree.module(node);
  fill_to(lst.line_buf, ' ', 40);
  if (++lst.col_cnt < 2) return;
  lst.col_cnt = 0;
  write_line(lst);
  if (++lst.line_cnt >= kPageLength) {
    lst_page(lst);
    std::fputs("  symbol_name      module_name           symbol_name      module_name \n\n", lst.fp);
    lst.line_cnt += 4;
  }
}

// Places a symbol on a line of a module's table.
void prt_sym4(Listing& lst, const SymNode& node) {
  put_symbol(lst, node);
  fill_to(lst.line_buf, ' ', 20 * static_cast<std::size_t>(lst.col_cnt + 1));
  if (++lst.col_cnt < 4) return;
  lst.col_cnt = 0;
  write_line(lst);
  if (++lst.line_cnt >= kPageLength) lst_page(lst);
}

}  // namespace

void freel(Listing& lst) {
  if (lst.rs.trace) std::fputs("_run freel\n", lst.rs.out);
  lst.sym_tree.clear();
}

void end_glob(Listing& lst) {
  lst.col_cnt = 0;
  lst.line_cnt += 4;  // the title and the column header
  for (const SymNode& node : lst.sym_tree.in_order()) prt_sym2(lst, node);
  // A last line with one symbol is not counted.
  if (lst.col_cnt != 0) write_line(lst);
  freel(lst);
}

void end_mod(Listing& lst) {
  lst.col_cnt = 0;
  lst.line_cnt += 2;  // the module's title line
  for (const SymNode& node : lst.sym_tree.in_order()) prt_sym4(lst, node);
  if (lst.col_cnt != 0) {
    write_line(lst);
    ++lst.line_cnt;
  }
  std::fputs("\n\n", lst.fp);
  lst.line_cnt += 2;
  if (lst.line_cnt >= kPageLength) lst_page(lst);
  freel(lst);
}
