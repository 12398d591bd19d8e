#include "intake/symbols.h"

#include "format/formats.h"
#include "format/stdfnc.h"

namespace {

void trace_count(RunState& rs, const char* format, int count) {
  if (!rs.trace) return;
  move_cursor(rs, 1, 24);
  std::fprintf(rs.out, format, count);
}

// Reads and copies one name; false for the empty name that ends a list.
bool name(RecIn& in, RecOut& out) { return copy_str(in, out); }

}  // namespace

void get_repf3(RunState& rs, RecIn& in, RecOut& out) {
  F3Entry e;
  e.number = copy_word(in, out);
  name(in, out);
  e.name = rs.str_buf;
  e.byte1 = copy_byte(in, out);
  e.byte2 = copy_byte(in, out);
  e.value = copy_tri(in, out);
  e.long_value = copy_long(in, out);
  rs.tables.f3_list.push_back(std::move(e));
}

void get_repf4(RunState& rs, RecIn& in, RecOut& out) {
  PubBlock& block = rs.tables.pub_list.emplace_back(PubBlock{copy_word(in, out), {}});
  for (;;) {
    int32_t value = copy_tri(in, out);
    if (!name(in, out)) return;
    block.syms.push_back(PubSym{value, rs.str_buf});
    trace_count(rs, "_public synbol count = %d", rs.tables.pub_count());
  }
}

void get_repf5(RunState& rs, RecIn& in, RecOut& out) {
  for (;;) {
    int32_t value = copy_long(in, out);
    if (!name(in, out)) return;
    rs.tables.equ_list.push_back(EquSym{value, rs.str_buf});
    trace_count(rs, "_public equ count = %d", rs.tables.equ_count());
  }
}

void get_repf6(RunState& rs, RecIn& in, RecOut& out) {
  while (name(in, out)) {
    rs.tables.ext_list.push_back(rs.str_buf);
    trace_count(rs, "_extern synbol count = %d", rs.tables.ext_count());
  }
}

void get_repfa(RunState& rs, RecIn& in, RecOut& out) {
  for (;;) {
    int number = copy_word(in, out);
    int32_t value = copy_tri(in, out);
    if (!name(in, out)) return;
    rs.tables.bit_list.push_back(BitSym{number, value, rs.str_buf});
    trace_count(rs, "_public bit count = %d", rs.tables.bit_count());
  }
}

namespace {

// Steps over entries of `fixed` bytes and a name through the empty name.
void skip_named_list(RecIn& in, int fixed) {
  do in.skip(fixed);
  while (!in.get_str().empty());
}

}  // namespace

void skip_f3(RecIn& in) {
  in.skip(2);
  in.get_str();
  in.skip(9);
}

void skip_f5(RecIn& in) {
  in.skip(2);
  skip_named_list(in, 3);
}

void skip_f6(RecIn& in) { skip_named_list(in, 4); }

void skip_f7(RecIn& in) {
  while (!in.get_str().empty()) {
  }
}

void skip_fa(RecIn& in) { skip_named_list(in, 5); }

int pub_redef(RunState& rs) {
  if (rs.trace) std::fputs("\npub_redef\n", rs.out);
  DefIndex::Clash clash;
  if (!rs.defs.find_clash(rs.tables, clash)) return 0;
  rs.str_buf = clash.name;
  rs.redef_module = clash.module;
  return -1;
}
