#include "core/select.h"

#include <vector>

#include "core/errors.h"
#include "core/record_trace.h"
#include "format/formats.h"
#include "format/module.h"
#include "format/stdfnc.h"
#include "host/host.h"

namespace {

// Ends the run unless the library is built for our processor.
void check_cpu(const LibraryHeader& h) {
  if (!fmt::same_ignoring_case(h.hdr_cpu, fmt::kCpu)) error_exit(kCpuError);
}

}  // namespace

void read_header(Run& run, LibraryHeader& h, const char* format_detail) {
  LibraryFiles& files = run.files;
  // A read error names the file actually being read.
  files.cur_file = files.lib_name;
  RecIn in(files.lib_in, files.lib_name);
  get_header(in, h);
  if (format_detail != nullptr) {
    run.trace.print("\nold_ver=%s new_ver=%s\n", h.hdr_format.c_str(), files.lib_in.last_str().c_str());
    if (h.hdr_format != fmt::kFormat) error_exit(kInvalid, format_detail);
  }
  check_cpu(h);
}

int get_modname(Run& run, TableEntry& entry) {
  run.trace.line(",get_modname\n");
  RecIn in(run.files.lib_in, "R0004");
  RecordTrace tags(run.trace, RecordTrace::Records::kTags);
  return get_rotbl(in, entry, EntryPart::kFixed, traced(tags));
}

int get_rotbl(Run& run, TableEntry& entry) {
  run.trace.line(",get_rotbl\n");
  RecIn in(run.files.lib_in, "R0003");
  RecordTrace readers(run.trace, RecordTrace::Records::kReaders);
  return get_rotbl(in, entry, EntryPart::kWhole, traced(readers));
}

int fname_search(const Run& run, const TableEntry& entry) {
  run.trace.line(",fname_search\n");
  // Compared as names of the program, not as stored: in a code page of two
  // bytes a character's second byte may look like an ASCII letter, and
  // would match a character it is not.
  const std::string module = host::module_file_name(entry.mod_name);
  const std::vector<FtreeNode>& ftree = run.line.ftree;
  for (std::size_t i = 0; i < ftree.size(); ++i)
    if (fmt::same_ignoring_case(module, ftree[i].base)) return static_cast<int>(i);
  return -1;
}

void select_modules(Run& run, TableEntry& entry) {
  const std::vector<FtreeNode>& ftree = run.line.ftree;
  std::vector<bool> matched(ftree.size());
  while (get_modname(run, entry) != 0) {
    int i = fname_search(run, entry);
    if (i < 0) continue;
    // A second module matching the same name: the name is ambiguous.
    if (matched[i]) error_exit(kNotInLibrary);
    matched[i] = true;
  }
  for (std::size_t i = 0; i < ftree.size(); ++i)
    if (!matched[i]) error_exit(kNotInLibrary, ftree[i].name);
}

void start_selection(Run& run, LibraryHeader& h, TableEntry& entry, const char* format_detail) {
  read_header(run, h, format_detail);
  select_modules(run, entry);
  run.files.lib_in.seek(0);
  RecIn in(run.files.lib_in, run.files.lib_name);
  get_header(in, h);
}

void copy_body(Run& run, InputFile& in, RecOut* out, int32_t expected, const std::string& bad) {
  run.trace.line(",copy_romod\n");
  RecordTrace copier(run.trace, RecordTrace::Records::kParse);
  if (copy_romod(in, out, traced(copier)) != expected) error_exit(kInvalid, bad);
}

void keep_body(Run& run, CommitPlan& plan, int32_t body_len) {
  LibraryFiles& files = run.files;
  int64_t at = files.lib_in.position();
  copy_body(run, files.lib_in, nullptr, body_len, files.lib_name);
  plan.bodies.push_back(BodyRef{BodyRef::From::kLibrary, at, body_len, ""});
}
