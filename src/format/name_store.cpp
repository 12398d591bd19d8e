#include "format/name_store.h"

NameRef NameStore::keep(std::string_view name) {
  if (name.empty()) return NameRef{};
  // A name never straddles two chunks: one that would not fit begins the next.
  if (!chunks_.empty() && chunks_[current_].size() + name.size() > kChunk) ++current_;
  if (current_ == chunks_.size()) chunks_.emplace_back().reserve(kChunk);
  std::string& chunk = chunks_[current_];
  NameRef ref{static_cast<uint32_t>(current_ * kChunk + chunk.size()), static_cast<uint32_t>(name.size())};
  chunk.append(name);
  return ref;
}

void NameStore::clear() {
  for (std::string& chunk : chunks_) chunk.clear();
  current_ = 0;
}
