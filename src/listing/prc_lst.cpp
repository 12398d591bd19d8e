// The list command: a paged listing of a library.
//
// The listing shows the library's header values, its module table with the
// position and size of every module body, the library's PUBLIC and EXTERN
// symbol tables and then each module's own PUBLIC and EXTERN tables. Names
// given with -f restrict the symbol tables to the modules they select; the
// module table always shows every module.
//
// Everything comes from the module table, which is read once for every part
// of the listing; the module bodies are never read. Each pass reads an entry
// up to its F4 record and then either collects the symbols it needs and
// steps over the rest, or steps over the whole remainder of the entry.
#include <algorithm>
#include <initializer_list>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/def_index.h"
#include "core/disp_fname.h"
#include "core/errors.h"
#include "core/rotbl.h"
#include "core/select.h"
#include "format/formats.h"
#include "format/library.h"
#include "format/stdfnc.h"
#include "format/trace.h"
#include "host/host.h"
#include "listing/layout.h"
#include "listing/listing.h"

namespace {

// The symbols read for the table being built.
struct SymCounts {
  int pub = 0;
  int equ = 0;
  int bit = 0;
  int ext = 0;
};

// Steps over one entry record whose tag was just read; false when the tag is
// not one of `allowed`.
bool skip_record(RecIn& in, int tag, std::initializer_list<int> allowed) {
  return std::find(allowed.begin(), allowed.end(), tag) != allowed.end() && read_entry_record(in, tag, nullptr);
}

// The running count of a kind of symbol while its records are read: the
// listing counts the symbols of all modules of a table.
class CountTrace : public FormatTrace {
 public:
  explicit CountTrace(const TraceOut& trace) : trace_(trace) {}
  // The next symbols are counted with `format` from `before` on.
  void start(const char* format, int before) {
    format_ = format;
    before_ = before;
  }
  void symbol_read(SymKind, int count) override {
    trace_.move_cursor(1, 24);
    std::fprintf(trace_.out(), format_, before_ + count);
  }

 private:
  const TraceOut& trace_;
  const char* format_ = "";
  int before_ = 0;
};

// A module-table value as the listing shows it: eight upper-case
// hexadecimal digits.
void put_hex32(std::string& line, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  for (int shift = 28; shift >= 0; shift -= 4) line += "0123456789ABCDEF"[(u >> shift) & 0xF];
}

// The library's file name as the header block shows it: its base name with
// the extension it was given, in upper case, in the code page of the
// module names beside it.
std::string shown_lib_name(const LibraryFiles& files) {
  std::string name = files.name;
  std::size_t dot = files.lib_name.rfind('.');
  if (dot != std::string::npos) name += files.lib_name.substr(dot);
  for (char& c : name) c = fmt::upper_ascii(c);
  return host::for_text_file(name);
}

class ListCommand {
 public:
  explicit ListCommand(Run& run)
      : run_(run),
        trace_(run.trace),
        plan_(run.files),
        in_(run.files.lib_in, run.files.lib_name),
        lst_(run),
        counts_(run.trace) {}

  CommitPlan run();

 private:
  void parse_lst0();
  void parse_lst1();
  void parse_lst2();
  void parse_lst3();
  void parse_lst4();
  void parse_lst5();

  int get_rotbl04();
  void get_f5lst(std::size_t entry);
  void get_f7lst(std::size_t entry);
  int skip_f563();
  void skip_tmnt();

  // Back to the start of the library; the stream then stands at the first entry.
  void rewind();
  bool selected() const { return run_.line.ftree.empty() || fname_search(run_, entry_) >= 0; }
  // Reads the module table; `read` collects the symbols of each selected
  // module, the other modules are stepped over.
  // `read` is given the entry's place in the table.
  template <class Read>
  void for_each_module(Read read);
  // Reads the symbol records of one kind (tag `record`) into the tree with
  // `read`, from the record whose tag `tag` was just read on, counting their
  // names in `count`; returns the first tag of another kind.
  template <class Read>
  int read_names(int tag, int record, Read read, int& count, const char* trace_format);
  // Steps over the records from `tag` through the entry's end mark.
  void skip_to_end(int tag, std::initializer_list<int> allowed);
  void module_line();
  void global_title(const char* format, int count);
  void module_title(int count);
  // A per-module section: its page and title, then for each selected module
  // its title line with its count of symbols, and its table: the module's
  // symbols of `tree`, which the library's table of them left. `traced`
  // shows what reading the entry's records would show in a trace.
  template <class Traced>
  void module_section(const char* title, const SymTree& tree, Traced traced);
  void trace_f5lst(std::span<const SymNode> nodes);

  Run& run_;
  // Asked at every entry: kept here rather than reached through the run.
  const TraceOut trace_;
  CommitPlan plan_;  // the header, whose counts the run shows
  TableEntry entry_;  // the entry being read
  std::optional<NameDisplay> shown_;
  RecIn in_;
  Listing lst_;
  SymCounts n_;
  CountTrace counts_;
  // The library's tables of public and of external symbols, for the module
  // sections, and where each entry ends: the module sections read no symbol.
  SymTree publics_;
  SymTree externals_;
  std::vector<int64_t> entry_ends_;
  std::vector<int64_t> symbols_end_;  // the first record after an entry's public, EQU and BIT records
};

// The trace formats of the running symbol counts.
constexpr const char* kPublicCount = "_public synbol count = %d";
constexpr const char* kEquCount = "_public EQU count = %d";
constexpr const char* kBitCount = "_public BIT count = %d";

CommitPlan ListCommand::run() {
  read_header(run_, plan_.header, nullptr);
  // Every given name must denote a module before anything is written.
  select_modules(run_, entry_);
  shown_.emplace(run_, "LISTOUT FILE = ");
  free_tables(entry_.symbols);

  parse_lst0();
  parse_lst1();
  free_tables(entry_.symbols);
  parse_lst2();
  parse_lst3();
  parse_lst4();
  parse_lst5();

  put_ff(lst_);
  if (std::fputc(0x1A, lst_.fp) == EOF) error_exit(kListWriteFailed);
  // The tree is empty by now; its release after the command shows in the trace.
  freel(lst_);
  return std::move(plan_);
}

void ListCommand::rewind() {
  run_.files.lib_in.seek(0);
  get_header(in_, plan_.header);
}

template <class Read>
void ListCommand::for_each_module(Read read) {
  for (std::size_t entry = 0; get_rotbl04() != 0; ++entry) {
    if (selected())
      read(entry);
    else
      skip_tmnt();
    if (entry_ends_.size() == entry) entry_ends_.push_back(in_.tell());
  }
}

// The header block on the first page.
void ListCommand::parse_lst0() {
  trace_.line(",parse_lst0\n");
  rewind();
  ModTime t;
  // The library as this run reads it, whatever has taken its name since.
  get_ftime(run_.line.source_date, run_.files.lib_fp, t);
  lst_page(lst_);
  std::FILE* fp = lst_.fp;
  std::fprintf(fp, "Library file name:       %s\n", shown_lib_name(run_.files).c_str());
  const LibraryHeader& h = plan_.header;
  std::fprintf(fp, "Relocatable format:      %s\n", h.hdr_format.c_str());
  std::fprintf(fp, "Last update time:        %4d-%s-%02d %02d:%02d\n", t[5] + 1900, month_name(t[4]), t[3],
               t[2], t[1]);
  std::fprintf(fp, "Number of modules:       %-5d\n", h.hdr_modules);
  std::fprintf(fp, "Number of global symbol: %-5d\n\n\n", h.hdr_symbols);
  lst_.line_cnt = 8;
}

// The module table: every module, selected or not, with its body's offset and size.
void ListCommand::parse_lst1() {
  trace_.line(",parse_lst1\n");
  std::fputs("Module_name:\n", lst_.fp);
  for (;;) {
    ++lst_.line_cnt;
    if (get_modname(run_, entry_) == 0) return;
    if (lst_.line_cnt >= kPageLength) {
      lst_page(lst_);
      std::fputs("Module_name\n", lst_.fp);
      ++lst_.line_cnt;
    }
    module_line();
  }
}

// The lines of the module table and the modules' titles are put together
// by hand: a thousand modules make thousands of them.
void ListCommand::module_line() {
  const TableEntry& r = entry_;
  std::string line;
  line.reserve(r.mod_name.size() + 48);
  line += r.mod_name;
  fill_to(line, '.', 14);
  line += " offset: ";
  put_hex32(line, r.mod_offset);
  line += "H module size: ";
  put_hex32(line, r.mod_size);
  line += "H \n";
  std::fwrite(line.data(), 1, line.size(), lst_.fp);
}

void ListCommand::global_title(const char* format, int count) {
  lst_page(lst_);
  std::fprintf(lst_.fp, format, count);
  std::fputs("  Symbol_name:     Module_name:          Symbol_name:     Module_name:\n\n", lst_.fp);
}

// The library's PUBLIC table: public, EQU and BIT symbols of the selected modules.
void ListCommand::parse_lst2() {
  trace_.line(",parse_lst2\n");
  rewind();
  n_ = SymCounts{};
  lst_.sym_tree.reserve(expected_names(plan_.header));
  for_each_module([this](std::size_t entry) {
    if (run_.line.ftree.empty()) shown_->all_files();
    shown_->disp_fname(host::module_file_name(entry_.mod_name));
    get_f5lst(entry);
  });
  global_title("PUBLIC symbol table ( symbol count = %04d ) \n\n", n_.pub + n_.equ + n_.bit);
  end_glob(lst_, publics_);
}

// The library's EXTERN table: the external names of the selected modules.
void ListCommand::parse_lst3() {
  trace_.line(",parse_lst3\n");
  rewind();
  n_ = SymCounts{};
  lst_.sym_tree.reserve(expected_names(plan_.header));
  for_each_module([this](std::size_t entry) { get_f7lst(entry); });
  global_title("EXTERN symbol table ( symbol count = %04d ) \n\n", n_.ext);
  end_glob(lst_, externals_);
}

void ListCommand::module_title(int count) {
  std::string line;
  line.reserve(entry_.mod_name.size() + 48);
  line += "Module_name: ";
  line += entry_.mod_name;
  line += " ( symbol count ) = ";
  put_decimal(line, count, 4, ' ');
  line += "\n\n";
  std::fwrite(line.data(), 1, line.size(), lst_.fp);
}

template <class Traced>
void ListCommand::module_section(const char* title, const SymTree& tree, Traced traced) {
  rewind();
  lst_page(lst_);
  std::fputs(title, lst_.fp);
  lst_.line_cnt += 4;
  std::size_t module = 0;
  for_each_module([&](std::size_t entry) {
    std::span<const SymNode> nodes = tree.of_module(module++);
    traced(nodes);
    // The library's table read the entry's symbols: on to its end.
    run_.files.lib_in.seek(entry_ends_[entry]);
    module_title(static_cast<int>(nodes.size()));
    end_mod(lst_, tree, nodes);
  });
}

// What reading a module's public, EQU and BIT symbols shows in a trace: the
// count of each kind running up, in the order the entry lists them.
void ListCommand::trace_f5lst(std::span<const SymNode> nodes) {
  trace_.line(",get_f5lst\n");
  if (!trace_.on()) return;
  for (auto [kind, format] : {std::pair{SymKind::kPublic, kPublicCount}, std::pair{SymKind::kEqu, kEquCount},
                              std::pair{SymKind::kBit, kBitCount}}) {
    counts_.start(format, 0);
    int n = 0;
    for (const SymNode& node : nodes)
      if (node.kind == kind) counts_.symbol_read(kind, ++n);
  }
}

// Each selected module's PUBLIC table.
void ListCommand::parse_lst4() {
  trace_.line(",parse_lst4\n");
  module_section("PUBLIC symbol table\n\n", publics_, [this](std::span<const SymNode> nodes) { trace_f5lst(nodes); });
}

// Each selected module's EXTERN table.
void ListCommand::parse_lst5() {
  trace_.line(",parse_lst5\n");
  module_section("EXTERN symbol table\n\n", externals_, [this](std::span<const SymNode>) {
    trace_.line(",get_f7lst\n");
    trace_.line("_run skip_f563\n");
  });
}

// Reads the next entry up to and including its F4 record; 0 at the table's end mark.
int ListCommand::get_rotbl04() {
  trace_.line(",get_rotbl04\n");
  int tag = in_.get_tag();
  if (tag == fmt::kEnd) return 0;
  for (;; tag = in_.get_tag()) {
    if (tag != fmt::kF0 && tag != fmt::kF1 && tag != fmt::kF2 && tag != fmt::kF4) in_.malformed();
    read_entry_record(in_, tag, &entry_);
    if (tag == fmt::kF4) return 1;
  }
}

template <class Read>
int ListCommand::read_names(int tag, int record, Read read, int& count, const char* trace_format) {
  SymTree& tree = lst_.sym_tree;
  for (; tag == record; tag = in_.get_tag()) {
    counts_.start(trace_format, count);
    read(in_, tree.tables(), trace_format != nullptr && trace_.on() ? &counts_ : nullptr);
    count += tree.add_read();
  }
  return tag;
}

void ListCommand::skip_to_end(int tag, std::initializer_list<int> allowed) {
  for (; tag != fmt::kEnd; tag = in_.get_tag())
    if (!skip_record(in_, tag, allowed)) in_.malformed();
}

// Collects the public, EQU and BIT symbols of the current entry. The entry
// holds them in this order, so equal names keep this order in the tables.
void ListCommand::get_f5lst(std::size_t entry) {
  trace_.line(",get_f5lst\n");
  SymTree& tree = lst_.sym_tree;
  tree.set_module(entry_.mod_name);
  tree.set_kind(SymKind::kPublic);
  int tag = read_names(in_.get_tag(), fmt::kF5, get_repf4, n_.pub, kPublicCount);
  tree.set_kind(SymKind::kEqu);
  tag = read_names(tag, fmt::kF6, get_repf5, n_.equ, kEquCount);
  tree.set_kind(SymKind::kBit);
  tag = read_names(tag, fmt::kFA, get_repfa, n_.bit, kBitCount);
  symbols_end_.resize(entry + 1);
  symbols_end_[entry] = in_.tell() - 1;
  skip_to_end(tag, {fmt::kF3, fmt::kF7, fmt::kF8, fmt::kF9});
}

// Collects the external names of the current entry.
void ListCommand::get_f7lst(std::size_t entry) {
  trace_.line(",get_f7lst\n");
  lst_.sym_tree.set_module(entry_.mod_name);
  lst_.sym_tree.set_kind(SymKind::kExternal);
  // The library's PUBLIC table read the public, EQU and BIT records: on
  // from where they end. What is stepped over from there on is what the
  // steps from the entry's symbols on would still step over.
  run_.files.lib_in.seek(symbols_end_[entry]);
  int tag = read_names(skip_f563(), fmt::kF7, get_repf6, n_.ext, nullptr);
  skip_to_end(tag, {fmt::kF8, fmt::kF9});
}

// Steps over the symbol and descriptor records before an entry's externals;
// returns the first tag of another kind.
int ListCommand::skip_f563() {
  trace_.line("_run skip_f563\n");
  for (;;) {
    int tag = in_.get_tag();
    if (!skip_record(in_, tag, {fmt::kF3, fmt::kF5, fmt::kF6, fmt::kFA})) return tag;
  }
}

// Steps over the rest of the entry of a module that is not listed.
void ListCommand::skip_tmnt() {
  trace_.line("_run skip_tmnt\n");
  run_.files.cur_file = run_.files.lib_name;
  skip_to_end(in_.get_tag(), {fmt::kF3, fmt::kF5, fmt::kF6, fmt::kF7, fmt::kFA, fmt::kF8, fmt::kF9});
}

}  // namespace

CommitPlan parse_lst(Run& run) {
  run.trace.line(",parse_lst\n");
  return ListCommand(run).run();
}
