#include "listing/sym_tree.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

// Below this many symbols a comparison sort is cheaper than a radix sort's
// passes over its counts.
constexpr std::ptrdiff_t kRadixFrom = 256;

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

void SymTree::set_kind(SymKind kind) {
  kind_ = kind;
  added_ = static_cast<std::size_t>(listed());
}

int SymTree::listed() const {
  switch (kind_) {
    case SymKind::kPublic: return tables_.pub_count();
    case SymKind::kEqu: return tables_.equ_count();
    case SymKind::kBit: return tables_.bit_count();
    default: return tables_.ext_count();
  }
}

int SymTree::add_read() {
  std::size_t from = added_;
  added_ = static_cast<std::size_t>(listed());
  for (std::size_t i = from; i < added_; ++i) {
    switch (kind_) {
      case SymKind::kPublic: add_sym(tables_.pub_syms[i].name); break;
      case SymKind::kEqu: add_sym(tables_.equ_list[i].name); break;
      case SymKind::kBit: add_sym(tables_.bit_list[i].name); break;
      default: add_sym(tables_.ext_list[i]); break;
    }
  }
  return static_cast<int>(added_ - from);
}

void SymTree::add_sym(NameRef name) {
  nodes_.push_back(SymNode{key_at(tables_.name(name), 0), name, static_cast<uint32_t>(modules_.size() - 1), kind_});
}

void SymTree::clear() {
  nodes_.clear();
  tables_.clear();
  added_ = 0;
  modules_.clear();
}

const std::vector<SymNode>& SymTree::in_order() {
  sort_from(nodes_.data(), nodes_.data() + nodes_.size(), 0);
  return nodes_;
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
  std::stable_sort(first, last, [this, tail](const SymNode& a, const SymNode& b) {
    if (a.key != b.key) return a.key < b.key;
    std::string_view x = name(a), y = name(b);
    return x.substr(std::min(tail, x.size())) < y.substr(std::min(tail, y.size()));
  });
}

void SymTree::radix_sort(SymNode* first, SymNode* last) {
  std::size_t n = static_cast<std::size_t>(last - first);
  std::array<std::array<uint32_t, 256>, 8> counts{};
  for (const SymNode* p = first; p != last; ++p)
    for (int b = 0; b < 8; ++b) ++counts[b][(p->key >> (8 * b)) & 0xFF];
  scratch_.resize(std::max(scratch_.size(), n));
  SymNode* from = first;
  SymNode* to = scratch_.data();
  for (int b = 0; b < 8; ++b) {
    std::array<uint32_t, 256>& count = counts[b];
    // A byte that all keys share moves nothing.
    if (count[(first->key >> (8 * b)) & 0xFF] == n) continue;
    uint32_t at = 0;
    for (uint32_t& c : count) at += std::exchange(c, at);
    for (const SymNode* p = from; p != from + n; ++p) to[count[(p->key >> (8 * b)) & 0xFF]++] = *p;
    std::swap(from, to);
  }
  if (from != first) std::copy(from, from + n, first);
}
