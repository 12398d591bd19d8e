// The rules of the library format that need more than one record: the
// header against the table, each entry against its own bytes and against
// its body, and the entries against each other.
#include <algorithm>
#include <map>
#include <set>

#include "dump/library_dump.h"
#include "dump/names.h"
#include "format/formats.h"
#include "format/library.h"

namespace dump {

namespace {

// What an entry's records should be, as the order of kEntryRecords says:
// "F0, F1, F2, F4, F5..., F6, FA, F3..., F7, F8, F9 in this order".
const std::string& entry_order() {
  static const std::string order = [] {
    std::string s;
    for (const EntryRecord& r : kEntryRecords)
      s += (s.empty() ? "" : ", ") + tag_name(r.tag) + (r.occurs == Occurs::kAnyNumber ? "..." : "");
    return s + " in this order";
  }();
  return order;
}

const RecordSpan* find(const std::vector<RecordSpan>& records, int tag) {
  for (const RecordSpan& r : records)
    if (r.tag == tag) return &r;
  return nullptr;
}

int64_t bytes_of(const std::vector<RecordSpan>& records, int tag) {
  int64_t n = 0;
  for (const RecordSpan& r : records)
    if (r.tag == tag) n += r.size;
  return n;
}

std::string quoted(const std::string& s) { return "\"" + s + "\""; }
std::string number(int64_t v) { return format("%lld", static_cast<long long>(v)); }

class LibraryCheck {
 public:
  LibraryCheck(const LibraryView& lib, Report& report) : lib_(lib), report_(report) {}

  void run() {
    if (!lib_.header.complete) return;
    header_records();
    header_values();
    for (std::size_t i = 0; i < lib_.entries.size(); ++i) {
      const EntryView& e = lib_.entries[i];
      if (!e.complete) continue;
      entry_records(e);
      entry_lengths(e);
      entry_counts(e);
      entry_time(e);
      if (i < lib_.bodies.size() && lib_.bodies[i].complete) entry_body(e, lib_.bodies[i]);
    }
    names();
    end();
  }

 private:
  // Where the header's record of `tag` is; -1 when it has none (which
  // header_records reports).
  int64_t header_at(int tag) const {
    const RecordSpan* r = find(lib_.header.records, tag);
    return r != nullptr ? r->at : -1;
  }

  void header_records() {
    std::set<int> seen;
    int64_t end = 0;
    for (const RecordSpan& r : lib_.header.records) {
      if (!seen.insert(r.tag).second)
        report_.add(r.at, format("a second header %s record", tag_name(r.tag).c_str()), "F0, F1, F2, F3 and F4 once each");
      end = r.at + r.size;
    }
    for (int tag = fmt::kF0; tag <= fmt::kF4; ++tag)
      if (seen.count(tag) == 0)
        report_.add(end, format("the header has no %s record (%s)", tag_name(tag).c_str(), record_kind(Part::kHeader, tag)),
                    "F0, F1, F2, F3 and F4 once each");
  }

  void header_values() {
    const LibraryHeader& h = lib_.header.values;
    // A library whose modules have no F0 record takes no format from them.
    bool formats = std::any_of(lib_.bodies.begin(), lib_.bodies.end(), [](const ModuleView& m) { return m.has_format; });
    bool bodies_read = lib_.body_end >= 0;
    if (header_at(fmt::kF1) >= 0 && h.hdr_format != fmt::kFormat && !(h.hdr_format.empty() && bodies_read && !formats))
      report_.add(header_at(fmt::kF1), "the header's format is " + quoted(h.hdr_format),
                  std::string(fmt::kFormat) + ", or empty when no module has an F0 record");
    if (header_at(fmt::kF2) >= 0 && !fmt::same_ignoring_case(h.hdr_cpu, fmt::kCpu))
      report_.add(header_at(fmt::kF2), "the header's CPU is " + quoted(h.hdr_cpu), std::string(fmt::kCpu) + ", in any case");
    if (lib_.table_end < 0) return;
    int64_t entries = static_cast<int64_t>(lib_.entries.size());
    if (header_at(fmt::kF3) >= 0 && h.hdr_modules != entries)
      report_.add(header_at(fmt::kF3), "hdr_modules is " + number(h.hdr_modules), number(entries) + ": the entries of the module table");
    if (entries < 1 || entries > fmt::kMaxModules)
      report_.add(lib_.table_end, "the module table holds " + number(entries) + " entries", "1 to 1000 modules");
    int64_t symbols = 0;
    for (const EntryView& e : lib_.entries) symbols += e.values.symbols.symbol_count();
    if (header_at(fmt::kF4) >= 0 && h.hdr_symbols != symbols)
      report_.add(header_at(fmt::kF4), "hdr_symbols is " + number(h.hdr_symbols),
                  number(symbols) + ": the public, EQU, BIT and external symbols of the entries");
  }

  void entry_records(const EntryView& e) {
    int last = -1;
    std::set<int> seen;
    for (const RecordSpan& r : e.records) {
      int rank = entry_rank(r.tag);
      bool again = !seen.insert(r.tag).second;
      if (rank < last || (again && kEntryRecords[rank].occurs != Occurs::kAnyNumber))
        report_.add(r.at, format("entry record %s out of order", tag_name(r.tag).c_str()), entry_order());
      last = std::max(last, rank);
    }
    for (const EntryRecord& r : kEntryRecords)
      if (r.occurs == Occurs::kOnce && seen.count(r.tag) == 0)
        report_.add(e.at,
                    format("the entry has no %s record (%s)", tag_name(r.tag).c_str(), record_kind(Part::kEntry, r.tag)),
                    entry_order());
  }

  void entry_lengths(const EntryView& e) {
    const RecordSpan* f1 = find(e.records, fmt::kF1);
    if (f1 == nullptr) return;
    const TableEntry& v = e.values;
    int64_t after_f1 = e.size - bytes_of(e.records, fmt::kF0) - bytes_of(e.records, fmt::kF1);
    if (v.entry_len != after_f1)
      report_.add(f1->at, "entry_len is " + number(v.entry_len), number(after_f1) + ": the entry's bytes after its F1 record");
    for (const RecordSpan& r : e.records) {
      if (!kEntryRecords[entry_rank(r.tag)].starts_tail) continue;
      int64_t tail = e.at + e.size - r.at;
      if (v.tail_len != tail)
        report_.add(f1->at, "tail_len is " + number(v.tail_len),
                    number(tail) + ": the bytes from the first F3, F7 or F8 record through the end mark");
      break;
    }
  }

  void count(int64_t at, const char* name, int32_t stated, int64_t real, const char* what) {
    if (stated != real) report_.add(at, format("%s is %d", name, stated), number(real) + ": " + what);
  }

  void entry_counts(const EntryView& e) {
    const RecordSpan* f4 = find(e.records, fmt::kF4);
    if (f4 == nullptr) return;
    const auto& f = e.values.f4;
    const SymbolTables& t = e.values.symbols;
    count(f4->at, "pub_count", f[0], t.pub_count(), "the symbols of the F5 records");
    count(f4->at, "pub_size", f[1], bytes_of(e.records, fmt::kF5), "the bytes of the F5 records");
    count(f4->at, "equ_count", f[2], t.equ_count(), "the symbols of the F6 record");
    count(f4->at, "equ_size", f[3], bytes_of(e.records, fmt::kF6), "the bytes of the F6 record");
    count(f4->at, "bit_count", f[4], t.bit_count(), "the symbols of the FA record");
    count(f4->at, "bit_size", f[5], bytes_of(e.records, fmt::kFA), "the bytes of the FA record");
    count(f4->at, "ext_count", f[6], t.ext_count(), "the names of the F7 record");
  }

  void entry_time(const EntryView& e) {
    const RecordSpan* f9 = find(e.records, fmt::kF9);
    if (f9 == nullptr) return;
    static const char* const kNames[] = {"seconds", "minutes", "hours", "day of month", "month", "years since 1900"};
    static const int kLow[] = {0, 0, 0, 1, 0, 0};
    static const int kHigh[] = {61, 59, 23, 31, 11, 65535};
    for (int i = 0; i < 6; ++i) {
      int v = e.values.mod_time[i];
      if (v < kLow[i] || v > kHigh[i])
        report_.add(f9->at, format("mod_time's %s is %d", kNames[i], v), format("%d to %d", kLow[i], kHigh[i]));
    }
  }

  void entry_body(const EntryView& e, const ModuleView& body) {
    const TableEntry& v = e.values;
    if (const RecordSpan* f2 = find(e.records, fmt::kF2); f2 != nullptr && v.mod_size != body.size)
      report_.add(f2->at, "mod_size is " + number(v.mod_size), number(body.size) + ": the bytes of the module's body");
    const RecordSpan* f8 = find(e.records, fmt::kF8);
    if (f8 != nullptr) offsets(f8->at, v, body);
    if (!same_tables(v.symbols, body.append.symbols) && !same_tables(v.symbols, body.replace.symbols))
      report_.add(e.at, "the entry's symbols are not those of its body",
                  "the public, EQU, BIT and external symbols and the F3 descriptors that the body holds");
  }

  void offsets(int64_t at, const TableEntry& v, const ModuleView& body) {
    if (v.mod_offset != body.start)
      report_.add(at, "mod_offset is " + number(v.mod_offset), number(body.start) + ": where the module's body starts");
    first_record(at, "F7", v.offset1_f7, v.abs_f7, body.append.offset1_f7, body.replace.offset1_f7, body.start);
    first_record(at, "F8", v.offset1_f8, v.abs_f8, body.append.offset1_f8, body.replace.offset1_f8, body.start);
  }

  // The position of a body's first F7 or F8 record, from the body's start
  // and from the file's; replace, which stops at some records, may have
  // found an earlier one or none.
  void first_record(int64_t at, const char* tag, int32_t rel, int32_t abs, int32_t real, int32_t real_replace,
                    int64_t start) {
    std::string rel_name = std::string("offset1_") + (tag[1] == '7' ? "f7" : "f8");
    std::string abs_name = std::string("abs_") + (tag[1] == '7' ? "f7" : "f8");
    if (rel != real && rel != real_replace) {
      report_.add(at, format("%s is %d", rel_name.c_str(), rel), number(real) + ": the body's first " + tag + " record");
      return;
    }
    int64_t want = rel != 0 ? start + rel : 0;
    if (abs != want)
      report_.add(at, format("%s is %d", abs_name.c_str(), abs), number(want) + (rel != 0 ? ": mod_offset + " + rel_name : ": none"));
  }

  static bool same_tables(const SymbolTables& a, const SymbolTables& b) {
    auto names = [](const SymbolTables& t) {
      std::vector<std::string> v;
      t.for_each_name([&v](std::string_view n) { v.emplace_back(n); });
      for (const PubBlock& blk : t.pub_list) v.push_back(number(blk.number) + "/" + number(blk.count));
      for (const PubSym& s : t.pub_syms) v.push_back(number(s.value));
      for (const EquSym& s : t.equ_list) v.push_back(number(s.value));
      for (const BitSym& s : t.bit_list) v.push_back(number(s.number) + "/" + number(s.value));
      for (const F3Entry& f : t.f3_list)
        v.push_back(std::string(t.name(f.name)) + "/" + number(f.number) + "/" + number(f.byte1) + "/" +
                    number(f.byte2) + "/" + number(f.value) + "/" + number(f.long_value));
      v.push_back(number(t.pub_count()) + "/" + number(t.equ_count()) + "/" + number(t.bit_count()) + "/" +
                  number(t.ext_count()));
      return v;
    };
    return names(a) == names(b);
  }

  // Global names defined twice, and module names that selection by name
  // cannot tell apart.
  void names() {
    std::map<std::string, const EntryView*> defined;
    std::map<std::string, const EntryView*> by_name;
    for (const EntryView& e : lib_.entries) {
      if (!e.complete) continue;
      std::set<std::string> own;
      e.values.symbols.for_each_definition([&](std::string_view n) {
        std::string name(n);
        if (!own.insert(name).second) return;
        auto [it, added] = defined.emplace(name, &e);
        if (!added)
          report_.add(e.at, format("global name %s of %s is defined by %s too", quoted(name).c_str(),
                                   e.values.mod_name.c_str(), it->second->values.mod_name.c_str()),
                      "each public, EQU and BIT name defined by one module");
      });
      std::string key = e.values.mod_name;
      for (char& c : key) c = fmt::upper_ascii(c);
      auto [it, added] = by_name.emplace(key, &e);
      // Equal names are the librarian's own doing (it never compares them);
      // names that differ in case only are not.
      const std::string& other = it->second->values.mod_name;
      if (!added && other != e.values.mod_name)
        report_.add(e.at, format("module names %s and %s differ only in letter case: neither can be selected by name",
                                 quoted(e.values.mod_name).c_str(), quoted(other).c_str()),
                    "module names that differ in more than letter case");
      if (e.values.mod_name.empty()) report_.add(e.at, "the module name is empty", "the name of the module's file");
    }
  }

  void end() {
    if (lib_.body_end >= 0 && lib_.body_end + 1 < lib_.size)
      report_.add(lib_.body_end + 1, byte_count(lib_.size - lib_.body_end - 1) + " after the body section's end mark",
                  "the file ends with the end mark");
  }

  const LibraryView& lib_;
  Report& report_;
};

}  // namespace

void check_library(const LibraryView& lib, Report& report) { LibraryCheck(lib, report).run(); }

}  // namespace dump
