// The JSON document of one file; README.md describes its shape.
#include <memory>

#include "dump/json.h"
#include "dump/names.h"
#include "dump/sinks.h"

namespace dump {

namespace {

void symbols(JsonWriter& j, const SymbolTables& t) {
  j.key("symbols");
  j.object();
  j.key("public");
  j.array();
  for (const PubBlock& b : t.pub_list) {
    j.object();
    j.field("block", int64_t{b.number});
    j.key("symbols");
    j.array();
    for (const PubSym& s : t.syms(b)) {
      j.object();
      j.field("name", t.name(s.name));
      j.field("value", int64_t{s.value});
      j.end();
    }
    j.end();
    j.end();
  }
  j.end();
  j.key("equ");
  j.array();
  for (const EquSym& s : t.equ_list) {
    j.object();
    j.field("name", t.name(s.name));
    j.field("value", int64_t{s.value});
    j.end();
  }
  j.end();
  j.key("bit");
  j.array();
  for (const BitSym& s : t.bit_list) {
    j.object();
    j.field("name", t.name(s.name));
    j.field("number", int64_t{s.number});
    j.field("value", int64_t{s.value});
    j.end();
  }
  j.end();
  j.key("external");
  j.array();
  for (NameRef n : t.ext_list) j.str(t.name(n));
  j.end();
  j.end();
  j.key("descriptors");
  j.array();
  for (const F3Entry& f : t.f3_list) {
    j.object();
    j.field("number", int64_t{f.number});
    j.field("name", t.name(f.name));
    j.field("byte1", int64_t{f.byte1});
    j.field("byte2", int64_t{f.byte2});
    j.field("value", int64_t{f.value});
    j.field("long", int64_t{f.long_value});
    j.end();
  }
  j.end();
}

class JsonSink : public Sink {
 public:
  explicit JsonSink(std::FILE* out) : out_(out), j_(out) {}

  void begin_file(const std::string& name, const char* kind, int64_t size) override {
    j_.object();
    j_.field("file", name);
    j_.field("kind", std::string_view(kind));
    j_.field("size", size);
  }

  void end_file(const Report& report, bool check) override {
    close_list();
    j_.field("complete", !report.stopped());
    j_.key("violations");
    j_.array();
    for (const Violation& v : report.shown(check)) {
      j_.object();
      j_.field("offset", v.at);
      j_.field("message", v.what);
      j_.field("expected", v.expected);
      j_.end();
    }
    j_.end();
    if (check) j_.field("clean", report.clean());
    j_.end();
    std::fputc('\n', out_);
  }

  void begin_part(Part part, int64_t at, int number) override {
    switch (part) {
      case Part::kHeader: j_.key("header"); break;
      case Part::kModule: j_.key("module"); break;
      case Part::kEntry: open_list("entries"); break;
      case Part::kBody: open_list("bodies"); break;
    }
    j_.object();
    if (number > 0) j_.field("number", int64_t{number});
    j_.field("offset", at);
    j_.key("records");
    j_.array();
    records_open_ = true;
  }

  void end_part(int64_t size) override {
    end_records();
    j_.field("size", size);
    j_.end();
  }

  void begin_record(int64_t at, int tag, const char* kind) override {
    j_.object();
    j_.field("offset", at);
    j_.field("tag", tag_name(tag));
    j_.field("kind", std::string_view(kind));
    j_.key("fields");
    j_.array();
    depth_ = j_.depth();
  }

  void end_record() override {
    if (depth_ == 0) return;
    // Groups left open by a fault close with the record.
    while (j_.depth() > depth_) j_.end();
    j_.end();
    j_.end();
    depth_ = 0;
  }

  void open(const char* what, int64_t at) override {
    j_.object();
    j_.field("group", std::string_view(what));
    offset(at);
    j_.key("fields");
    j_.array();
  }

  void close() override {
    j_.end();
    j_.end();
  }

  void value(const char* name, int64_t at, uint32_t v, int) override {
    begin_field(name, at);
    j_.field("value", int64_t{v});
    j_.end();
  }

  void text(const char* name, int64_t at, std::string_view s) override {
    begin_field(name, at);
    j_.field("text", s);
    j_.end();
  }

  void data(const char* name, int64_t at, std::string_view bytes) override {
    begin_field(name, at);
    j_.field("hex", hex_digits(bytes));
    j_.end();
  }

  void run(const char* name, int64_t at, int64_t length) override {
    begin_field(name, at);
    j_.field("length", length);
    j_.end();
  }

  void header(const LibraryHeader& h) override {
    end_records();
    j_.field("version", h.hdr_version);
    j_.field("format", h.hdr_format);
    j_.field("cpu", h.hdr_cpu);
    j_.field("modules", int64_t{h.hdr_modules});
    j_.field("symbols", int64_t{h.hdr_symbols});
  }

  void entry(const TableEntry& e) override {
    end_records();
    static const char* const kF4[] = {"pub_count", "pub_size", "equ_count", "equ_size", "bit_count", "bit_size", "ext_count"};
    j_.field("name", e.mod_name);
    j_.field("entry_len", int64_t{e.entry_len});
    j_.field("tail_len", int64_t{e.tail_len});
    j_.field("mod_size", int64_t{e.mod_size});
    for (int i = 0; i < 7; ++i) j_.field(kF4[i], int64_t{e.f4[i]});
    symbols(j_, e.symbols);
    j_.field("mod_offset", int64_t{e.mod_offset});
    j_.field("offset1_f7", int64_t{e.offset1_f7});
    j_.field("abs_f7", int64_t{e.abs_f7});
    j_.field("offset1_f8", int64_t{e.offset1_f8});
    j_.field("abs_f8", int64_t{e.abs_f8});
    j_.key("mod_time");
    j_.array();
    for (int v : e.mod_time) j_.num(v);
    j_.end();
  }

  void collects(const ModuleScan& scan) override {
    end_records();
    j_.key("collects");
    j_.object();
    symbols(j_, scan.symbols);
    j_.field("offset1_f7", int64_t{scan.offset1_f7});
    j_.field("offset1_f8", int64_t{scan.offset1_f8});
    j_.end();
  }

  void end_mark(const char* what, int64_t at) override {
    close_list();
    j_.field(std::string_view(what) == "module table" ? "table_end" : "body_end", at);
  }

 private:
  void offset(int64_t at) {
    if (at >= 0) j_.field("offset", at);
  }

  void begin_field(const char* name, int64_t at) {
    j_.object();
    j_.field("name", std::string_view(name));
    offset(at);
  }

  void end_records() {
    if (!records_open_) return;
    j_.end();
    records_open_ = false;
  }

  // Entries and bodies are the elements of one list each.
  void open_list(const char* name) {
    if (list_ == name) return;
    close_list();
    j_.key(name);
    j_.array();
    list_ = name;
  }

  void close_list() {
    if (list_.empty()) return;
    j_.end();
    list_.clear();
  }

  std::FILE* out_;
  JsonWriter j_;
  bool records_open_ = false;
  int depth_ = 0;  // the writer's depth inside the current record's fields
  std::string list_;
};

}  // namespace

std::unique_ptr<Sink> json_sink(std::FILE* out) { return std::make_unique<JsonSink>(out); }

}  // namespace dump
