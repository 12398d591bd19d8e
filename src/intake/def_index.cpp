#include "intake/def_index.h"

#include <algorithm>
#include <functional>

void DefIndex::start_module(std::string_view mod_name) { modules_.emplace_back(mod_name); }

namespace {

uint32_t hash_of(std::string_view name) { return static_cast<uint32_t>(std::hash<std::string_view>{}(name)); }

}  // namespace

std::size_t DefIndex::slot_of(std::string_view name, uint32_t hash) const {
  std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    uint64_t s = slots_[i];
    if (s == 0 || (s >> 32 == hash && name_of(defs_[static_cast<uint32_t>(s) - 1]) == name)) return i;
  }
}

uint32_t DefIndex::find(std::string_view name) const {
  return slots_.empty() ? 0 : static_cast<uint32_t>(slots_[slot_of(name, hash_of(name))]);
}

void DefIndex::reserve(std::size_t names) {
  if (!defs_.empty()) return;
  std::size_t slots = 1024;
  while (3 * slots < 4 * names) slots *= 2;
  slots_.assign(slots, 0);
}

void DefIndex::add(std::string_view name) {
  if (name.empty() || modules_.empty()) return;
  if (4 * (defs_.size() + 1) > 3 * slots_.size()) {
    slots_.assign(slots_.empty() ? 1024 : 2 * slots_.size(), 0);
    for (uint32_t i = 0; i < defs_.size(); ++i)
      slots_[slot_of(name_of(defs_[i]), defs_[i].hash)] = slot(defs_[i].hash, i + 1);
  }
  uint32_t hash = hash_of(name);
  std::size_t i = slot_of(name, hash);
  if (slots_[i] != 0) return;  // only the first definition counts
  defs_.push_back(Def{names_.keep(name), static_cast<uint32_t>(modules_.size() - 1), hash});
  slots_[i] = slot(hash, static_cast<uint32_t>(defs_.size()));
}

void DefIndex::add_tables(std::string_view mod_name, const SymbolTables& t) {
  start_module(mod_name);
  t.for_each_definition([this](std::string_view name) { add(name); });
}

bool DefIndex::find_clash(const SymbolTables& t, Clash& clash) const {
  uint32_t best = 0;  // the earliest clash so far, as find gives it
  t.for_each_definition([&](std::string_view name) {
    uint32_t at = find(name);
    if (at != 0 && (best == 0 || at < best)) best = at;
  });
  if (best == 0) return false;
  const Def& d = defs_[best - 1];
  clash = Clash{std::string(name_of(d)), modules_[d.module]};
  return true;
}

std::size_t expected_names(const LibraryHeader& h) {
  // A damaged header must not make the run reserve without end.
  constexpr int32_t kMostReserved = 1 << 20;
  return static_cast<std::size_t>(std::clamp(h.hdr_symbols, 0, kMostReserved));
}
