// The append command.
//
// Every relocatable file of the file list becomes a new module after the
// modules the library already holds; a library that does not exist yet is
// created. Each file is read record by record and copied unchanged into the
// body working file (tmp2), while the records the module table needs are
// collected. A module that defines a global name the table already has is
// refused. Its entry then goes to the table working file (tmp1).
#include <optional>

#include "driver/driver.h"
#include "driver/errors.h"
#include "driver/run_state.h"
#include "format/formats.h"
#include "format/module.h"
#include "format/stdfnc.h"
#include "host/host.h"
#include "intake/def_index.h"
#include "intake/disp_fname.h"
#include "intake/record_trace.h"
#include "intake/rotbl.h"

void disp_fname(RunState& rs, const std::string& name) {
  if (!rs.v) return;
  if (rs.all_files) {
    if (!rs.names_shown) std::fputs("ALL FILES", rs.out);
  } else {
    std::fprintf(rs.out, rs.names_shown ? ",%s" : "%s", host::for_console(name).c_str());
  }
  rs.names_shown = true;
  std::fflush(rs.out);
}

namespace {

void trace(RunState& rs, const char* text) {
  if (rs.trace) std::fputs(text, rs.out);
}

// Indexes the global definitions that the record just read added to the
// entry `e`, which held `before` of them until then.
void index_new_names(DefIndex& defs, const TableEntry& e, int tag, std::size_t before) {
  const SymbolTables& t = e.symbols;
  switch (tag) {
    case fmt::kF0: defs.start_module(e.mod_name); return;
    case fmt::kF5:
      for (std::size_t i = before; i < t.pub_syms.size(); ++i) defs.add(t.name(t.pub_syms[i].name));
      return;
    case fmt::kF6:
      for (std::size_t i = before; i < t.equ_list.size(); ++i) defs.add(t.name(t.equ_list[i].name));
      return;
    case fmt::kFA:
      for (std::size_t i = before; i < t.bit_list.size(); ++i) defs.add(t.name(t.bit_list[i].name));
      return;
    default: return;
  }
}

std::size_t definitions_of(const SymbolTables& t, int tag) {
  switch (tag) {
    case fmt::kF5: return t.pub_syms.size();
    case fmt::kF6: return t.equ_list.size();
    case fmt::kFA: return t.bit_list.size();
    default: return 0;
  }
}

// Copies the old module table to tmp1 as it stands, indexing its global
// definitions, and returns the number of entries. The library stands after
// its header.
int copy_rotbl(RunState& rs, DefIndex& defs) {
  trace(rs, ",copy_rotbl");
  RecIn in(rs.lib_in, rs.lib_name);
  TableEntry& e = rs.rotbl_rec;
  int entries = 0;
  for (; in.peek() != fmt::kEnd; ++entries) {
    int64_t entry_start = in.tell();
    int64_t table_at = rs.table_out.count();
    TeeScope copy(rs.lib_in, rs.table_out);
    free_tables(e.symbols);
    for (int tag = in.get_tag(); tag != fmt::kEnd; tag = in.get_tag()) {
      if (rs.trace) std::fprintf(rs.out, ",parse->0x%x", tag);
      if (tag < 0) in.malformed();
      int64_t at = in.tell() - 1;
      std::size_t before = definitions_of(e.symbols, tag);
      // Externals and descriptors take no part in the check: stepped over.
      bool skipped = tag == fmt::kF3 || tag == fmt::kF7;
      if (!read_entry_record(in, tag, skipped ? nullptr : &e)) in.malformed();
      index_new_names(defs, e, tag, before);
      // The body's size is the last F2 value read, as the entries stand.
      if (tag == fmt::kF8)
        rs.f8_places.push_back(F8Place{table_at + at - entry_start, e.mod_size, e.offset1_f7, e.offset1_f8});
    }
    copy.end();
  }
  in.get_tag();  // the table's end mark, which the new table gets anew
  return entries;
}

// Reads an existing library's header, carries its table over and checks
// its bodies, which the commit copies into the new library as they lie.
void start_existing(RunState& rs, DefIndex& defs) {
  // A read error names the file actually being read.
  rs.cur_file = rs.lib_name;
  LibraryHeader& h = rs.header;
  RecIn in(rs.lib_in, rs.lib_name);
  get_header(in, h);
  if (rs.trace)
    std::fprintf(rs.out, "\nold_ver=%s new_ver=%s\n", h.hdr_format.c_str(), rs.lib_in.last_str().c_str());
  if (h.hdr_format != fmt::kFormat) error_exit(rs, kInvalid, "A0001");
  if (!fmt::same_ignoring_case(h.hdr_cpu, fmt::kCpu)) error_exit(rs, kCpuError);
  defs.reserve(expected_names(h));
  // The header's count says how many bodies follow: an empty module (a body
  // of the single byte FF) is not mistaken for the section's end mark.
  if (copy_rotbl(rs, defs) != h.hdr_modules) error_exit(rs, kInvalid, rs.lib_name);
  RecordTrace copier(rs, RecordTrace::Records::kParse);
  for (int32_t n = 0; n < h.hdr_modules; ++n) {
    trace(rs, ",copy_romod\n");
    int64_t at = rs.lib_in.position();
    rs.bodies.push_back(BodyRef{BodyRef::From::kLibrary, at, copy_romod(rs.lib_in, nullptr, traced(rs, copier)), ""});
  }
}

void start_new(RunState& rs) {
  rs.header = LibraryHeader{fmt::kVersion, "", fmt::kCpu, 0, 0};
}

void parse_apdf0(RunState& rs, RecIn& in) {
  std::string_view format = in.get_str();
  std::string& hdr_format = rs.header.hdr_format;
  if (rs.create && hdr_format.empty()) hdr_format = format;
  if (rs.trace) std::fprintf(rs.out, "\nold_ver=%s new_ver=%s\n", hdr_format.c_str(), std::string(format).c_str());
  if (format != fmt::kFormat) error_exit(rs, kInvalid, "A0002");
}

void trace_handler(RunState& rs, int tag) {
  if (!rs.trace || tag == fmt::kE6) return;
  std::fprintf(rs.out, ",parse_apd%c%x", tag >= fmt::kF0 ? 'f' : 'e', tag & 0x0F);
}

// Reads one module file, collecting into `scan` what its entry needs, and
// copies it into tmp2 when it is `staged`; returns its body size.
int64_t read_module(RunState& rs, ModuleScan& scan, bool staged) {
  RecIn in(rs.obj_in, rs.obj_path);
  RomodFaults faults{rs.obj_path, rs.obj_path};
  RecordTrace handlers(rs, RecordTrace::Records::kNone, true);
  free_tables(scan.symbols);
  scan.offset1_f7 = scan.offset1_f8 = 0;
  ModuleWalker walker(in, faults, &scan, traced(rs, handlers));
  std::optional<TeeScope> copy;
  if (staged) copy.emplace(rs.obj_in, rs.body_out);
  for (int tag = in.get_tag(); tag != fmt::kEnd; tag = in.get_tag()) {
    if (!is_record_tag(tag)) in.malformed();
    trace_handler(rs, tag);
    if (tag == fmt::kF0)
      parse_apdf0(rs, in);
    else
      walker.record(tag);
  }
  if (copy) copy->end();
  return in.tell();
}

// Where the commit finds the body of the file just opened: a traced run
// stages it in tmp2, where it stays should the run fail; any other run
// leaves it in its file, to be copied from there into the new library,
// which spares writing and reading it once more. The file's stamp, taken
// before it is read, tells then whether it is still the file that was read.
BodyRef place_body(RunState& rs) {
  BodyRef body{BodyRef::From::kFile, 0, 0, rs.obj_path};
  bool stamped = host::stream_stamp(rs.obj_fp, body.stamp);
  if (stamped) rs.obj_in.expect_size(body.stamp.size);
  if (rs.trace || !stamped) {
    body.from = BodyRef::From::kStaged;
    body.at = rs.body_out.count();
  }
  return body;
}

void append_file(RunState& rs, DefIndex& defs, ModuleScan& scan, const std::string& file) {
  free_tables(rs.rotbl_rec.symbols);
  rs.obj_path = file;
  rs.cur_file = file;
  rs.obj_fp = host::open_read(rs.obj_path);
  if (rs.obj_fp == nullptr) error_exit(rs, kCantOpen, rs.obj_path);
  rs.obj_in.attach(rs.obj_fp, rs.obj_path, &g_break_requested);
  disp_fname(rs, rs.obj_path);
  BodyRef body = place_body(rs);
  bool staged = body.from == BodyRef::From::kStaged;
  // The new bodies together must stay within the offsets a library holds.
  rs.body_out.limit(fmt::kMaxOffset - rs.file_bytes, rs.obj_path);
  body.size = read_module(rs, scan, staged);
  if (!staged) {
    if (body.size > fmt::kMaxOffset - rs.file_bytes - rs.body_out.count()) error_exit(rs, kInvalid, rs.obj_path);
    rs.file_bytes += body.size;
  }
  int64_t size = body.size;
  rs.bodies.push_back(std::move(body));
  make_rotbl(rs, scan, size);
  // A new library's index is made once, as large as the file list and the
  // first module suggest, rather than grown step by step.
  if (rs.create && rs.header.hdr_modules == 1) defs.reserve(expected_names(rs.ftree.size(), rs.rotbl_rec.symbols));
  put_checked_rotbl(rs, defs);
  rs.obj_in.detach();
  close_stream(rs.obj_fp);
}

}  // namespace

void parse_apd(RunState& rs) {
  rs.cur_file = "TMP_FILE";
  if (rs.v) std::fputs("APPEND FILE = ", rs.out);
  DefIndex defs;
  if (rs.create)
    start_new(rs);
  else
    start_existing(rs, defs);
  ModuleScan scan;
  for (const FtreeNode& node : rs.ftree) append_file(rs, defs, scan, node.name);
}
