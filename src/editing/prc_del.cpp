// The delete command: removes the named modules. The remaining entries go
// to tmp1; the remaining bodies are checked, and the commit copies them into
// the new library byte for byte, or removes the library when no module is
// left.
#include "driver/driver.h"
#include "driver/errors.h"
#include "driver/run_state.h"
#include "editing/select.h"
#include "format/stdfnc.h"
#include "host/host.h"
#include "intake/disp_fname.h"
#include "intake/rotbl.h"

namespace {

// The name the verbose line shows for list entry i: without its directory.
std::string getname_del(RunState& rs, int i) {
  if (rs.trace) std::fputs(",getname_del\n", rs.out);
  return host::base_name(rs.ftree[i].name);
}

// The table pass: keeps the entries of the modules that stay.
void delete_entries(RunState& rs) {
  rs.replace_table.clear();
  while (get_rotbl(rs) != 0) {
    ReplaceEntry entry{false, 0, rs.rotbl_rec.mod_size};
    int i = fname_search(rs);
    if (i < 0) {
      add_rotbl(rs);
    } else {
      entry = ReplaceEntry{true, i, entry.body_len};
      disp_fname(rs, getname_del(rs, i));
      rs.header.hdr_modules -= 1;
      rs.header.hdr_symbols -= rs.rotbl_rec.symbols.symbol_count();
    }
    rs.replace_table.push_back(entry);
    free_tables(rs.rotbl_rec.symbols);
  }
}

}  // namespace

void parse_del(RunState& rs) {
  if (rs.trace) std::fputs(",parse_del\n", rs.out);
  start_selection(rs, "DELETE FILE = ", nullptr);
  delete_entries(rs);

  RecIn lib(rs.lib_in, rs.lib_name);
  for (const ReplaceEntry& entry : rs.replace_table) {
    if (entry.selected) {
      if (rs.trace)
        std::fprintf(rs.out, "cmd_ctbl module name=%s\n", rs.ftree[entry.file_index].name.c_str());
      lib.skip(entry.body_len);
    } else {
      int64_t at = rs.lib_in.position();
      copy_body(rs, rs.lib_in, nullptr, entry.body_len, rs.lib_name);
      rs.bodies.push_back(BodyRef{BodyRef::From::kLibrary, at, entry.body_len, ""});
    }
  }
}
