// The library commit.
//
// The editing commands leave the new module table in tmp1 and the new
// bodies in tmp2. The commit writes the new library into tmp3: the header,
// the entries with each body's absolute offset filled in (only now known),
// the table's end mark, the bodies and the final end mark. The file is synced
// and then put in the place of the old library, which becomes the backup.
#include "driver/driver.h"
#include "driver/errors.h"
#include "driver/run_state.h"
#include "format/formats.h"
#include "format/stdfnc.h"
#include "host/host.h"
#include "intake/rotbl.h"

namespace {

void put_header(RunState& rs, RecOut& out) {
  out.put_byte(fmt::kF0);
  out.put_str(rs.hdr_version);
  out.put_byte(fmt::kF1);
  out.put_str(rs.hdr_format);
  out.put_byte(fmt::kF2);
  out.put_str(rs.hdr_cpu);
  out.put_byte(fmt::kF3);
  out.put_long(rs.hdr_modules);
  out.put_byte(fmt::kF4);
  out.put_long(rs.hdr_symbols);
  out.put_byte(fmt::kEnd);
}

int32_t relocated(int64_t base, int32_t offset) {
  return offset == 0 ? 0 : static_cast<int32_t>(base + offset);
}

// Copies the entries of tmp1 into the new library; each F8 record gets the
// absolute offset of its body (after the header of `header_size` bytes, the
// table of `table_size` bytes, its end mark and the earlier bodies).
void get_offset(RunState& rs, RecOut& out, int64_t header_size, int64_t table_size) {
  if (rs.trace) std::fputs(",get_offset", rs.out);
  rs.cur_file = "TMP_FILE";
  RecIn in(rs, rs.tmp1_fp, "F0001");
  int64_t body_offset = 0;
  int32_t last_size = 0;
  for (int tag = in.get_tag(); tag >= 0; tag = in.get_tag()) {
    out.put_byte(tag);
    if (tag == fmt::kF2) {
      last_size = in.get_long();
      out.put_long(last_size);
    } else if (tag == fmt::kF8) {
      int64_t base = header_size + table_size + 1 + body_offset;
      in.get_long();
      out.put_long(static_cast<int32_t>(base));
      int32_t r7 = in.get_long();
      out.put_long(r7);
      in.get_long();
      out.put_long(relocated(base, r7));
      int32_t r8 = in.get_long();
      out.put_long(r8);
      in.get_long();
      out.put_long(relocated(base, r8));
      body_offset += static_cast<uint32_t>(last_size);
    } else if (!copy_table_record(in, out, tag, nullptr)) {
      in.malformed();
    }
  }
}

// Every body must end within the offsets a library can hold. The
// relocatable file that does not fit is named: the first whose body would
// end past the limit, else the last one before the first body that would
// (it pushed the bodies after it past).
void check_offsets(RunState& rs, int64_t first_body) {
  int64_t end = first_body;
  const std::string* pusher = nullptr;
  bool passed = false;
  for (const BodyRef& body : rs.bodies) {
    end += body.size;
    passed = passed || end > fmt::kMaxOffset;
    if (body.source.empty()) continue;
    if (passed) error_exit(rs, kInvalid, body.source);
    pusher = &body.source;
  }
  if (passed) error_exit(rs, kInvalid, pusher != nullptr ? *pusher : rs.lib_name);
}

// Back to the start of a working file that the command has written.
void rewind_work_file(RunState& rs, std::FILE* fp) {
  if (!host::seek(fp, 0, SEEK_SET)) error_exit(rs, kSeekError, "TMP_FILE");
}

void write_library(RunState& rs) {
  int64_t table_size = 0;
  if (!host::stream_size(rs.tmp1_fp, table_size)) error_exit(rs, kSeekError, "TMP_FILE");
  int64_t header_size = fmt::kHeaderFixed + static_cast<int64_t>(rs.hdr_version.size() +
                                                                  rs.hdr_format.size() + rs.hdr_cpu.size());
  check_offsets(rs, header_size + table_size + 1);
  if (rs.tmp3_fp == nullptr && !take_work_file(rs, rs.tmp3, rs.tmp3_buf, rs.tmp3_fp))
    error_exit(rs, kCantOpen, "TMP_FILE");
  rs.tmp3_made = true;
  rewind_work_file(rs, rs.tmp1_fp);

  RecOut out(rs, rs.tmp3_fp);
  if (rs.trace) std::fputs(",put header", rs.out);
  put_header(rs, out);
  get_offset(rs, out, header_size, table_size);
  out.put_byte(fmt::kEnd);

  int64_t body_size = 0;
  if (!host::stream_size(rs.tmp2_fp, body_size)) error_exit(rs, kSeekError, "TMP_FILE");
  rewind_work_file(rs, rs.tmp2_fp);
  RecIn bodies(rs, rs.tmp2_fp, "TMP_FILE");
  bodies.copy_bytes(body_size, out);
  out.put_byte(fmt::kEnd);
  if (!host::sync_stream(rs.tmp3_fp)) error_exit(rs, kCloseFailed);
}

void put_in_place(RunState& rs) {
  if (is_cmd(rs.cmd_code, 'd') && rs.hdr_modules == 0) {
    // No module is left: the library becomes its backup.
    if (!host::retire_library(rs.lib_file, rs.bak_name)) error_exit(rs, kCantOpen, rs.lib_file);
    host::drop_work_file(rs.tmp3, rs.tmp3_fp, true);
  } else {
    if (!host::install_library(rs.tmp3_fp, rs.tmp3, rs.lib_file, rs.bak_name))
      error_exit(rs, kCantOpen, rs.lib_file);
    // The working file has become the new library: let go of it, and
    // nothing is left to remove should the run still fail.
    host::drop_work_file(rs.tmp3, rs.tmp3_fp, false);
  }
  rs.tmp3.clear();
  // The table and the bodies are in the new library; a working file that
  // cannot be removed now stays behind harmlessly.
  host::drop_work_file(rs.tmp1, rs.tmp1_fp, true);
  host::drop_work_file(rs.tmp2, rs.tmp2_fp, true);
}

}  // namespace

void commit_library(RunState& rs) {
  if (!is_cmd(rs.cmd_code, 'l') && !is_cmd(rs.cmd_code, 'x')) {
    write_library(rs);
    poll_break(rs);
    put_in_place(rs);
  }
  if (rs.v) std::fputs("\n", rs.out);
  std::fprintf(rs.out, "%s %06ld", "MODULE COUNT        ", static_cast<long>(rs.hdr_modules));
  std::fprintf(rs.out, "\n%s %06ld\n", "GLOBAL SYMBOL COUNT ", static_cast<long>(rs.hdr_symbols));
}
