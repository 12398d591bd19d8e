#include "listing/sym_tree.h"

#include <algorithm>
#include <array>
#include <type_traits>
#include <utility>

namespace {

// Below this many symbols a comparison sort is cheaper than a radix sort's
// passes over its counts.
constexpr std::ptrdiff_t kRadixFrom = 1024;
// Runs this short are sorted by insertion.
constexpr std::ptrdiff_t kInsertionMost = 8;
// The radix sort takes a key eleven bits at a time, the least significant
// first: six passes.
constexpr int kDigitBits = 11;
constexpr int kDigits = (64 + kDigitBits - 1) / kDigitBits;
constexpr std::size_t kDigitValues = std::size_t{1} << kDigitBits;
std::size_t digit(uint64_t key, int d) { return (key >> (kDigitBits * d)) & (kDigitValues - 1); }

// The eight bytes of `name` from `at` on as a number, most significant first.
uint64_t key_at(std::string_view name, std::size_t at) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(name.data()) + at;
  if (name.size() >= at + 8) {
    return uint64_t{p[0]} << 56 | uint64_t{p[1]} << 48 | uint64_t{p[2]} << 40 | uint64_t{p[3]} << 32 |
           uint64_t{p[4]} << 24 | uint64_t{p[5]} << 16 | uint64_t{p[6]} << 8 | uint64_t{p[7]};
  }
  uint64_t key = 0;
  for (std::size_t i = at; i < at + 8; ++i) key = key << 8 | (i < name.size() ? p[i - at] : 0u);
  return key;
}

}  // namespace

void SymTree::set_module(const std::string& mod_name) { modules_.push_back(mod_name); }

int SymTree::add_read() {
  std::size_t added = 0;
  switch (kind_) {
    case SymKind::kPublic: added = add_syms(tables_.pub_syms); break;
    case SymKind::kEqu: added = add_syms(tables_.equ_list); break;
    case SymKind::kBit: added = add_syms(tables_.bit_list); break;
    default: added = add_syms(tables_.ext_list); break;
  }
  // The names stay where the nodes point; the lists start again.
  tables_.clear_lists();
  return static_cast<int>(added);
}

template <class List>
std::size_t SymTree::add_syms(const List& list) {
  uint32_t module = static_cast<uint32_t>(modules_.size() - 1);
  for (const auto& entry : list) {
    NameRef name;
    if constexpr (std::is_same_v<typename List::value_type, NameRef>)
      name = entry;
    else
      name = entry.name;
    nodes_.push_back(SymNode{key_at(tables_.name(name), 0), name, module, kind_});
  }
  return list.size();
}

void SymTree::clear() {
  nodes_.clear();
  module_start_.clear();
  tables_.clear();
  modules_.clear();
}

const std::vector<SymNode>& SymTree::in_order() {
  sort_from(nodes_.data(), nodes_.data() + nodes_.size(), 0);
  return nodes_;
}

void SymTree::group_by_module() {
  module_start_.assign(modules_.size() + 1, 0);
  for (const SymNode& n : nodes_) ++module_start_[n.module + 1];
  for (std::size_t k = 1; k < module_start_.size(); ++k) module_start_[k] += module_start_[k - 1];
  // Each module's next place, counted on from where its symbols begin.
  std::vector<std::size_t> at(module_start_.begin(), module_start_.end() - 1);
  scratch_.resize(nodes_.size());
  for (const SymNode& n : nodes_) scratch_[at[n.module]++] = n;
  nodes_.swap(scratch_);
  // Nothing is sorted any more.
  scratch_ = {};
}

void SymTree::sort_from(SymNode* first, SymNode* last, std::size_t depth) {
  for (;;) {
    if (last - first < 2) return;
    uint64_t key = first->key;
    if (std::any_of(first + 1, last, [key](const SymNode& n) { return n.key != key; })) break;
    // One key for all: the names agree in eight more bytes, or are equal.
    depth += 8;
    if (!rekey(first, last, depth)) return;
  }
  if (last - first < kRadixFrom) return sort_few(first, last, depth);
  radix_sort(first, last);
  // Each run of one key: its names agree in eight more bytes, or are equal.
  for (SymNode* run = first; run != last;) {
    SymNode* end = std::find_if(run + 1, last, [run](const SymNode& n) { return n.key != run->key; });
    if (end - run > 1 && rekey(run, end, depth + 8)) sort_from(run, end, depth + 8);
    run = end;
  }
}

bool SymTree::rekey(SymNode* first, SymNode* last, std::size_t depth) {
  bool longer = false;
  for (SymNode* n = first; n != last; ++n) {
    std::string_view s = name(*n);
    longer = longer || s.size() > depth;
    n->key = key_at(s, std::min(depth, s.size()));
  }
  return longer;
}

void SymTree::sort_few(SymNode* first, SymNode* last, std::size_t depth) {
  std::size_t tail = depth + 8;
  // std::char_traits<char> compares characters as unsigned char, so this
  // is byte order whatever the signedness of char. Equal keys mean names
  // that are equal or both at least as long as the bytes the keys hold.
  auto before = [this, tail](const SymNode& a, const SymNode& b) {
    if (a.key != b.key) return a.key < b.key;
    std::string_view x = name(a), y = name(b);
    return x.substr(std::min(tail, x.size())) < y.substr(std::min(tail, y.size()));
  };
  scratch_.resize(std::max(scratch_.size(), static_cast<std::size_t>(last - first)));
  merge_sort(first, last, scratch_.data(), before);
}

template <class Before>
void SymTree::merge_sort(SymNode* first, SymNode* last, SymNode* buffer, Before before) {
  if (last - first <= kInsertionMost) {
    // Each node moves back past the nodes it comes before, and no further.
    for (SymNode* n = first + 1; n < last; ++n) {
      SymNode node = *n;
      SymNode* to = n;
      for (; to != first && before(node, to[-1]); --to) *to = to[-1];
      *to = node;
    }
    return;
  }
  SymNode* middle = first + (last - first) / 2;
  merge_sort(first, middle, buffer, before);
  merge_sort(middle, last, buffer, before);
  if (!before(*middle, middle[-1])) return;  // the halves are in order already
  // The first half waits in the buffer; on a tie it goes first.
  SymNode* left = buffer;
  SymNode* left_end = std::copy(first, middle, buffer);
  SymNode* right = middle;
  SymNode* out = first;
  while (left != left_end && right != last) *out++ = before(*right, *left) ? *right++ : *left++;
  std::copy(left, left_end, out);
}

void SymTree::radix_sort(SymNode* first, SymNode* last) {
  std::size_t n = static_cast<std::size_t>(last - first);
  std::array<std::array<uint32_t, kDigitValues>, kDigits> counts{};
  for (const SymNode* p = first; p != last; ++p)
    for (int d = 0; d < kDigits; ++d) ++counts[d][digit(p->key, d)];
  scratch_.resize(std::max(scratch_.size(), n));
  SymNode* from = first;
  SymNode* to = scratch_.data();
  for (int d = 0; d < kDigits; ++d) {
    std::array<uint32_t, kDigitValues>& count = counts[d];
    // A digit that all keys share moves nothing.
    if (count[digit(first->key, d)] == n) continue;
    uint32_t at = 0;
    for (uint32_t& c : count) at += std::exchange(c, at);
    for (const SymNode* p = from; p != from + n; ++p) to[count[digit(p->key, d)]++] = *p;
    std::swap(from, to);
  }
  if (from != first) std::copy(from, from + n, first);
}
