// The append command.
//
// Every relocatable file of the file list becomes a new module after the
// modules the library already holds; a library that does not exist yet is
// created. Each file is read record by record and copied unchanged into the
// body working file (tmp2), while the records the module table needs are
// collected. A module that defines a global name the table already has is
// refused. Its entry then goes to the table working file (tmp1).
#include <algorithm>
#include <optional>

#include "core/def_index.h"
#include "core/disp_fname.h"
#include "core/errors.h"
#include "core/record_trace.h"
#include "core/relocatable.h"
#include "core/rotbl.h"
#include "core/select.h"
#include "format/formats.h"
#include "format/module.h"
#include "format/stdfnc.h"
#include "host/host.h"
#include "intake/intake.h"

namespace {

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

// A module name (a file name without its directory); a name that the
// library cannot hold byte for byte, or too long a one, is refused naming
// `file`, never stored with a stand-in character.
std::string module_name(const std::string& file) {
  std::optional<std::string> name = host::stored_module_name(host::base_name(file));
  if (!name || name->size() > fmt::kMaxString) error_exit(kInvalid, file);
  return *name;
}

class AppendCommand {
 public:
  explicit AppendCommand(Run& run)
      : run_(run), trace_(run.trace), plan_(run.files), shown_(run, "APPEND FILE = ") {}

  CommitPlan run();

 private:
  int copy_rotbl();
  void start_existing();
  void start_new();
  void parse_apdf0(RecIn& in);
  void trace_handler(int tag) const;
  int64_t read_module(bool staged);
  BodyRef place_body();
  void make_rotbl(int64_t body_size);
  void append_file(const std::string& file);

  Run& run_;
  // Asked at every record: kept here rather than reached through the run.
  const TraceOut trace_;
  CommitPlan plan_;
  NameDisplay shown_;
  DefIndex defs_;
  ModuleScan scan_;
  TableEntry entry_;  // the entry being read or made
  RelocatableFile obj_;
  std::string obj_path_;  // the relocatable file being read
  int64_t file_bytes_ = 0;  // the bodies left in their files, which no working file counts
};

CommitPlan AppendCommand::run() {
  run_.files.cur_file = "TMP_FILE";
  if (run_.files.create)
    start_new();
  else
    start_existing();
  for (const FtreeNode& node : run_.line.ftree) append_file(node.name);
  return std::move(plan_);
}

// Copies the old module table to tmp1 as it stands, indexing its global
// definitions, and returns the number of entries. The library stands after
// its header.
int AppendCommand::copy_rotbl() {
  trace_.line(",copy_rotbl");
  InputFile& lib = run_.files.lib_in;
  RecIn in(lib, run_.files.lib_name);
  TableEntry& e = entry_;
  int entries = 0;
  for (; in.peek() != fmt::kEnd; ++entries) {
    int64_t entry_start = in.tell();
    int64_t table_at = plan_.table_out.count();
    TeeScope copy(lib, plan_.table_out);
    free_tables(e.symbols);
    for (int tag = in.get_tag(); tag != fmt::kEnd; tag = in.get_tag()) {
      trace_.print(",parse->0x%x", tag);
      if (tag < 0) in.malformed();
      int64_t at = in.tell() - 1;
      std::size_t before = definitions_of(e.symbols, tag);
      // Externals and descriptors take no part in the check: stepped over.
      bool skipped = tag == fmt::kF3 || tag == fmt::kF7;
      if (!read_entry_record(in, tag, skipped ? nullptr : &e)) in.malformed();
      index_new_names(defs_, e, tag, before);
      // The body's size is the last F2 value read, as the entries stand.
      if (tag == fmt::kF8)
        plan_.f8_places.push_back(F8Place{table_at + at - entry_start, e.mod_size, e.offset1_f7, e.offset1_f8});
    }
    copy.end();
  }
  in.get_tag();  // the table's end mark, which the new table gets anew
  return entries;
}

// Reads an existing library's header, carries its table over and checks
// its bodies, which the commit copies into the new library as they lie.
void AppendCommand::start_existing() {
  LibraryHeader& h = plan_.header;
  read_header(run_, h, "A0001");
  defs_.reserve(expected_names(h));
  // Every module's body and F8 record, as far as the header can be believed.
  std::size_t modules = static_cast<std::size_t>(std::max(h.hdr_modules, 0)) + run_.line.ftree.size();
  plan_.bodies.reserve(std::min<std::size_t>(modules, fmt::kMaxModules));
  plan_.f8_places.reserve(std::min<std::size_t>(modules, fmt::kMaxModules));
  // The header's count says how many bodies follow: an empty module (a body
  // of the single byte FF) is not mistaken for the section's end mark.
  if (copy_rotbl() != h.hdr_modules) error_exit(kInvalid, run_.files.lib_name);
  InputFile& lib = run_.files.lib_in;
  RecordTrace copier(trace_, RecordTrace::Records::kParse);
  for (int32_t n = 0; n < h.hdr_modules; ++n) {
    trace_.line(",copy_romod\n");
    int64_t at = lib.position();
    plan_.bodies.push_back(BodyRef{BodyRef::From::kLibrary, at, copy_romod(lib, nullptr, traced(copier)), ""});
  }
}

void AppendCommand::start_new() { plan_.header = LibraryHeader{fmt::kVersion, "", fmt::kCpu, 0, 0}; }

void AppendCommand::parse_apdf0(RecIn& in) {
  std::string_view format = in.get_str();
  std::string& hdr_format = plan_.header.hdr_format;
  if (run_.files.create && hdr_format.empty()) hdr_format = format;
  trace_.print("\nold_ver=%s new_ver=%s\n", hdr_format.c_str(), std::string(format).c_str());
  if (format != fmt::kFormat) error_exit(kInvalid, "A0002");
}

void AppendCommand::trace_handler(int tag) const {
  if (!trace_.on() || tag == fmt::kE6) return;
  trace_.print(",parse_apd%c%x", tag >= fmt::kF0 ? 'f' : 'e', tag & 0x0F);
}

// Reads one module file, collecting into `scan_` what its entry needs, and
// copies it into tmp2 when it is `staged`; returns its body size.
int64_t AppendCommand::read_module(bool staged) {
  RecIn in(obj_.in(), obj_path_);
  RomodFaults faults{obj_path_, obj_path_};
  RecordTrace handlers(trace_, RecordTrace::Records::kNone, true);
  free_tables(scan_.symbols);
  scan_.offset1_f7 = scan_.offset1_f8 = 0;
  ModuleWalker walker(in, faults, &scan_, traced(handlers));
  std::optional<TeeScope> copy;
  if (staged) copy.emplace(obj_.in(), plan_.body_out);
  for (int tag = in.get_tag(); tag != fmt::kEnd; tag = in.get_tag()) {
    if (!is_record_tag(tag)) in.malformed();
    trace_handler(tag);
    if (tag == fmt::kF0)
      parse_apdf0(in);
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
BodyRef AppendCommand::place_body() {
  BodyRef body{BodyRef::From::kFile, 0, 0, obj_path_};
  bool stamped = host::stream_stamp(obj_.fp(), body.stamp);
  if (stamped) obj_.in().expect_size(body.stamp.size);
  if (trace_.on() || !stamped) {
    body.from = BodyRef::From::kStaged;
    body.at = plan_.body_out.count();
  }
  return body;
}

// Counts the module just read into the header and makes its entry from
// what the scan found, the body's size and the file's time.
void AppendCommand::make_rotbl(int64_t body_size) {
  LibraryHeader& h = plan_.header;
  if (++h.hdr_modules > fmt::kMaxModules) error_exit(kTooManyModules);
  TableEntry& r = entry_;
  std::swap(r.symbols, scan_.symbols);
  count_symbols(h, r);
  r.mod_name = module_name(obj_path_);
  r.mod_size = static_cast<int32_t>(body_size);
  r.mod_offset = r.abs_f7 = r.abs_f8 = 0;
  r.offset1_f7 = scan_.offset1_f7;
  r.offset1_f8 = scan_.offset1_f8;
  get_ftime(run_.line.source_date, obj_.fp(), r.mod_time);
}

void AppendCommand::append_file(const std::string& file) {
  free_tables(entry_.symbols);
  obj_path_ = file;
  run_.files.cur_file = file;
  obj_.open(obj_path_);
  shown_.disp_fname(obj_path_);
  BodyRef body = place_body();
  bool staged = body.from == BodyRef::From::kStaged;
  // The new bodies together must stay within the offsets a library holds.
  plan_.body_out.limit(fmt::kMaxOffset - file_bytes_, obj_path_);
  body.size = read_module(staged);
  if (!staged) {
    if (body.size > fmt::kMaxOffset - file_bytes_ - plan_.body_out.count()) error_exit(kInvalid, obj_path_);
    file_bytes_ += body.size;
  }
  int64_t size = body.size;
  plan_.bodies.push_back(std::move(body));
  make_rotbl(size);
  // A new library's index is made once, as large as the file list and the
  // first module suggest, rather than grown step by step.
  if (run_.files.create && plan_.header.hdr_modules == 1)
    defs_.reserve(expected_names(run_.line.ftree.size(), entry_.symbols));
  put_checked_rotbl(trace_, plan_, defs_, entry_);
  obj_.close();
}

}  // namespace

CommitPlan parse_apd(Run& run) { return AppendCommand(run).run(); }
