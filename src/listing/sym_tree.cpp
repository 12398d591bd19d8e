#include "listing/sym_tree.h"

#include <algorithm>
#include <string_view>

namespace {

// std::char_traits<char> compares characters as unsigned char, so this is
// byte order whatever the signedness of char.
bool name_less(const SymNode& a, const SymNode& b) {
  return std::string_view(a.name) < std::string_view(b.name);
}

}  // namespace

void SymTree::set_module(const std::string& mod_name) {
  module_ = std::make_shared<const std::string>(mod_name);
}

void SymTree::add_sym(std::string_view name) {
  nodes_.push_back(SymNode{std::string(name), module_, kind_});
}

const std::vector<SymNode>& SymTree::in_order() {
  std::stable_sort(nodes_.begin(), nodes_.end(), name_less);
  return nodes_;
}
