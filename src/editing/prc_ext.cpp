// The extract command: writes modules of a library back out as relocatable
// files, byte for byte as stored, all of them or the named ones, in library
// order. The library is only read.
//
// Whatever names a library holds, a module is only ever written under a bare
// file name into the current directory.
#include "driver/driver.h"
#include "driver/errors.h"
#include "driver/run_state.h"
#include "editing/select.h"
#include "format/stdfnc.h"
#include "host/host.h"
#include "intake/disp_fname.h"
#include "intake/rotbl.h"

namespace {

// A name reduced to a file in the current directory; a name that leaves
// nothing to write to is refused. A '/' that the naming rules keep in a
// stored name still separates directories for the file system, so it goes too.
std::string output_name(RunState& rs, const std::string& name) {
  std::string base = host::base_name(name);
  base.erase(0, base.find_last_of('/') + 1);
  // A module named like the library itself would overwrite it while it is read.
  bool library = host::fs_name(base) == host::fs_name(rs.lib_dir + rs.lib_name);
  if (base.empty() || base == "." || base == ".." || library) error_exit(rs, kInvalid, rs.lib_name);
  return base;
}

void write_module(RunState& rs, RecIn& lib, int32_t body_len) {
  // Small modules are copied without a new block, where an interrupt is seen.
  poll_break(rs);
  rs.obj_fp = host::open_write(rs.obj_path);
  if (rs.obj_fp == nullptr) error_exit(rs, kCantOpen, rs.obj_path);
  disp_fname(rs, rs.obj_path);
  rs.obj_out.attach(rs.obj_fp);
  lib.copy_bytes(body_len, rs.obj_out);
  rs.obj_out.flush();
  rs.obj_out.attach(nullptr);
  if (!close_stream(rs.obj_fp)) {
    if (!rs.trace) host::remove_file(rs.obj_path);
    error_exit(rs, kCloseFailed);
  }
}

// The output name of the named file list entry i.
void fopen_ext_name(RunState& rs, int i) {
  if (rs.trace) std::fputs(",fopen_ext\n", rs.out);
  rs.obj_path = output_name(rs, rs.ftree[i].name);
}

}  // namespace

void parse_ext(RunState& rs) {
  if (rs.trace) std::fputs(",parse_ext\n", rs.out);
  start_selection(rs, "EXTRACT FILE = ", nullptr);

  // Stems of the stored names: without names given, each module is written
  // as its name with the last extension replaced by ".QOB".
  std::vector<std::string> stems;
  rs.replace_table.clear();
  while (get_modname(rs) != 0) {
    ReplaceEntry entry{false, 0, rs.rotbl_rec.mod_size};
    const std::string& mod_name = rs.rotbl_rec.mod_name;
    stems.push_back(host::module_file_name(mod_name.substr(0, mod_name.rfind('.'))));
    int i = fname_search(rs);
    if (i >= 0) entry = ReplaceEntry{true, i, entry.body_len};
    rs.replace_table.push_back(entry);
    free_tables(rs.rotbl_rec.symbols);
  }

  RecIn lib(rs.lib_in, rs.lib_name);
  for (std::size_t n = 0; n < rs.replace_table.size(); ++n) {
    const ReplaceEntry& entry = rs.replace_table[n];
    if (rs.ftree.empty()) {
      rs.obj_path = output_name(rs, stems[n] + ".QOB");
    } else if (entry.selected) {
      fopen_ext_name(rs, entry.file_index);
    } else {
      lib.skip(entry.body_len);
      continue;
    }
    write_module(rs, lib, entry.body_len);
  }
}
