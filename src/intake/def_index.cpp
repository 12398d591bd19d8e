#include "intake/def_index.h"

void DefIndex::start_module(const std::string& mod_name) { modules_.push_back(mod_name); }

void DefIndex::add(const std::string& name) {
  if (name.empty() || modules_.empty()) return;
  defs_.try_emplace(name, Def{seq_++, static_cast<uint32_t>(modules_.size() - 1)});
}

void DefIndex::add_tables(const std::string& mod_name, const SymbolTables& t) {
  start_module(mod_name);
  for (const PubBlock& b : t.pub_list)
    for (const PubSym& s : b.syms) add(s.name);
  for (const EquSym& s : t.equ_list) add(s.name);
  for (const BitSym& s : t.bit_list) add(s.name);
}

void DefIndex::consider(const std::string& name, Map::const_iterator& best) const {
  auto it = defs_.find(name);
  if (it != defs_.end() && (best == defs_.end() || it->second.seq < best->second.seq)) best = it;
}

bool DefIndex::find_clash(const SymbolTables& t, Clash& clash) const {
  Map::const_iterator best = defs_.end();
  for (const PubBlock& b : t.pub_list)
    for (const PubSym& s : b.syms) consider(s.name, best);
  for (const EquSym& s : t.equ_list) consider(s.name, best);
  for (const BitSym& s : t.bit_list) consider(s.name, best);
  if (best == defs_.end()) return false;
  clash = Clash{best->first, modules_[best->second.module]};
  return true;
}
