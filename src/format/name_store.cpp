#include "format/name_store.h"

NameStore::NameStore(const NameStore& other) { *this = other; }

NameStore& NameStore::operator=(const NameStore& other) {
  if (this == &other) return *this;
  clear();
  for (std::size_t i = 0; i < other.chunks_.size() && i <= other.current_; ++i) {
    uint32_t size = i == other.current_ ? other.used_ : other.filled_[i];
    if (i == chunks_.size()) chunks_.emplace_back(new char[kChunk]);
    std::memcpy(chunks_[i].get(), other.chunks_[i].get(), size);
    current_ = i;
    used_ = size;
    if (i < other.current_) filled_.push_back(size);
  }
  return *this;
}

void NameStore::next_chunk() {
  if (!chunks_.empty()) {
    filled_.push_back(used_);
    ++current_;
  }
  if (current_ == chunks_.size()) chunks_.emplace_back(new char[kChunk]);
  used_ = 0;
}

void NameStore::clear() {
  filled_.clear();
  current_ = 0;
  used_ = chunks_.empty() ? kChunk : 0;
}
