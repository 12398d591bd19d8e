// vornadump --diff. Two libraries are compared by what they hold: the
// header's values; the modules, paired by name; for each module both hold
// its entry's values, its symbols and its body. A position that only
// follows from the modules before (a body's offset in the library) is no
// difference.
//
// Each library is read through two streams, one in the module table and one
// in the bodies, so that neither goes back and forth between the two. The
// table is read once for the entries' fixed records; a module's symbol
// records and its body are then compared byte for byte, and read record by
// record only where they differ. Nothing but the entries' fixed values is
// held.
#include "dump/diff.h"

#include <algorithm>
#include <memory>

#include "dump/diff_parts.h"
#include "dump/sinks.h"
#include "format/formats.h"
#include "format/module.h"
#include "format/stdfnc.h"
#include "host/host.h"

namespace dump {

namespace {

struct FileCloser {
  void operator()(std::FILE* fp) const { std::fclose(fp); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// One stream of a file being compared, read in blocks of 256 KiB: the
// bodies are long runs read through.
struct Stream {
  FilePtr fp;
  InputFile file{1 << 18};
  RecIn in{file};

  bool open(const std::string& name, int64_t& size, std::FILE* err) {
    fp.reset(open_input(name, size, err));
    if (fp == nullptr) return false;
    file.attach(fp.get(), name);
    file.expect_size(size);
    return true;
  }
};

// A file being compared: its table stream and its body stream.
struct Side {
  explicit Side(std::string n) : name(std::move(n)) {}

  std::string name;
  int64_t size = 0;
  Stream table;
  Stream bodies;

  bool open(std::FILE* err) { return table.open(name, size, err) && bodies.open(name, size, err); }
};

// A module-table entry's fixed values, and where the rest of the module lies.
struct EntryPlace {
  TableEntry values;
  int64_t symbols_at = 0;  // the entry's symbol records
  int64_t symbols_size = 0;
  int64_t body_at = 0;
};

struct Library {
  LibraryHeader header;
  std::vector<EntryPlace> entries;
};

// Reads the header and the module table, and places the bodies after it by
// their sizes, which must lie within the file. A table of more modules than
// a library holds is refused, which bounds what is kept of it.
Library read_table(Side& side) {
  RecIn& in = side.table.in;
  Library lib;
  get_header(in, lib.header);
  for (;;) {
    EntryPlace e;
    if (get_rotbl(in, e.values, EntryPart::kFixed, nullptr, &e.symbols_at) == 0) break;
    if (lib.entries.size() == fmt::kMaxModules) in.malformed();
    // An entry without an F4 record has no symbol records that could be found.
    if (e.symbols_at < 0) e.symbols_at = 0;
    else e.symbols_size = e.values.entry_len - fmt::kEntryFixed;
    lib.entries.push_back(std::move(e));
  }
  int64_t at = in.tell();
  for (EntryPlace& e : lib.entries) {
    e.body_at = at;
    at += e.values.mod_size;
    if (e.values.mod_size < 0 || at > side.size) in.malformed();
  }
  return lib;
}

// Reads the symbol records of an entry into `e`.
void read_symbols(RecIn& in, const EntryPlace& place, TableEntry& e) {
  in.file().seek(place.symbols_at);
  free_tables(e.symbols);
  const int64_t end = place.symbols_at + place.symbols_size;
  while (in.tell() < end) {
    int tag = in.get_tag();
    int rank = entry_rank(tag);
    if (rank < 0 || kEntryRecords[rank].occurs == Occurs::kOnce || !read_entry_record(in, tag, &e)) in.malformed();
  }
  if (in.tell() != end) in.malformed();
}

// Names as modules are paired: in any letter case.
std::vector<std::string> name_keys(const Library& lib) {
  std::vector<std::string> keys;
  for (const EntryPlace& e : lib.entries) {
    std::string key = e.values.mod_name;
    for (char& c : key) c = fmt::upper_ascii(c);
    keys.push_back(std::move(key));
  }
  return keys;
}

class LibraryDiff {
 public:
  LibraryDiff(Side& a, Side& b, bool ignore_times, std::vector<Difference>& out)
      : a_(a), b_(b), ignore_times_(ignore_times), out_(out) {}

  void run() {
    la_ = read_table(a_);
    lb_ = read_table(b_);
    header();
    partner_ = pair_by_key(name_keys(la_), name_keys(lb_));
    in_a_.assign(lb_.entries.size(), false);
    for (int j : partner_)
      if (j >= 0) in_a_[static_cast<std::size_t>(j)] = true;
    order();
    // A's modules in A's order; a module that only B holds comes just
    // before the first module of A whose partner stands after it in B.
    std::size_t next_b = 0;
    for (std::size_t i = 0; i < la_.entries.size(); ++i) {
      if (partner_[i] < 0) {
        only(DiffWhat::kOnlyInA, la_, i);
        continue;
      }
      std::size_t j = static_cast<std::size_t>(partner_[i]);
      for (; next_b < j; ++next_b) only_in_b(next_b);
      next_b = std::max(next_b, j + 1);
      module(la_.entries[i], lb_.entries[j]);
    }
    for (; next_b < lb_.entries.size(); ++next_b) only_in_b(next_b);
  }

 private:
  void header() {
    const LibraryHeader& a = la_.header;
    const LibraryHeader& b = lb_.header;
    auto add = [this](const char* field, DiffValue va, DiffValue vb) {
      add_if_different(out_, DiffWhat::kHeader, std::nullopt, field, std::move(va), std::move(vb));
    };
    add("version", DiffValue::str(a.hdr_version), DiffValue::str(b.hdr_version));
    add("format", DiffValue::str(a.hdr_format), DiffValue::str(b.hdr_format));
    add("cpu", DiffValue::str(a.hdr_cpu), DiffValue::str(b.hdr_cpu));
    add("modules", DiffValue::count(a.hdr_modules), DiffValue::count(b.hdr_modules));
    add("symbols", DiffValue::count(a.hdr_symbols), DiffValue::count(b.hdr_symbols));
  }

  // The modules both hold, once in A's order and once in B's: one
  // difference when the two orders are not the same. A's side also tells
  // where each of them stands among them in B.
  void order() {
    std::vector<std::string> in_a, in_b;
    std::vector<int64_t> place_in_b(lb_.entries.size(), -1);
    for (std::size_t j = 0; j < lb_.entries.size(); ++j) {
      if (!in_a_[j]) continue;
      place_in_b[j] = static_cast<int64_t>(in_b.size());
      in_b.push_back(lb_.entries[j].values.mod_name);
    }
    std::vector<int64_t> places;
    for (std::size_t i = 0; i < la_.entries.size(); ++i) {
      if (partner_[i] < 0) continue;
      in_a.push_back(la_.entries[i].values.mod_name);
      places.push_back(place_in_b[static_cast<std::size_t>(partner_[i])]);
    }
    if (std::is_sorted(places.begin(), places.end())) return;
    DiffValue a = DiffValue::module_names(std::move(in_a));
    a.numbers = std::move(places);
    out_.push_back({DiffWhat::kOrder, std::nullopt, "", std::move(a), DiffValue::module_names(std::move(in_b))});
  }

  void only_in_b(std::size_t j) {
    if (!in_a_[j]) only(DiffWhat::kOnlyInB, lb_, j);
  }

  void only(DiffWhat what, const Library& lib, std::size_t i) {
    DiffValue number = DiffValue::count(static_cast<int64_t>(i) + 1);
    Difference d{what, lib.entries[i].values.mod_name, ""};
    (what == DiffWhat::kOnlyInA ? d.a : d.b) = number;
    out_.push_back(std::move(d));
  }

  void module(const EntryPlace& a, const EntryPlace& b) {
    const std::optional<std::string> name = a.values.mod_name;
    compare_entries(a.values, b.values, ignore_times_, name, out_);
    RecIn& ta = a_.table.in;
    RecIn& tb = b_.table.in;
    ta.file().seek(a.symbols_at);
    tb.file().seek(b.symbols_at);
    if (first_difference(ta, a.symbols_size, tb, b.symbols_size) >= 0) {
      read_symbols(ta, a, symbols_a_);
      read_symbols(tb, b, symbols_b_);
      compare_symbols(symbols_a_.symbols, symbols_b_.symbols, name, out_);
    }
    std::optional<Difference> body = compare_bodies({a_.bodies.in, a.body_at, a.values.mod_size},
                                                    {b_.bodies.in, b.body_at, b.values.mod_size}, name);
    if (body) out_.push_back(std::move(*body));
  }

  Side& a_;
  Side& b_;
  bool ignore_times_;
  std::vector<Difference>& out_;
  Library la_, lb_;
  std::vector<int> partner_;  // for each module of A, its partner in B
  std::vector<bool> in_a_;    // for each module of B, whether A holds it too
  TableEntry symbols_a_, symbols_b_;  // the symbols of a module whose records differ
};

// A relocatable module read through as append reads it: the entry that
// append would make of it, but for its time.
TableEntry module_entry(RecIn& in) {
  static const RomodFaults kNoDetails{};
  ModuleScan scan;
  ModuleWalker walker(in, kNoDetails, &scan);
  for (int tag = in.get_tag(); tag != fmt::kEnd; tag = in.get_tag())
    if (tag < 0 || !walker.record(tag)) in.malformed();
  if (in.tell() > fmt::kMaxOffset) in.malformed();
  TableEntry e;
  e.mod_size = static_cast<int32_t>(in.tell());
  e.symbols = std::move(scan.symbols);
  e.f4 = {e.symbols.pub_count(), 0, e.symbols.equ_count(), 0, e.symbols.bit_count(), 0, e.symbols.ext_count()};
  e.offset1_f7 = scan.offset1_f7;
  e.offset1_f8 = scan.offset1_f8;
  // Writing the entry, only to count its bytes, sets its F4 sizes.
  RecOut counter;
  put_rotbl(counter, e);
  return e;
}

void compare_modules(Side& a, Side& b, std::vector<Difference>& out) {
  const TableEntry ea = module_entry(a.table.in);
  const TableEntry eb = module_entry(b.table.in);
  compare_entries(ea, eb, true, std::nullopt, out);
  compare_symbols(ea.symbols, eb.symbols, std::nullopt, out);
  std::optional<Difference> body =
      compare_bodies({a.bodies.in, 0, ea.mod_size}, {b.bodies.in, 0, eb.mod_size}, std::nullopt);
  if (body) out.push_back(std::move(*body));
}

// A file that is neither a readable library nor a readable module: what
// --check finds in it follows the message.
void unreadable(const std::string& name, bool library, const Options& options, std::FILE* err) {
  std::fprintf(err, "vornadump: %s: not a readable %s; vornadump --check finds:\n", host::for_console(name).c_str(),
               library ? "library" : "module");
  Options check = options;
  check.check = true;
  check.json = false;
  check.reading = library ? Reading::kLibrary : Reading::kModule;
  std::unique_ptr<Sink> sink = check_sink(err);
  dump_file(name, check, *sink, err);
}

}  // namespace

Status diff_files(const Options& options, std::FILE* out, std::FILE* err) {
  Side a(options.files[0]);
  Side b(options.files[1]);
  bool opened = a.open(err);
  if (!b.open(err) || !opened) return kUnreadable;
  Comparison c{a.name, b.name, false, options.ignore_times, {}};
  try {
    c.library = reads_as_library(a.table.in, a.name, options.reading);
    if (c.library != reads_as_library(b.table.in, b.name, options.reading)) {
      std::fprintf(err, "vornadump: --diff compares two libraries or two modules: %s is a %s, %s a %s\n",
                   host::for_console(a.name).c_str(), c.library ? "library" : "module",
                   host::for_console(b.name).c_str(), c.library ? "module" : "library");
      return kUsage;
    }
    if (c.library) LibraryDiff(a, b, options.ignore_times, c.differences).run();
    else compare_modules(a, b, c.differences);
  } catch (const FormatError& e) {
    if (e.kind != FormatError::Kind::kMalformed) {
      cannot_read(e.file, err);
      return kUnreadable;
    }
    unreadable(e.file, c.library, options, err);
    return kUsage;
  }
  if (options.json) write_json(out, c);
  else write_text(out, c);
  return c.differences.empty() ? kClean : kBroken;
}

}  // namespace dump
