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

std::FILE* reopen(RunState& rs, const std::string& name, std::vector<char>& buffer) {
  std::FILE* fp = host::open_read(name, &buffer);
  if (fp == nullptr) error_exit(rs, kCantOpen, "TMP_FILE");
  return fp;
}

void write_library(RunState& rs) {
  int64_t table_size = 0;
  if (!host::file_size(rs.tmp1, table_size)) error_exit(rs, kSeekError, "TMP_FILE");
  int64_t header_size = fmt::kHeaderFixed + static_cast<int64_t>(rs.hdr_version.size() +
                                                                  rs.hdr_format.size() + rs.hdr_cpu.size());
  rs.tmp3_fp = host::create_work_file(rs.tmp3, &rs.tmp3_buf);
  if (rs.tmp3_fp == nullptr) error_exit(rs, kCantOpen, "TMP_FILE");
  rs.tmp1_fp = reopen(rs, rs.tmp1, rs.tmp1_buf);
  rs.tmp2_fp = reopen(rs, rs.tmp2, rs.tmp2_buf);

  RecOut out(rs, rs.tmp3_fp);
  if (rs.trace) std::fputs(",put header", rs.out);
  put_header(rs, out);
  get_offset(rs, out, header_size, table_size);
  out.put_byte(fmt::kEnd);
  close_stream(rs.tmp1_fp);

  int64_t body_size = 0;
  if (!host::file_size(rs.tmp2, body_size)) error_exit(rs, kSeekError, "TMP_FILE");
  RecIn bodies(rs, rs.tmp2_fp, "TMP_FILE");
  bodies.copy_bytes(body_size, out);
  out.put_byte(fmt::kEnd);
  close_stream(rs.tmp2_fp);
  if (!host::sync_close(rs.tmp3_fp)) error_exit(rs, kCloseFailed);
}

// The library's own extension, or ".LIB".
std::string lib_ext(const std::string& lib_name) {
  std::size_t dot = lib_name.rfind('.');
  return dot == std::string::npos ? ".LIB" : lib_name.substr(dot);
}

void put_in_place(RunState& rs) {
  std::string stem = rs.tmp3.substr(0, rs.tmp3.rfind('.'));
  std::string final_name = stem + lib_ext(rs.lib_name);
  std::string backup = stem + ".BAK";
  if (!host::install_library(rs.tmp3, final_name, backup)) error_exit(rs, kCantOpen, final_name);
  host::remove_file(rs.tmp1);
  host::remove_file(rs.tmp2);
  if (is_cmd(rs.cmd_code, 'd') && rs.hdr_modules == 0) host::remove_file(final_name);
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
