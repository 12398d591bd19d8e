// The append command.
//
// Every relocatable file of the file list becomes a new module after the
// modules the library already holds; a library that does not exist yet is
// created. Each file is read record by record and copied unchanged into the
// body working file (tmp2), while the records the module table needs are
// collected. A module that defines a global name the table already has is
// refused. Its entry then goes to the table working file (tmp1).
#include "driver/driver.h"
#include "driver/errors.h"
#include "driver/run_state.h"
#include "format/formats.h"
#include "format/stdfnc.h"
#include "host/host.h"
#include "intake/disp_fname.h"
#include "intake/rotbl.h"
#include "intake/symbols.h"

void disp_fname(RunState& rs) {
  if (!rs.v) return;
  if (rs.all_files) {
    if (!rs.names_shown) std::fputs("ALL FILES", rs.out);
  } else {
    std::fprintf(rs.out, rs.names_shown ? ",%s" : "%s", rs.obj_path.c_str());
  }
  rs.names_shown = true;
  std::fflush(rs.out);
}

namespace {

void trace(RunState& rs, const char* text) {
  if (rs.trace) std::fputs(text, rs.out);
}

// Copies the old module table to tmp1, indexing its global definitions, and
// returns the number of entries. The stream stands after the header.
int copy_rotbl(RunState& rs) {
  trace(rs, ",copy_rotbl");
  RecIn in(rs, rs.lib_fp, rs.lib_name);
  RecOut out(rs, rs.tmp1_fp);
  int entries = 0;
  for (int tag = in.get_tag(); tag != fmt::kEnd; tag = in.get_tag(), ++entries) {
    for (; tag != fmt::kEnd; tag = in.get_tag()) {
      if (rs.trace) std::fprintf(rs.out, ",parse->0x%x", tag);
      if (tag < 0) in.malformed();
      out.put_byte(tag);
      if (!copy_table_record(in, out, tag, &rs.defs)) in.malformed();
    }
    out.put_byte(fmt::kEnd);
  }
  return entries;
}

// Reads an existing library's header and carries its table and bodies over.
void start_existing(RunState& rs, RecOut& bodies) {
  // A read error names the file actually being read.
  rs.cur_file = rs.lib_name;
  get_header(rs);
  if (rs.trace)
    std::fprintf(rs.out, "\nold_ver=%s new_ver=%s\n", rs.hdr_format.c_str(), rs.str_buf.c_str());
  if (rs.hdr_format != fmt::kFormat) error_exit(rs, kInvalid, "A0001");
  if (!fmt::same_ignoring_case(rs.hdr_cpu, fmt::kCpu)) error_exit(rs, kCpuError);
  // The header's count says how many bodies follow: an empty module (a body
  // of the single byte FF) is not mistaken for the section's end mark.
  if (copy_rotbl(rs) != rs.hdr_modules) error_exit(rs, kInvalid, rs.lib_name);
  bodies.limit(fmt::kMaxOffset, rs.lib_name);
  for (int32_t n = 0; n < rs.hdr_modules; ++n) {
    int64_t start = bodies.count();
    copy_romod(rs, rs.lib_fp, bodies);
    rs.bodies.push_back(BodyRef{bodies.count() - start, ""});
  }
}

void start_new(RunState& rs) {
  rs.hdr_version = fmt::kVersion;
  rs.hdr_format.clear();
  rs.hdr_cpu = fmt::kCpu;
  rs.hdr_modules = 0;
  rs.hdr_symbols = 0;
}

// The record handlers of one module file; each is called after its tag was
// read and copied.
struct ModuleReader {
  RunState& rs;
  RecIn in;
  RecOut& out;
  RomodFaults faults;

  void parse_apdf0() {
    copy_str(in, out);
    if (rs.create && rs.hdr_format.empty()) rs.hdr_format = rs.str_buf;
    if (rs.trace)
      std::fprintf(rs.out, "\nold_ver=%s new_ver=%s\n", rs.hdr_format.c_str(), rs.str_buf.c_str());
    if (rs.str_buf != fmt::kFormat) error_exit(rs, kInvalid, "A0002");
  }

  // Remembers where the module's first record of a kind starts (0 = none yet).
  void first_position(int32_t& offset, const char* format) {
    if (offset != 0) return;
    int64_t pos = in.tell();
    if (pos < 0) error_exit(rs, kSeekError, rs.obj_path);
    offset = static_cast<int32_t>(pos - 1);
    if (rs.trace) std::fprintf(rs.out, format, static_cast<long>(offset));
  }

  void handle(int tag) {
    switch (tag) {
      case fmt::kF0: parse_apdf0(); return;
      case fmt::kF3: get_repf3(rs, in, out); return;
      case fmt::kF4: get_repf4(rs, in, out); return;
      case fmt::kF5: get_repf5(rs, in, out); return;
      case fmt::kF6: get_repf6(rs, in, out); return;
      case fmt::kE0: get_repfa(rs, in, out); return;
      case fmt::kF7: first_position(rs.rotbl_rec.offset1_f7, "\noffset1_f7=%ld\n"); break;
      case fmt::kF8: first_position(rs.rotbl_rec.offset1_f8, "\noffset1_f8=%ld"); break;
      default: break;
    }
    if (!copy_record(rs, in, out, tag, faults)) in.malformed();
  }
};

void trace_handler(RunState& rs, int tag) {
  if (!rs.trace || tag == fmt::kE6) return;
  std::fprintf(rs.out, ",parse_apd%c%x", tag >= fmt::kF0 ? 'f' : 'e', tag & 0x0F);
}

bool is_record_tag(int tag) {
  return (tag >= fmt::kE0 && tag <= fmt::kE6) || (tag >= fmt::kF0 && tag <= fmt::kFA);
}

// Reads one module file into tmp2 and the tables; returns its body size.
int64_t read_module(RunState& rs, RecOut& bodies) {
  int64_t start = bodies.count();
  ModuleReader reader{rs, RecIn(rs, rs.obj_fp, rs.obj_path), bodies, {rs.obj_path, rs.obj_path}};
  for (int tag = reader.in.get_tag(); tag != fmt::kEnd; tag = reader.in.get_tag()) {
    if (!is_record_tag(tag)) reader.in.malformed();
    bodies.put_byte(tag);
    trace_handler(rs, tag);
    reader.handle(tag);
  }
  bodies.put_byte(fmt::kEnd);
  return bodies.count() - start;
}

void append_file(RunState& rs, RecOut& bodies, const std::string& file) {
  free_tables(rs.tables);
  rs.obj_path = file;
  rs.cur_file = file;
  rs.obj_fp = host::open_read(rs.obj_path, &rs.obj_buf);
  if (rs.obj_fp == nullptr) error_exit(rs, kCantOpen, rs.obj_path);
  rs.rotbl_rec.offset1_f7 = 0;
  rs.rotbl_rec.offset1_f8 = 0;
  disp_fname(rs);
  bodies.limit(fmt::kMaxOffset, rs.obj_path);
  int64_t size = read_module(rs, bodies);
  rs.bodies.push_back(BodyRef{size, rs.obj_path});
  make_rotbl(rs, size);
  put_checked_rotbl(rs);
  close_stream(rs.obj_fp);
}

}  // namespace

void parse_apd(RunState& rs) {
  rs.cur_file = "TMP_FILE";
  if (rs.v) std::fputs("APPEND FILE = ", rs.out);
  RecOut bodies(rs, rs.tmp2_fp);
  if (rs.create)
    start_new(rs);
  else
    start_existing(rs, bodies);
  for (const FtreeNode& node : rs.ftree) append_file(rs, bodies, node.name);
}
