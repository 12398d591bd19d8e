// The replace command: new versions of modules from relocatable files, in
// the place of the modules of the same names. A replaced module keeps its
// place and its stored name; its body, size, symbols, first-record positions
// and time come from the file. With the update check a module is replaced
// only when its file is strictly newer than the stored time.
//
// Every entry, replaced or not, is checked again for global names that an
// earlier entry defines.
#include <optional>

#include "core/def_index.h"
#include "core/disp_fname.h"
#include "core/errors.h"
#include "core/record_trace.h"
#include "core/relocatable.h"
#include "core/rotbl.h"
#include "core/select.h"
#include "editing/editing.h"
#include "editing/replace_table.h"
#include "format/formats.h"
#include "format/module.h"
#include "format/stdfnc.h"
#include "host/host.h"

namespace {

class ReplaceCommand {
 public:
  explicit ReplaceCommand(Run& run) : run_(run), plan_(run.files) {}

  CommitPlan run();

 private:
  void _fopen_rep(int i);
  void _coption_rep();
  int _timcmp(const ModTime& t) const;
  int _uopen_rep();
  void collect_symbols(RecIn& in);
  int32_t measure_body();
  void make_rotbl_rep();
  void replace_entry(ReplaceEntry& module, int i);
  void replace_entries();
  void replace_bodies();

  Run& run_;
  CommitPlan plan_;
  std::optional<NameDisplay> shown_;
  ReplaceTable table_;
  TableEntry entry_;  // the entry being read or rebuilt
  ModuleScan scan_;
  RelocatableFile obj_;
  std::string obj_path_;  // the base name of the relocatable file being read
};

CommitPlan ReplaceCommand::run() {
  start_selection(run_, plan_.header, entry_, "R0001");
  shown_.emplace(run_, "REPLASE FILE = ");
  replace_entries();
  replace_bodies();
  return std::move(plan_);
}

// Opens the file of list entry i, named as given; `obj_path_` is its base name.
void ReplaceCommand::_fopen_rep(int i) {
  run_.trace.line(",_fopen_rep\n");
  const std::string& open_path = run_.line.ftree[i].name;
  obj_path_ = host::base_name(open_path);
  obj_.open(open_path);
}

// The file must start with an F0 record of our relocatable format.
void ReplaceCommand::_coption_rep() {
  run_.trace.line(",_coption_rep\n");
  RecIn in(obj_.in(), obj_path_);
  if (in.get_tag() != fmt::kF0) error_exit(kInvalid, obj_path_);
  std::string format(in.get_str());
  run_.trace.print("\nold_ver=%s new_ver=%s\n", plan_.header.hdr_format.c_str(), format.c_str());
  if (format != fmt::kFormat) error_exit(kInvalid, "R0002");
}

// 1 when the file is later than the stored time, compared from the years
// down to the seconds.
int ReplaceCommand::_timcmp(const ModTime& t) const {
  run_.trace.line(",_timcmp\n");
  const ModTime& stored = entry_.mod_time;
  for (int k = 5; k >= 0; --k)
    if (stored[k] != t[k]) return stored[k] < t[k] ? 1 : 0;
  return 0;
}

int ReplaceCommand::_uopen_rep() {
  run_.trace.line(",_uopen_rep\n");
  if (!run_.line.u) return 1;
  // The file's own time: a file changed after SOURCE_DATE_EPOCH is newer
  // than a module stored at it.
  ModTime t;
  get_ftime(run_.line.source_date, obj_.fp(), t, FileTime::kOwn);
  return _timcmp(t);
}

// Collects the file's symbols, descriptors and first F7/F8 positions from
// the records before its first F9, FA or E1 to E6 record.
void ReplaceCommand::collect_symbols(RecIn& in) {
  RomodFaults faults{"S0001", obj_path_};
  RecordTrace counts(run_.trace, RecordTrace::Records::kNone);
  ModuleWalker walker(in, faults, &scan_, traced(counts));
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
int32_t ReplaceCommand::measure_body() {
  obj_.in().seek(0);
  run_.trace.line(",copy_romod\n");
  RecordTrace copier(run_.trace, RecordTrace::Records::kParse);
  try {
    int64_t size = copy_romod(obj_.in(), nullptr, traced(copier));
    return size > fmt::kMaxOffset ? -1 : static_cast<int32_t>(size);
  } catch (const FormatError& fault) {
    if (fault.kind == FormatError::Kind::kInterrupted) throw;
    return -1;
  }
}

// Rebuilds the entry of a replaced module from its file.
void ReplaceCommand::make_rotbl_rep() {
  run_.trace.line(",make_rotbl_rep\n");
  TableEntry& r = entry_;
  get_ftime(run_.line.source_date, obj_.fp(), r.mod_time);
  r.mod_offset = 0;
  free_tables(scan_.symbols);
  scan_.offset1_f7 = scan_.offset1_f8 = 0;
  obj_.in().seek(0);
  RecIn in(obj_.in(), "R0005");
  collect_symbols(in);
  std::swap(r.symbols, scan_.symbols);
  r.offset1_f7 = scan_.offset1_f7;
  r.offset1_f8 = scan_.offset1_f8;
  r.mod_size = measure_body();
  obj_.close();
}

void ReplaceCommand::replace_entry(ReplaceEntry& module, int i) {
  _fopen_rep(i);
  _coption_rep();
  if (_uopen_rep() == 0) return;
  shown_->disp_fname(obj_path_);
  move_count(plan_.header.hdr_symbols, -entry_.symbols.symbol_count());
  module.selected = true;
  module.file_index = i;
  make_rotbl_rep();
  module.new_len = entry_.mod_size;
  count_symbols(plan_.header, entry_);
}

// The table pass: every entry again, the replaced ones rebuilt.
void ReplaceCommand::replace_entries() {
  DefIndex defs;
  defs.reserve(expected_names(plan_.header));
  while (get_rotbl(run_, entry_) != 0) {
    ReplaceEntry module{false, 0, entry_.mod_size};
    int i = fname_search(run_, entry_);
    if (i >= 0) replace_entry(module, i);
    put_checked_rotbl(run_.trace, plan_, defs, entry_);
    obj_.close();
    table_.push_back(module);
    free_tables(entry_.symbols);
  }
}

// The body pass: kept bodies are checked where they lie in the library,
// replaced ones copied from their files to tmp2.
void ReplaceCommand::replace_bodies() {
  RecIn lib(run_.files.lib_in, run_.files.lib_name);
  plan_.bodies.reserve(table_.size());
  for (const ReplaceEntry& module : table_) {
    if (!module.selected) {
      keep_body(run_, plan_, module.body_len);
      continue;
    }
    const std::string& file = run_.line.ftree[module.file_index].name;
    run_.trace.print("\ncmd_ctbl name = %s\n", file.c_str());
    obj_.open(file);
    int64_t at = plan_.body_out.count();
    copy_body(run_, obj_.in(), &plan_.body_out, module.new_len, file);
    obj_.close();
    plan_.bodies.push_back(BodyRef{BodyRef::From::kStaged, at, module.new_len, host::base_name(file)});
    run_.trace.print("\nskip length = %dl\n", static_cast<int>(module.body_len));
    lib.skip(module.body_len);
  }
}

}  // namespace

CommitPlan parse_rep(Run& run) { return ReplaceCommand(run).run(); }
