#include "editing/select.h"

#include "driver/errors.h"
#include "format/formats.h"
#include "format/library.h"
#include "format/module.h"
#include "format/stdfnc.h"
#include "host/host.h"
#include "intake/record_trace.h"

namespace {

void trace(RunState& rs, const char* text) {
  if (rs.trace) std::fputs(text, rs.out);
}

}  // namespace

int get_modname(RunState& rs) {
  trace(rs, ",get_modname\n");
  RecIn in(rs.lib_in, "R0004");
  RecordTrace tags(rs, RecordTrace::Records::kTags);
  return get_rotbl(in, rs.rotbl_rec, EntryPart::kFixed, traced(rs, tags));
}

int get_rotbl(RunState& rs) {
  trace(rs, ",get_rotbl\n");
  RecIn in(rs.lib_in, "R0003");
  RecordTrace readers(rs, RecordTrace::Records::kReaders);
  return get_rotbl(in, rs.rotbl_rec, EntryPart::kWhole, traced(rs, readers));
}

int fname_search(const RunState& rs) {
  if (rs.trace) std::fputs(",fname_search\n", rs.out);
  // Compared as names of the program, not as stored: in a code page of two
  // bytes a character's second byte may look like an ASCII letter, and
  // would match a character it is not.
  const std::string module = host::module_file_name(rs.rotbl_rec.mod_name);
  for (std::size_t i = 0; i < rs.ftree.size(); ++i)
    if (fmt::same_ignoring_case(module, rs.ftree[i].base)) return static_cast<int>(i);
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

void check_cpu(RunState& rs) {
  if (!fmt::same_ignoring_case(rs.header.hdr_cpu, fmt::kCpu)) error_exit(rs, kCpuError);
}

void start_selection(RunState& rs, const char* heading, const char* format_detail) {
  rs.cur_file = rs.lib_name;
  RecIn in(rs.lib_in, rs.lib_name);
  get_header(in, rs.header);
  if (format_detail != nullptr) {
    if (rs.trace)
      std::fprintf(rs.out, "\nold_ver=%s new_ver=%s\n", rs.header.hdr_format.c_str(), rs.lib_in.last_str().c_str());
    if (rs.header.hdr_format != fmt::kFormat) error_exit(rs, kInvalid, format_detail);
  }
  check_cpu(rs);
  select_modules(rs);
  rs.lib_in.seek(0);
  if (rs.v) std::fputs(heading, rs.out);
  rs.names_shown = false;
  rs.cur_file = rs.lib_name;
  get_header(in, rs.header);
}

void copy_body(RunState& rs, InputFile& in, RecOut* out, int32_t expected, const std::string& bad) {
  trace(rs, ",copy_romod\n");
  RecordTrace copier(rs, RecordTrace::Records::kParse);
  if (copy_romod(in, out, traced(rs, copier)) != expected) error_exit(rs, kInvalid, bad);
}
