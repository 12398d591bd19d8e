#include "core/def_index.h"

#include <algorithm>
#include <cstring>

void DefIndex::start_module(std::string_view mod_name) { modules_.emplace_back(mod_name); }

namespace {

// A name's hash, taken eight bytes at a time: names are short, and every
// definition of every module is hashed.
uint32_t hash_of(std::string_view name) {
  constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
  const char* p = name.data();
  std::size_t n = name.size();
  uint64_t h = n * kMul;
  auto mix = [&h](uint64_t w) {
    h = (h ^ w) * kMul;
    h ^= h >> 29;
  };
  for (; n > 8; p += 8, n -= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    mix(w);
  }
  // The last one to eight bytes, read as two halves that may overlap.
  uint32_t lo = 0, hi = 0;
  if (n >= 4) {
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + n - 4, 4);
  } else if (n > 0) {
    lo = static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[n / 2]) << 8 |
         static_cast<unsigned char>(p[n - 1]) << 16;
  }
  mix(static_cast<uint64_t>(hi) << 32 | lo);
  return static_cast<uint32_t>(h >> 32);
}

}  // namespace

std::size_t DefIndex::slot_of(std::string_view name, uint32_t hash) const {
  std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    uint64_t s = slots_[i];
    if (s == 0 || (s >> 32 == hash && name_of(defs_[static_cast<uint32_t>(s) - 1]) == name)) return i;
  }
}

void DefIndex::reserve(std::size_t names) {
  if (!defs_.empty()) return;
  // A header's count holds the externals too, which are not indexed: room
  // for three quarters of it is room for most libraries' definitions.
  std::size_t slots = 1024;
  while (3 * slots < 4 * names) slots *= 2;
  slots_.assign(slots, 0);
  defs_.reserve(names);
}

void DefIndex::make_room(std::size_t more) {
  while (2 * (defs_.size() + more) > slots_.size()) grow();
}

void DefIndex::grow() {
  slots_.assign(slots_.empty() ? 1024 : 2 * slots_.size(), 0);
  // The names are known to differ: each goes to the first free slot.
  std::size_t mask = slots_.size() - 1;
  uint32_t place = 0;
  for (const Def& d : defs_) {
    std::size_t i = d.hash & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = slot(d.hash, ++place);
  }
}

void DefIndex::add(std::string_view name) {
  if (name.empty() || modules_.empty()) return;
  make_room(1);
  uint32_t hash = hash_of(name);
  add_at(name, hash, slot_of(name, hash));
}

void DefIndex::add_at(std::string_view name, uint32_t hash, std::size_t i) {
  // The slot may have been taken by a name added after it was found.
  if (slots_[i] != 0) i = slot_of(name, hash);
  if (slots_[i] != 0) return;  // only the first definition counts
  defs_.push_back(Def{names_.keep(name), static_cast<uint32_t>(modules_.size() - 1), hash});
  slots_[i] = slot(hash, static_cast<uint32_t>(defs_.size()));
}

void DefIndex::add_tables(std::string_view mod_name, const SymbolTables& t) {
  start_module(mod_name);
  if (looked_up_ != &t) {
    t.for_each_definition([this](std::string_view name) { add(name); });
    return;
  }
  looked_up_ = nullptr;
  const Lookup* lookup = lookups_.data();
  t.for_each_definition([&](std::string_view name) {
    add_at(name, lookup->hash, lookup->slot);
    ++lookup;
  });
}

bool DefIndex::find_clash(const SymbolTables& t, Clash& clash) {
  // Room for every name of `t` now, so that the slots found stay valid
  // for add_tables.
  make_room(static_cast<std::size_t>(t.pub_count() + t.equ_count() + t.bit_count()));
  uint32_t best = 0;  // the earliest clash so far: its place in defs_ plus 1
  lookups_.clear();
  t.for_each_definition([&](std::string_view name) {
    uint32_t hash = hash_of(name);
    std::size_t i = slot_of(name, hash);
    lookups_.push_back(Lookup{hash, i});
    uint32_t at = static_cast<uint32_t>(slots_[i]);
    if (at != 0 && (best == 0 || at < best)) best = at;
  });
  looked_up_ = &t;
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

std::size_t expected_names(std::size_t modules, const SymbolTables& first) {
  constexpr std::size_t kMostGuessed = 1 << 17;
  std::size_t per_module = static_cast<std::size_t>(first.pub_count() + first.equ_count() + first.bit_count());
  return std::min(modules * per_module, kMostGuessed);
}
