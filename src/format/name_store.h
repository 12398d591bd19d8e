// A store of names: symbol and module names, each a record's string of at
// most 255 bytes.
//
// The names lie back to back in chunks that never move once made. A store
// of tens of thousands of names so grows without copying what it holds, and
// touches no more memory than the names take: on a host where a fresh page
// costs as much as copying it many times over, that is most of the price
// of a large symbol table. Keeping a name is a copy of its bytes and little
// else, since every symbol of a table passes here.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

// Copies a name's `n` bytes. Most names are short: those are moved in two
// pieces that may overlap, without a call.
inline void copy_name(char* to, const char* from, std::size_t n) {
  if (n >= 8 && n <= 16) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n > 16 && n <= 32) {
    std::memcpy(to, from, 16);
    std::memcpy(to + n - 16, from + n - 16, 16);
  } else if (n > 0) {
    // An empty name may point nowhere, which memcpy must not be given.
    std::memcpy(to, from, n);
  }
}

// Where a name lies in its store.
struct NameRef {
  uint32_t at = 0;
  uint32_t size = 0;
};

class NameStore {
 public:
  NameStore() = default;
  NameStore(const NameStore& other);
  NameStore& operator=(const NameStore& other);
  NameStore(NameStore&&) noexcept = default;
  NameStore& operator=(NameStore&&) noexcept = default;

  // Keeps a copy of `name`, which is at most a chunk long.
  NameRef keep(std::string_view name) {
    if (name.empty()) return NameRef{};
    // A name never straddles two chunks: one that would not fit begins the next.
    if (name.size() > kChunk - used_) next_chunk();
    NameRef ref{static_cast<uint32_t>(current_ * kChunk + used_), static_cast<uint32_t>(name.size())};
    copy_name(chunks_[current_].get() + used_, name.data(), name.size());
    used_ += static_cast<uint32_t>(name.size());
    return ref;
  }
  std::string_view name(NameRef n) const {
    if (n.size == 0) return {};
    return std::string_view(chunks_[n.at / kChunk].get() + n.at % kChunk, n.size);
  }
  // Forgets every name, keeping the chunks for the next ones.
  void clear();

 private:
  static constexpr uint32_t kChunk = 1 << 16;

  // Moves on to the next chunk, made when there is none yet.
  void next_chunk();

  // Each chunk holds kChunk bytes, made uncleared; the current one holds
  // used_ bytes of names, those before it what their names left.
  std::vector<std::unique_ptr<char[]>> chunks_;
  std::vector<uint32_t> filled_;  // bytes used in each chunk before the current one
  std::size_t current_ = 0;
  // Bytes used in the current chunk; a store without chunks counts as full.
  uint32_t used_ = kChunk;
};
