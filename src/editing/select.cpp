#include "editing/select.h"

#include "driver/errors.h"
#include "format/formats.h"
#include "format/stdfnc.h"
#include "host/host.h"
#include "intake/rotbl.h"
#include "intake/symbols.h"

namespace {

void trace(RunState& rs, const char* text) {
  if (rs.trace) std::fputs(text, rs.out);
}

// The records every entry has once, read into `rotbl_rec`; false for the
// other tags.
bool read_fixed_record(RecIn& in, RotblRec& r, int tag) {
  switch (tag) {
    case fmt::kF0: r.mod_name = in.get_str(); return true;
    case fmt::kF1:
      r.entry_len = in.get_long();
      r.tail_len = in.get_long();
      return true;
    case fmt::kF2: r.mod_size = in.get_long(); return true;
    case fmt::kF4:
      for (int32_t& v : r.f4) v = in.get_long();
      return true;
    case fmt::kF8:
      r.mod_offset = in.get_long();
      r.offset1_f7 = in.get_long();
      r.abs_f7 = in.get_long();
      r.offset1_f8 = in.get_long();
      r.abs_f8 = in.get_long();
      return true;
    case fmt::kF9:
      for (int& v : r.mod_time) v = in.get_word();
      return true;
    default: return false;
  }
}

}  // namespace

int get_modname(RunState& rs) {
  trace(rs, ",get_modname\n");
  RecIn in(rs, rs.lib_fp, "R0004");
  int tag = in.get_tag();
  if (tag == fmt::kEnd) return 0;
  free_tables(rs.tables);
  RotblRec& r = rs.rotbl_rec;
  for (; tag != fmt::kEnd; tag = in.get_tag()) {
    if (rs.trace) std::fprintf(rs.out, "%02X-", tag);
    if (!read_fixed_record(in, r, tag)) in.malformed();
    // Over the symbol records, which stand between F4 and F8.
    if (tag == fmt::kF4) in.skip(static_cast<int64_t>(r.entry_len) - fmt::kEntryFixed);
  }
  return 1;
}

int get_rotbl(RunState& rs) {
  trace(rs, ",get_rotbl\n");
  RecIn in(rs, rs.lib_fp, "R0003");
  RecOut sink(rs, nullptr);
  int tag = in.get_tag();
  if (tag == fmt::kEnd) return 0;
  free_tables(rs.tables);
  RotblRec& r = rs.rotbl_rec;
  for (; tag != fmt::kEnd; tag = in.get_tag()) {
    switch (tag) {
      case fmt::kF3: trace(rs, ",get_repf3\n"); get_repf3(rs, in, sink); break;
      case fmt::kF5: trace(rs, ",get_repf4\n"); get_repf4(rs, in, sink); break;
      case fmt::kF6: trace(rs, ",get_repf5\n"); get_repf5(rs, in, sink); break;
      case fmt::kF7: trace(rs, ",get_repf6\n"); get_repf6(rs, in, sink); break;
      case fmt::kFA: trace(rs, ",get_repfa\n"); get_repfa(rs, in, sink); break;
      default:
        if (!read_fixed_record(in, r, tag)) in.malformed();
    }
  }
  return 1;
}

int fname_search(const RunState& rs) {
  if (rs.trace) std::fputs(",fname_search\n", rs.out);
  for (std::size_t i = 0; i < rs.ftree.size(); ++i) {
    const std::string& name = rs.ftree[i].name;
    std::size_t base = host::base_start(name);
    if (fmt::same_ignoring_case(rs.rotbl_rec.mod_name, std::string_view(name).substr(base)))
      return static_cast<int>(i);
  }
  return -1;
}

void select_modules(RunState& rs) {
  while (get_modname(rs) != 0) {
    int i = fname_search(rs);
    if (i < 0) continue;
    // A second module matching the same name: the name is ambiguous.
    if (rs.ftree[i].matched) error_exit(rs, kNotInLibrary);
    rs.ftree[i].matched = true;
  }
  for (const FtreeNode& node : rs.ftree)
    if (!node.matched) error_exit(rs, kNotInLibrary, node.name);
}

void selection_pass(RunState& rs, const char* heading) {
  select_modules(rs);
  RecIn(rs, rs.lib_fp, rs.lib_name).seek_start();
  if (rs.v) std::fputs(heading, rs.out);
  rs.names_shown = false;
  rs.cur_file = rs.lib_name;
  get_header(rs);
}

void check_cpu(RunState& rs) {
  if (!fmt::same_ignoring_case(rs.hdr_cpu, fmt::kCpu)) error_exit(rs, kCpuError);
}

void start_selection(RunState& rs, const char* heading, const char* format_detail) {
  rs.cur_file = rs.lib_name;
  get_header(rs);
  if (format_detail != nullptr) {
    if (rs.trace)
      std::fprintf(rs.out, "\nold_ver=%s new_ver=%s\n", rs.hdr_format.c_str(), rs.str_buf.c_str());
    if (rs.hdr_format != fmt::kFormat) error_exit(rs, kInvalid, format_detail);
  }
  check_cpu(rs);
  selection_pass(rs, heading);
}

void copy_body(RunState& rs, std::FILE* in, RecOut& out, int32_t expected, const std::string& bad) {
  int64_t start = out.count();
  copy_romod(rs, in, out);
  if (out.count() - start != expected) error_exit(rs, kInvalid, bad);
}
