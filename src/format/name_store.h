// A store of names: symbol and module names, each a record's string of at
// most 255 bytes.
//
// The names lie back to back in chunks that never move once made. A store
// of tens of thousands of names so grows without copying what it holds, and
// touches no more memory than the names take: on a host where a fresh page
// costs as much as copying it many times over, that is most of the price
// of a large symbol table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Where a name lies in its store.
struct NameRef {
  uint32_t at = 0;
  uint32_t size = 0;
};

class NameStore {
 public:
  // Keeps a copy of `name`, which is at most a chunk long.
  NameRef keep(std::string_view name);
  std::string_view name(NameRef n) const {
    if (n.size == 0) return {};
    return std::string_view(chunks_[n.at / kChunk]).substr(n.at % kChunk, n.size);
  }
  // Forgets every name, keeping the chunks for the next ones.
  void clear();

 private:
  static constexpr uint32_t kChunk = 1 << 16;

  // Each chunk is made with room for kChunk bytes, which it never passes.
  std::vector<std::string> chunks_;
  std::size_t current_ = 0;  // the chunk that takes the next name
};
