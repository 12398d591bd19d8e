// The delete command: removes the named modules. The remaining entries go
// to tmp1; the remaining bodies are checked, and the commit copies them into
// the new library byte for byte, or removes the library when no module is
// left.
#include "core/disp_fname.h"
#include "core/rotbl.h"
#include "core/select.h"
#include "editing/editing.h"
#include "editing/replace_table.h"
#include "format/stdfnc.h"
#include "host/host.h"

namespace {

// The name the verbose line shows for list entry i: without its directory.
std::string getname_del(const Run& run, int i) {
  run.trace.line(",getname_del\n");
  return host::base_name(run.line.ftree[i].name);
}

// The table pass: keeps the entries of the modules that stay.
ReplaceTable delete_entries(Run& run, CommitPlan& plan, TableEntry& r) {
  NameDisplay shown(run, "DELETE FILE = ");
  ReplaceTable table;
  while (get_rotbl(run, r) != 0) {
    ReplaceEntry entry{false, 0, r.mod_size};
    int i = fname_search(run, r);
    if (i < 0) {
      add_rotbl(plan, r);
    } else {
      entry = ReplaceEntry{true, i, entry.body_len};
      shown.disp_fname(getname_del(run, i));
      move_count(plan.header.hdr_modules, -1);
      move_count(plan.header.hdr_symbols, -r.symbols.symbol_count());
    }
    table.push_back(entry);
    free_tables(r.symbols);
  }
  return table;
}

}  // namespace

CommitPlan parse_del(Run& run) {
  run.trace.line(",parse_del\n");
  CommitPlan plan(run.files);
  TableEntry entry;
  start_selection(run, plan.header, entry, nullptr);
  const ReplaceTable table = delete_entries(run, plan, entry);

  RecIn lib(run.files.lib_in, run.files.lib_name);
  plan.bodies.reserve(table.size());
  for (const ReplaceEntry& module : table) {
    if (module.selected) {
      run.trace.print("cmd_ctbl module name=%s\n", run.line.ftree[module.file_index].name.c_str());
      lib.skip(module.body_len);
    } else {
      keep_body(run, plan, module.body_len);
    }
  }
  return plan;
}
