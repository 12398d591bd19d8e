#include "core/rotbl.h"

#include "core/def_index.h"
#include "core/errors.h"
#include "format/module.h"
#include "host/host.h"

bool get_ftime(const SourceDate& epoch, std::FILE* fp, ModTime& time, FileTime which) {
  std::time_t t;
  time = ModTime{};
  if (!host::stream_time(fp, t)) return false;
  time = calendar_fields(epoch, which == FileTime::kStamp ? clamp_to_epoch(epoch, t) : t);
  return true;
}

void move_count(int32_t& count, int64_t n) {
  count = static_cast<int32_t>(static_cast<uint32_t>(count) + static_cast<uint32_t>(n));
}

void count_symbols(LibraryHeader& h, TableEntry& entry) {
  const SymbolTables& t = entry.symbols;
  move_count(h.hdr_symbols, t.symbol_count());
  entry.f4 = {t.pub_count(), 0, t.equ_count(), 0, t.bit_count(), 0, t.ext_count()};
}

void add_rotbl(CommitPlan& plan, TableEntry& entry) {
  int64_t start = plan.table_out.count();
  int64_t f8_at = put_rotbl(plan.table_out, entry);
  plan.f8_places.push_back(F8Place{start + f8_at, entry.mod_size, entry.offset1_f7, entry.offset1_f8});
}

bool pub_redef(const TraceOut& trace, DefIndex& defs, const TableEntry& entry, std::string& symbol,
               std::string& other) {
  trace.line("\npub_redef\n");
  DefIndex::Clash clash;
  if (!defs.find_clash(entry.symbols, clash)) return false;
  symbol = std::move(clash.name);
  other = std::move(clash.module);
  return true;
}

void put_checked_rotbl(const TraceOut& trace, CommitPlan& plan, DefIndex& defs, TableEntry& entry) {
  std::string symbol, other;
  if (pub_redef(trace, defs, entry, symbol, other)) multiple_defined(symbol, entry.mod_name, other);
  add_rotbl(plan, entry);
  defs.add_tables(entry.mod_name, entry.symbols);
}
