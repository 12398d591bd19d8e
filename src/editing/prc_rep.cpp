// The replace command: new versions of modules from relocatable files, in
// the place of the modules of the same names. A replaced module keeps its
// place and its stored name; its body, size, symbols, first-record positions
// and time come from the file. With the update check a module is replaced
// only when its file is strictly newer than the stored time.
//
// Every entry, replaced or not, is checked again for global names that an
// earlier entry defines.
#include "driver/driver.h"
#include "driver/errors.h"
#include "driver/run_state.h"
#include "editing/select.h"
#include "format/formats.h"
#include "format/stdfnc.h"
#include "host/host.h"
#include "intake/disp_fname.h"
#include "intake/rotbl.h"
#include "intake/symbols.h"

namespace {

void trace(RunState& rs, const char* text) {
  if (rs.trace) std::fputs(text, rs.out);
}

// Opens the file of list entry i; `obj_path` is its base name.
void _fopen_rep(RunState& rs, int i) {
  trace(rs, ",_fopen_rep\n");
  rs.open_path = rs.ftree[i].name;
  rs.obj_path = host::base_name(rs.open_path);
  rs.obj_fp = host::open_read(rs.open_path);
  if (rs.obj_fp == nullptr) error_exit(rs, kCantOpen, rs.open_path);
}

// The file must start with an F0 record of our relocatable format.
void _coption_rep(RunState& rs) {
  trace(rs, ",_coption_rep\n");
  RecIn in(rs, rs.obj_fp, rs.obj_path);
  if (in.get_tag() != fmt::kF0) error_exit(rs, kInvalid, rs.obj_path);
  const std::string& format = in.get_str();
  if (rs.trace)
    std::fprintf(rs.out, "\nold_ver=%s new_ver=%s\n", rs.hdr_format.c_str(), format.c_str());
  if (format != fmt::kFormat) error_exit(rs, kInvalid, "R0002");
}

// 1 when the file is later than the stored time, compared from the years
// down to the seconds.
int _timcmp(RunState& rs, const ModTime& t) {
  trace(rs, ",_timcmp\n");
  const ModTime& stored = rs.rotbl_rec.mod_time;
  for (int k = 5; k >= 0; --k)
    if (stored[k] != t[k]) return stored[k] < t[k] ? 1 : 0;
  return 0;
}

int _uopen_rep(RunState& rs) {
  trace(rs, ",_uopen_rep\n");
  if (!rs.u) return 1;
  ModTime t;
  get_ftime(rs.open_path, t);
  return _timcmp(rs, t);
}

// Collects the file's symbols, descriptors and first F7/F8 positions from
// the records before its first F9, FA or E1 to E6 record.
void collect_symbols(RunState& rs, RecIn& in) {
  RecOut sink(rs, nullptr);
  RomodFaults faults{"S0001", rs.obj_path};
  RotblRec& r = rs.rotbl_rec;
  for (int tag = in.get_tag(); tag != fmt::kEnd; tag = in.get_tag()) {
    switch (tag) {
      case fmt::kF0: case fmt::kF1: case fmt::kF2: copy_record(rs, in, sink, tag, faults); break;
      case fmt::kF3: get_repf3(rs, in, sink); break;
      case fmt::kF4: get_repf4(rs, in, sink); break;
      case fmt::kF5: get_repf5(rs, in, sink); break;
      case fmt::kF6: get_repf6(rs, in, sink); break;
      case fmt::kE0: get_repfa(rs, in, sink); break;
      case fmt::kF7:
      case fmt::kF8: {
        int32_t& first = tag == fmt::kF7 ? r.offset1_f7 : r.offset1_f8;
        int64_t pos = in.tell();
        if (pos < 0) error_exit(rs, kSeekError, rs.obj_path);
        if (first == 0) first = static_cast<int32_t>(pos - 1);
        copy_record(rs, in, sink, tag, faults);
        break;
      }
      case fmt::kF9: case fmt::kFA:
      case fmt::kE1: case fmt::kE2: case fmt::kE3: case fmt::kE4: case fmt::kE5: case fmt::kE6:
        return;
      default: in.malformed();
    }
  }
}

// Rebuilds the entry of a replaced module from its file.
void make_rotbl_rep(RunState& rs) {
  trace(rs, ",make_rotbl_rep\n");
  RotblRec& r = rs.rotbl_rec;
  get_ftime(rs.open_path, r.mod_time);
  r.mod_offset = 0;
  free_tables(rs.tables);
  RecIn in(rs, rs.obj_fp, "R0005");
  in.seek_start();
  collect_symbols(rs, in);
  // The body is the file's records through its FF, whatever follows it. A
  // fault met while measuring it belongs to the body pass, which meets it
  // again when it copies the body: everything this pass checks, for every
  // entry, comes first.
  in.seek_start();
  RecOut sink(rs, nullptr);
  sink.limit(fmt::kMaxOffset, rs.obj_path);
  try {
    copy_romod(rs, rs.obj_fp, sink);
    r.mod_size = static_cast<int32_t>(sink.count());
  } catch (const RunAbort& fault) {
    if (fault.code == kBreak) throw;
    r.mod_size = -1;
  }
  close_stream(rs.obj_fp);
}

void replace_entry(RunState& rs, ReplaceEntry& entry, int i) {
  _fopen_rep(rs, i);
  _coption_rep(rs);
  if (_uopen_rep(rs) == 0) return;
  disp_fname(rs);
  rs.hdr_symbols -= rs.tables.symbol_count();
  entry.selected = true;
  entry.file_index = i;
  rs.rotbl_rec.offset1_f7 = 0;
  rs.rotbl_rec.offset1_f8 = 0;
  make_rotbl_rep(rs);
  entry.new_len = rs.rotbl_rec.mod_size;
  const SymbolTables& t = rs.tables;
  rs.hdr_symbols += t.symbol_count();
  rs.rotbl_rec.f4 = {t.pub_count(), 0, t.equ_count(), 0, t.bit_count(), 0, t.ext_count()};
}

// The table pass: every entry again, the replaced ones rebuilt.
void replace_entries(RunState& rs) {
  rs.replace_table.clear();
  while (get_rotbl(rs) != 0) {
    ReplaceEntry entry{false, 0, rs.rotbl_rec.mod_size};
    int i = fname_search(rs);
    if (i >= 0) replace_entry(rs, entry, i);
    put_checked_rotbl(rs);
    close_stream(rs.obj_fp);
    rs.replace_table.push_back(entry);
    free_tables(rs.tables);
  }
}

// The body pass: kept bodies from the library, replaced ones from their files.
void replace_bodies(RunState& rs) {
  RecIn lib(rs, rs.lib_fp, rs.lib_name);
  RecOut bodies(rs, rs.tmp2_fp);
  for (const ReplaceEntry& entry : rs.replace_table) {
    if (!entry.selected) {
      rs.cur_file = rs.lib_name;
      copy_body(rs, rs.lib_fp, bodies, entry.body_len, rs.lib_name);
      rs.bodies.push_back(BodyRef{entry.body_len, ""});
      continue;
    }
    const std::string& file = rs.ftree[entry.file_index].name;
    if (rs.trace) std::fprintf(rs.out, "\ncmd_ctbl name = %s\n", file.c_str());
    rs.obj_fp = host::open_read(file);
    if (rs.obj_fp == nullptr) error_exit(rs, kCantOpen, file);
    copy_body(rs, rs.obj_fp, bodies, entry.new_len, file);
    close_stream(rs.obj_fp);
    rs.bodies.push_back(BodyRef{entry.new_len, host::base_name(file)});
    if (rs.trace) std::fprintf(rs.out, "\nskip length = %dl\n", static_cast<int>(entry.body_len));
    lib.skip(entry.body_len);
  }
}

}  // namespace

void parse_rep(RunState& rs) {
  start_selection(rs, "REPLASE FILE = ", "R0001");
  replace_entries(rs);
  replace_bodies(rs);
}
