#include "intake/rotbl.h"

#include "driver/errors.h"
#include "driver/source_date.h"
#include "format/formats.h"
#include "format/module.h"
#include "host/host.h"
#include "intake/def_index.h"

bool get_ftime(const RunState& rs, std::FILE* fp, ModTime& time, FileTime which) {
  std::time_t t;
  time = ModTime{};
  if (!host::stream_time(fp, t)) return false;
  time = calendar_fields(rs, which == FileTime::kStamp ? clamp_to_epoch(rs, t) : t);
  return true;
}

std::string module_name(RunState& rs, const std::string& file) {
  // A name that the library cannot hold byte for byte is refused, never
  // stored with a stand-in character.
  std::optional<std::string> name = host::stored_module_name(host::base_name(file));
  if (!name || name->size() > fmt::kMaxString) error_exit(rs, kInvalid, file);
  return *name;
}

void count_symbols(RunState& rs) {
  TableEntry& r = rs.rotbl_rec;
  const SymbolTables& t = r.symbols;
  rs.header.hdr_symbols += t.symbol_count();
  r.f4 = {t.pub_count(), 0, t.equ_count(), 0, t.bit_count(), 0, t.ext_count()};
}

void make_rotbl(RunState& rs, ModuleScan& scan, int64_t body_size) {
  if (++rs.header.hdr_modules > fmt::kMaxModules) error_exit(rs, kTooManyModules);
  TableEntry& r = rs.rotbl_rec;
  std::swap(r.symbols, scan.symbols);
  count_symbols(rs);
  r.mod_name = module_name(rs, rs.obj_path);
  r.mod_size = static_cast<int32_t>(body_size);
  r.mod_offset = r.abs_f7 = r.abs_f8 = 0;
  r.offset1_f7 = scan.offset1_f7;
  r.offset1_f8 = scan.offset1_f8;
  get_ftime(rs, rs.obj_fp, r.mod_time);
}

void add_rotbl(RunState& rs) {
  const TableEntry& r = rs.rotbl_rec;
  int64_t start = rs.table_out.count();
  int64_t f8_at = put_rotbl(rs.table_out, rs.rotbl_rec);
  rs.f8_places.push_back(F8Place{start + f8_at, r.mod_size, r.offset1_f7, r.offset1_f8});
}

bool pub_redef(RunState& rs, DefIndex& defs, std::string& symbol, std::string& other) {
  if (rs.trace) std::fputs("\npub_redef\n", rs.out);
  DefIndex::Clash clash;
  if (!defs.find_clash(rs.rotbl_rec.symbols, clash)) return false;
  symbol = std::move(clash.name);
  other = std::move(clash.module);
  return true;
}

void put_checked_rotbl(RunState& rs, DefIndex& defs) {
  std::string symbol, other;
  if (pub_redef(rs, defs, symbol, other)) multiple_defined(rs, symbol, rs.rotbl_rec.mod_name, other);
  add_rotbl(rs);
  defs.add_tables(rs.rotbl_rec.mod_name, rs.rotbl_rec.symbols);
}
