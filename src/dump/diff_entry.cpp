// Two module-table entries compared value by value, and their symbol
// tables name by name.
#include <map>

#include "dump/diff_parts.h"

namespace dump {

void add_if_different(std::vector<Difference>& out, DiffWhat what, const std::optional<std::string>& module,
                      std::string field, DiffValue a, DiffValue b) {
  if (a != b) out.push_back({what, module, std::move(field), std::move(a), std::move(b)});
}

std::vector<int> pair_by_key(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  // The places of each key in B, taken in order as A meets the key.
  std::map<std::string_view, std::vector<int>> in_b;
  for (int j = static_cast<int>(b.size()) - 1; j >= 0; --j) in_b[b[j]].push_back(j);
  std::vector<int> partner(a.size(), -1);
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto it = in_b.find(a[i]);
    if (it == in_b.end() || it->second.empty()) continue;
    partner[i] = it->second.back();
    it->second.pop_back();
  }
  return partner;
}

namespace {

// Adds a difference of a module's entry when the two values differ.
struct EntryDiffs {
  const std::optional<std::string>& module;
  std::vector<Difference>& out;

  void add(std::string field, DiffValue a, DiffValue b) const {
    add_if_different(out, DiffWhat::kEntry, module, std::move(field), std::move(a), std::move(b));
  }
};

DiffValue time_value(const ModTime& t) { return DiffValue::list(DiffValue::Kind::kTime, {t.begin(), t.end()}); }

// One symbol of a table: its name, its value and what else it carries (a
// public symbol's block, a BIT symbol's number).
struct Symbol {
  std::string name;
  DiffValue value;
  DiffValue attribute;
};

// The symbols of one kind, in the order the table lists them.
struct SymbolKind {
  const char* field;      // "public": the field of symbol NAME is "public NAME"
  const char* attribute;  // the field of what else it carries, after the name
  std::vector<Symbol> symbols;
};

std::vector<SymbolKind> kinds_of(const SymbolTables& t) {
  std::vector<SymbolKind> kinds = {{"public", "block", {}}, {"equ", "", {}}, {"bit", "number", {}},
                                   {"external", "", {}}, {"descriptor", "", {}}};
  auto name = [&t](NameRef n) { return std::string(t.name(n)); };
  for (const PubBlock& b : t.pub_list)
    for (const PubSym& s : t.syms(b))
      kinds[0].symbols.push_back({name(s.name), DiffValue::hex(s.value, 3), DiffValue::hex(b.number, 2)});
  for (const EquSym& s : t.equ_list) kinds[1].symbols.push_back({name(s.name), DiffValue::hex(s.value, 4), {}});
  for (const BitSym& s : t.bit_list)
    kinds[2].symbols.push_back({name(s.name), DiffValue::hex(s.value, 3), DiffValue::hex(s.number, 2)});
  for (NameRef n : t.ext_list) kinds[3].symbols.push_back({name(n), DiffValue::present(), {}});
  for (const F3Entry& f : t.f3_list)
    kinds[4].symbols.push_back(
        {name(f.name),
         DiffValue::list(DiffValue::Kind::kDescriptor, {f.number, f.byte1, f.byte2, f.value, f.long_value}),
         {}});
  return kinds;
}

std::vector<std::string> names_of(const SymbolKind& k) {
  std::vector<std::string> names;
  for (const Symbol& s : k.symbols) names.push_back(s.name);
  return names;
}

// Symbols of a kind that only one side has, changed in value, or changed in
// what else they carry: A's in A's order, then those only B has.
void compare_kind(const SymbolKind& a, const SymbolKind& b, const EntryDiffs& diffs) {
  std::vector<int> partner = pair_by_key(names_of(a), names_of(b));
  std::vector<bool> paired(b.symbols.size());
  for (std::size_t i = 0; i < a.symbols.size(); ++i) {
    const Symbol& s = a.symbols[i];
    std::string field = std::string(a.field) + " " + s.name;
    if (partner[i] < 0) {
      diffs.add(field, s.value, {});
      continue;
    }
    const Symbol& other = b.symbols[static_cast<std::size_t>(partner[i])];
    paired[static_cast<std::size_t>(partner[i])] = true;
    diffs.add(field, s.value, other.value);
    diffs.add(field + " " + a.attribute, s.attribute, other.attribute);
  }
  for (std::size_t j = 0; j < b.symbols.size(); ++j)
    if (!paired[j]) diffs.add(std::string(b.field) + " " + b.symbols[j].name, {}, b.symbols[j].value);
}

}  // namespace

void compare_entries(const TableEntry& a, const TableEntry& b, bool ignore_times,
                     const std::optional<std::string>& module, std::vector<Difference>& out) {
  static const char* const kF4[] = {"pub_count", "pub_size", "equ_count", "equ_size", "bit_count", "bit_size", "ext_count"};
  const EntryDiffs diffs{module, out};
  // Modules are paired by name in any letter case, as the librarian selects them.
  diffs.add("mod_name", DiffValue::str(a.mod_name), DiffValue::str(b.mod_name));
  diffs.add("mod_size", DiffValue::count(a.mod_size), DiffValue::count(b.mod_size));
  for (std::size_t i = 0; i < a.f4.size(); ++i) diffs.add(kF4[i], DiffValue::count(a.f4[i]), DiffValue::count(b.f4[i]));
  diffs.add("offset1_f7", DiffValue::count(a.offset1_f7), DiffValue::count(b.offset1_f7));
  diffs.add("offset1_f8", DiffValue::count(a.offset1_f8), DiffValue::count(b.offset1_f8));
  if (!ignore_times) diffs.add("mod_time", time_value(a.mod_time), time_value(b.mod_time));
}

void compare_symbols(const SymbolTables& a, const SymbolTables& b, const std::optional<std::string>& module,
                     std::vector<Difference>& out) {
  const EntryDiffs diffs{module, out};
  std::vector<SymbolKind> in_a = kinds_of(a);
  std::vector<SymbolKind> in_b = kinds_of(b);
  for (std::size_t k = 0; k < in_a.size(); ++k) compare_kind(in_a[k], in_b[k], diffs);
}

}  // namespace dump
