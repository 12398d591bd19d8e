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
#include "format/module.h"
#include "format/stdfnc.h"
#include "host/host.h"
#include "intake/def_index.h"
#include "intake/disp_fname.h"
#include "intake/record_trace.h"
#include "intake/rotbl.h"

namespace {

void trace(RunState& rs, const char* text) {
  if (rs.trace) std::fputs(text, rs.out);
}

// Opens the file of list entry i, named as given; `obj_path` is its base name.
void _fopen_rep(RunState& rs, int i) {
  trace(rs, ",_fopen_rep\n");
  const std::string& open_path = rs.ftree[i].name;
  rs.obj_path = host::base_name(open_path);
  rs.obj_fp = host::open_read(open_path);
  if (rs.obj_fp == nullptr) error_exit(rs, kCantOpen, open_path);
  rs.obj_in.attach(rs.obj_fp, open_path, &g_break_requested);
}

void close_obj(RunState& rs) {
  rs.obj_in.detach();
  close_stream(rs.obj_fp);
}

// The file must start with an F0 record of our relocatable format.
void _coption_rep(RunState& rs) {
  trace(rs, ",_coption_rep\n");
  RecIn in(rs.obj_in, rs.obj_path);
  if (in.get_tag() != fmt::kF0) error_exit(rs, kInvalid, rs.obj_path);
  std::string format(in.get_str());
  if (rs.trace)
    std::fprintf(rs.out, "\nold_ver=%s new_ver=%s\n", rs.header.hdr_format.c_str(), format.c_str());
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
  // The file's own time: a file changed after SOURCE_DATE_EPOCH is newer
  // than a module stored at it.
  ModTime t;
  get_ftime(rs, rs.obj_fp, t, FileTime::kOwn);
  return _timcmp(rs, t);
}

// Collects the file's symbols, descriptors and first F7/F8 positions from
// the records before its first F9, FA or E1 to E6 record.
void collect_symbols(RunState& rs, RecIn& in, ModuleScan& scan) {
  RomodFaults faults{"S0001", rs.obj_path};
  RecordTrace counts(rs, RecordTrace::Records::kNone);
  ModuleWalker walker(in, faults, &scan, traced(rs, counts));
  for (int tag = in.get_tag(); tag != fmt::kEnd; tag = in.get_tag()) {
    switch (tag) {
      case fmt::kF9: case fmt::kFA:
      case fmt::kE1: case fmt::kE2: case fmt::kE3: case fmt::kE4: case fmt::kE5: case fmt::kE6:
        return;
      default:
        if (!walker.record(tag)) in.malformed();
    }
  }
}

// The size of the file's body: its records through its FF, whatever follows
// it. A fault met while measuring belongs to the body pass, which meets it
// again when it copies the body: everything this pass checks, for every
// entry, comes first. Such a body, or one too large for a library, measures
// -1 here.
int32_t measure_body(RunState& rs) {
  rs.obj_in.seek(0);
  trace(rs, ",copy_romod\n");
  RecordTrace copier(rs, RecordTrace::Records::kParse);
  try {
    int64_t size = copy_romod(rs.obj_in, nullptr, traced(rs, copier));
    return size > fmt::kMaxOffset ? -1 : static_cast<int32_t>(size);
  } catch (const FormatError& fault) {
    if (fault.kind == FormatError::Kind::kInterrupted) throw;
    return -1;
  }
}

// Rebuilds the entry of a replaced module from its file.
void make_rotbl_rep(RunState& rs, ModuleScan& scan) {
  trace(rs, ",make_rotbl_rep\n");
  TableEntry& r = rs.rotbl_rec;
  get_ftime(rs, rs.obj_fp, r.mod_time);
  r.mod_offset = 0;
  free_tables(scan.symbols);
  scan.offset1_f7 = scan.offset1_f8 = 0;
  rs.obj_in.seek(0);
  RecIn in(rs.obj_in, "R0005");
  collect_symbols(rs, in, scan);
  std::swap(r.symbols, scan.symbols);
  r.offset1_f7 = scan.offset1_f7;
  r.offset1_f8 = scan.offset1_f8;
  r.mod_size = measure_body(rs);
  close_obj(rs);
}

void replace_entry(RunState& rs, ReplaceEntry& entry, ModuleScan& scan, int i) {
  _fopen_rep(rs, i);
  _coption_rep(rs);
  if (_uopen_rep(rs) == 0) return;
  disp_fname(rs, rs.obj_path);
  rs.header.hdr_symbols -= rs.rotbl_rec.symbols.symbol_count();
  entry.selected = true;
  entry.file_index = i;
  make_rotbl_rep(rs, scan);
  entry.new_len = rs.rotbl_rec.mod_size;
  count_symbols(rs);
}

// The table pass: every entry again, the replaced ones rebuilt.
void replace_entries(RunState& rs) {
  rs.replace_table.clear();
  DefIndex defs;
  defs.reserve(expected_names(rs.header));
  ModuleScan scan;
  while (get_rotbl(rs) != 0) {
    ReplaceEntry entry{false, 0, rs.rotbl_rec.mod_size};
    int i = fname_search(rs);
    if (i >= 0) replace_entry(rs, entry, scan, i);
    put_checked_rotbl(rs, defs);
    close_obj(rs);
    rs.replace_table.push_back(entry);
    free_tables(rs.rotbl_rec.symbols);
  }
}

// The body pass: kept bodies are checked where they lie in the library,
// replaced ones copied from their files to tmp2.
void replace_bodies(RunState& rs) {
  RecIn lib(rs.lib_in, rs.lib_name);
  for (const ReplaceEntry& entry : rs.replace_table) {
    if (!entry.selected) {
      rs.cur_file = rs.lib_name;
      int64_t at = rs.lib_in.position();
      copy_body(rs, rs.lib_in, nullptr, entry.body_len, rs.lib_name);
      rs.bodies.push_back(BodyRef{BodyRef::From::kLibrary, at, entry.body_len, ""});
      continue;
    }
    const std::string& file = rs.ftree[entry.file_index].name;
    if (rs.trace) std::fprintf(rs.out, "\ncmd_ctbl name = %s\n", file.c_str());
    rs.obj_fp = host::open_read(file);
    if (rs.obj_fp == nullptr) error_exit(rs, kCantOpen, file);
    rs.obj_in.attach(rs.obj_fp, file, &g_break_requested);
    int64_t at = rs.body_out.count();
    copy_body(rs, rs.obj_in, &rs.body_out, entry.new_len, file);
    close_obj(rs);
    rs.bodies.push_back(BodyRef{BodyRef::From::kStaged, at, entry.new_len, host::base_name(file)});
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
