// The extract command: writes modules of a library back out as relocatable
// files, byte for byte as stored, all of them or the named ones, in library
// order. The library is only read.
//
// Whatever names a library holds, a module is only ever written under a bare
// file name into the current directory.
#include "core/disp_fname.h"
#include "core/errors.h"
#include "core/select.h"
#include "editing/editing.h"
#include "editing/replace_table.h"
#include "format/stdfnc.h"
#include "host/host.h"

namespace {

// A name reduced to a file in the current directory; a name that leaves
// nothing to write to is refused. A '/' that the naming rules keep in a
// stored name still separates directories for the file system, so it goes too.
std::string output_name(const Run& run, const std::string& name) {
  const LibraryFiles& files = run.files;
  std::string base = host::base_name(name);
  base.erase(0, base.find_last_of('/') + 1);
  // A module named like the library itself would overwrite it while it is read.
  bool library = host::fs_name(base) == host::fs_name(files.lib_dir + files.lib_name);
  if (base.empty() || base == "." || base == ".." || library) error_exit(kInvalid, files.lib_name);
  return base;
}

// A module file being written through `out`, the writer that every module
// of the run is written with. One that the run leaves unfinished is
// incomplete and is removed, unless the trace flag keeps it as it stands.
class ExtractedFile {
 public:
  ExtractedFile(const std::string& path, bool keep, RecOut& out) : path_(path), keep_(keep), out_(out) {
    fp_ = host::open_write(path_);
    if (fp_ == nullptr) error_exit(kCantOpen, path_);
    out_.attach(fp_);
  }
  ~ExtractedFile() {
    if (fp_ == nullptr) return;
    out_.flush_and_detach();
    close_stream(fp_);
    if (!keep_) host::remove_file(path_);
  }
  ExtractedFile(const ExtractedFile&) = delete;
  ExtractedFile& operator=(const ExtractedFile&) = delete;

  // The file is whole: written out and closed.
  void finish() {
    out_.flush();
    out_.attach(nullptr);
    if (!close_stream(fp_)) {
      if (!keep_) host::remove_file(path_);
      error_exit(kCloseFailed);
    }
  }

 private:
  const std::string& path_;
  bool keep_;
  RecOut& out_;
  std::FILE* fp_;
};

void write_module(Run& run, NameDisplay& shown, RecIn& lib, RecOut& out, const std::string& path,
                  int32_t body_len) {
  // Small modules are copied without a new block, where an interrupt is seen.
  poll_break();
  ExtractedFile file(path, run.line.trace, out);
  shown.disp_fname(path);
  lib.copy_bytes(body_len, out);
  file.finish();
}

// The output name of the named file list entry i.
std::string fopen_ext_name(const Run& run, int i) {
  run.trace.line(",fopen_ext\n");
  return output_name(run, run.line.ftree[i].name);
}

}  // namespace

CommitPlan parse_ext(Run& run) {
  run.trace.line(",parse_ext\n");
  CommitPlan plan(run.files);
  TableEntry entry;
  start_selection(run, plan.header, entry, nullptr);
  NameDisplay shown(run, "EXTRACT FILE = ");

  // Stems of the stored names: without names given, each module is written
  // as its name with the last extension replaced by ".QOB".
  std::vector<std::string> stems;
  ReplaceTable table;
  while (get_modname(run, entry) != 0) {
    ReplaceEntry module{false, 0, entry.mod_size};
    const std::string& mod_name = entry.mod_name;
    stems.push_back(host::module_file_name(mod_name.substr(0, mod_name.rfind('.'))));
    int i = fname_search(run, entry);
    if (i >= 0) module = ReplaceEntry{true, i, module.body_len};
    table.push_back(module);
    free_tables(entry.symbols);
  }

  RecIn lib(run.files.lib_in, run.files.lib_name);
  RecOut out;
  for (std::size_t n = 0; n < table.size(); ++n) {
    const ReplaceEntry& module = table[n];
    std::string path;
    if (run.line.ftree.empty()) {
      path = output_name(run, stems[n] + ".QOB");
    } else if (module.selected) {
      path = fopen_ext_name(run, module.file_index);
    } else {
      lib.skip(module.body_len);
      continue;
    }
    write_module(run, shown, lib, out, path, module.body_len);
  }
  return plan;
}
