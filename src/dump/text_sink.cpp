// The dump as text, and the report of a check.
//
//   0x0092  F4 public symbols: block 0x0001
//             symbol: value 0x001000 name "START"
//
// A record's line shows its offset, tag and kind, and the fields whose
// offsets the reader does not give; a field with an offset, and each group
// of fields, takes a line of its own below it.
#include <memory>
#include <string>

#include "dump/names.h"
#include "dump/sinks.h"
#include "host/host.h"

namespace dump {

namespace {

std::string offset(int64_t at) { return format("0x%04llx", static_cast<long long>(at)); }

void print_violations(std::FILE* out, const std::string& file, const Report& report, bool check) {
  std::vector<Violation> shown = report.shown(check);
  for (const Violation& v : shown) std::fprintf(out, "%s\n", violation_line(file, v).c_str());
  if (check) std::fprintf(out, "%s\n", count_line(file, shown.size()).c_str());
}

void symbol_lines(std::FILE* out, const SymbolTables& t) {
  for (const PubBlock& b : t.pub_list)
    for (const PubSym& s : t.syms(b))
      std::fprintf(out, "    public   %s = 0x%06x (block 0x%04x)\n", escaped(t.name(s.name)).c_str(),
                   static_cast<unsigned>(s.value), static_cast<unsigned>(b.number));
  for (const EquSym& s : t.equ_list)
    std::fprintf(out, "    EQU      %s = 0x%08x\n", escaped(t.name(s.name)).c_str(), static_cast<unsigned>(s.value));
  for (const BitSym& s : t.bit_list)
    std::fprintf(out, "    BIT      %s = 0x%06x (number 0x%04x)\n", escaped(t.name(s.name)).c_str(),
                 static_cast<unsigned>(s.value), static_cast<unsigned>(s.number));
  for (NameRef n : t.ext_list) std::fprintf(out, "    external %s\n", escaped(t.name(n)).c_str());
  for (const F3Entry& f : t.f3_list)
    std::fprintf(out, "    descriptor %s number 0x%04x\n", escaped(t.name(f.name)).c_str(), static_cast<unsigned>(f.number));
}

class TextSink : public Sink {
 public:
  explicit TextSink(std::FILE* out) : out_(out) {}

  void begin_file(const std::string& name, const char* kind, int64_t size) override {
    file_ = host::for_console(name);
    std::fprintf(out_, "%s: %s, %lld bytes\n", file_.c_str(), kind, static_cast<long long>(size));
  }

  void end_file(const Report& report, bool check) override {
    flush();
    print_violations(out_, file_, report, check);
  }

  void begin_part(Part part, int64_t at, int number) override {
    flush();
    switch (part) {
      case Part::kHeader: std::fprintf(out_, "header at %s\n", offset(at).c_str()); break;
      case Part::kEntry: std::fprintf(out_, "entry %d at %s\n", number, offset(at).c_str()); break;
      case Part::kBody: std::fprintf(out_, "body %d at %s\n", number, offset(at).c_str()); break;
      case Part::kModule: break;
    }
  }

  void end_part(int64_t) override { flush(); }

  void begin_record(int64_t at, int tag, const char* kind) override {
    flush();
    depth_ = 0;
    line_ = format("  %s  %s %s", offset(at).c_str(), tag_name(tag).c_str(), kind);
    first_ = true;
  }

  void end_record() override { flush(); }

  void open(const char* what, int64_t at) override {
    new_line(at);
    line_ += what;
    first_ = true;
    ++depth_;
  }

  void close() override { --depth_; }

  void value(const char* name, int64_t at, uint32_t v, int width) override {
    field(name, at, format("0x%0*x", 2 * width, static_cast<unsigned>(v)));
  }
  void text(const char* name, int64_t at, std::string_view s) override { field(name, at, escaped(s)); }
  void data(const char* name, int64_t at, std::string_view bytes) override {
    std::string h;
    for (unsigned char c : bytes) h += format(h.empty() ? "%02x" : " %02x", c);
    field(name, at, h);
  }
  void run(const char* name, int64_t at, int64_t length) override {
    field(name, at, format("%lld bytes", static_cast<long long>(length)));
  }

  void header(const LibraryHeader&) override {}
  void entry(const TableEntry&) override {}

  void collects(const ModuleScan& scan) override {
    flush();
    const SymbolTables& t = scan.symbols;
    std::fprintf(out_, "  append would collect: %d public, %d EQU, %d BIT, %d external, %d descriptors; ",
                 t.pub_count(), t.equ_count(), t.bit_count(), t.ext_count(), static_cast<int>(t.f3_list.size()));
    std::fprintf(out_, "first F7 %s, first F8 %s\n", first(scan.offset1_f7).c_str(), first(scan.offset1_f8).c_str());
    symbol_lines(out_, t);
  }

  void end_mark(const char* what, int64_t at) override {
    flush();
    std::fprintf(out_, "%s: end mark at %s\n", what, offset(at).c_str());
  }

 private:
  static std::string first(int32_t at) { return at == 0 ? "none" : offset(at); }

  // A field with an offset, or a group, starts a line of its own.
  void new_line(int64_t at) {
    flush();
    line_ = std::string(10 + 2 * static_cast<std::size_t>(depth_), ' ');
    if (at >= 0) line_ += offset(at) + " ";
    first_ = true;
  }

  void field(const char* name, int64_t at, const std::string& value) {
    if (at >= 0 || line_.empty()) new_line(at);
    line_ += first_ ? (line_.back() == ' ' ? "" : ": ") : " ";
    line_ += std::string(name) + " " + value;
    first_ = false;
  }

  void flush() {
    if (!line_.empty()) std::fprintf(out_, "%s\n", line_.c_str());
    line_.clear();
  }

  std::FILE* out_;
  std::string file_;
  std::string line_;
  bool first_ = true;
  int depth_ = 0;
};

// Only the violations, then their count.
class CheckSink : public NullSink {
 public:
  explicit CheckSink(std::FILE* out) : out_(out) {}
  void begin_file(const std::string& name, const char*, int64_t) override { file_ = host::for_console(name); }
  void end_file(const Report& report, bool check) override { print_violations(out_, file_, report, check); }

 private:
  std::FILE* out_;
  std::string file_;
};

}  // namespace

std::unique_ptr<Sink> text_sink(std::FILE* out) { return std::make_unique<TextSink>(out); }
std::unique_ptr<Sink> check_sink(std::FILE* out) { return std::make_unique<CheckSink>(out); }

}  // namespace dump
