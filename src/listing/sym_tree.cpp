#include "listing/sym_tree.h"

#include <algorithm>

void SymTree::set_module(const std::string& mod_name) { modules_.push_back(mod_name); }

void SymTree::add_sym(std::string_view name) {
  uint64_t prefix = 0;
  for (std::size_t i = 0; i < 8; ++i)
    prefix = (prefix << 8) | (i < name.size() ? static_cast<unsigned char>(name[i]) : 0u);
  nodes_.push_back(SymNode{prefix, names_.keep(name), static_cast<uint32_t>(modules_.size() - 1), kind_});
}

void SymTree::clear() {
  nodes_.clear();
  names_.clear();
  modules_.clear();
}

const std::vector<SymNode>& SymTree::in_order() {
  // std::char_traits<char> compares characters as unsigned char, so this is
  // byte order whatever the signedness of char. A name holds no NUL, so a
  // shorter name, padded with zeros, comes before the longer names it begins.
  std::stable_sort(nodes_.begin(), nodes_.end(), [this](const SymNode& a, const SymNode& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return name(a) < name(b);
  });
  return nodes_;
}
