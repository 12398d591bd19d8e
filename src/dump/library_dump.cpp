#include "dump/library_dump.h"

#include "dump/names.h"
#include "format/formats.h"
#include "format/stdfnc.h"

namespace dump {

namespace {

// Which table an entry's symbol record fills.
bool entry_table(int tag, TableList& list) {
  switch (tag) {
    case fmt::kF3: list = TableList::kDescriptors; return true;
    case fmt::kF5: list = TableList::kPublics; return true;
    case fmt::kF6: list = TableList::kEqus; return true;
    case fmt::kF7: list = TableList::kExternals; return true;
    case fmt::kFA: list = TableList::kBits; return true;
    default: return false;
  }
}

void show_values(Sink& sink, std::initializer_list<std::pair<const char*, int32_t>> values, int width) {
  for (const auto& [name, v] : values) sink.value(name, -1, static_cast<uint32_t>(v), width);
}

// Shows what an entry's fixed record holds, once it was read into `e`.
void show_entry_record(Sink& sink, int tag, const TableEntry& e) {
  const auto& f = e.f4;
  switch (tag) {
    case fmt::kF0: return sink.text("mod_name", -1, e.mod_name);
    case fmt::kF1: return show_values(sink, {{"entry_len", e.entry_len}, {"tail_len", e.tail_len}}, 4);
    case fmt::kF2: return show_values(sink, {{"mod_size", e.mod_size}}, 4);
    case fmt::kF4:
      return show_values(sink, {{"pub_count", f[0]}, {"pub_size", f[1]}, {"equ_count", f[2]}, {"equ_size", f[3]},
                                {"bit_count", f[4]}, {"bit_size", f[5]}, {"ext_count", f[6]}}, 4);
    case fmt::kF8:
      return show_values(sink, {{"mod_offset", e.mod_offset}, {"offset1_f7", e.offset1_f7}, {"abs_f7", e.abs_f7},
                                {"offset1_f8", e.offset1_f8}, {"abs_f8", e.abs_f8}}, 4);
    case fmt::kF9: {
      const auto& t = e.mod_time;
      return show_values(sink, {{"seconds", t[0]}, {"minutes", t[1]}, {"hours", t[2]}, {"day", t[3]},
                                {"month", t[4]}, {"year", t[5]}}, 2);
    }
    default: return;
  }
}

void show_header_record(Sink& sink, int tag, const LibraryHeader& h) {
  switch (tag) {
    case fmt::kF0: return sink.text("hdr_version", -1, h.hdr_version);
    case fmt::kF1: return sink.text("hdr_format", -1, h.hdr_format);
    case fmt::kF2: return sink.text("hdr_cpu", -1, h.hdr_cpu);
    case fmt::kF3: return sink.value("hdr_modules", -1, static_cast<uint32_t>(h.hdr_modules), 4);
    default: return sink.value("hdr_symbols", -1, static_cast<uint32_t>(h.hdr_symbols), 4);
  }
}

class LibraryReader {
 public:
  LibraryReader(RecIn& in, int64_t file_size, Sink& sink, Report& report)
      : in_(in), sink_(sink), report_(report) {
    lib_.size = file_size;
  }

  LibraryView read() {
    try {
      if (header() && table()) bodies();
    } catch (const FormatError& e) {
      if (e.kind != FormatError::Kind::kMalformed) throw;
      sink_.end_record();
      sink_.end_part(in_.tell() - part_at_);
      malformed();
    }
    return std::move(lib_);
  }

 private:
  bool header() {
    begin(Part::kHeader, 0, 0);
    HeaderView& h = lib_.header;
    for (;;) {
      at_ = in_.tell();
      tag_ = in_.get_tag();
      if (tag_ == fmt::kEnd) break;
      if (tag_ < 0 || record_kind(Part::kHeader, tag_) == nullptr)
        return fault("where a header record belongs", "a tag F0 to F4, or the header's end mark FF");
      sink_.begin_record(at_, tag_, record_kind(Part::kHeader, tag_));
      read_header_record(in_, tag_, h.values);
      show_header_record(sink_, tag_, h.values);
      sink_.end_record();
      h.records.push_back({tag_, at_, in_.tell() - at_});
    }
    end_mark_record();
    h.complete = true;
    sink_.header(h.values);
    sink_.end_part(in_.tell() - part_at_);
    return true;
  }

  bool table() {
    for (int n = 1;; ++n) {
      int64_t at = in_.tell();
      int tag = in_.get_tag();
      if (tag == fmt::kEnd) {
        lib_.table_end = at;
        sink_.end_mark("module table", at);
        return true;
      }
      if (!entry(at, tag, n)) return false;
    }
  }

  bool entry(int64_t at, int tag, int number) {
    EntryView& e = lib_.entries.emplace_back();
    e.at = at;
    begin(Part::kEntry, at, number);
    at_ = at;
    for (bool first = true; tag != fmt::kEnd; first = false) {
      tag_ = tag;
      if (tag < 0 || record_kind(Part::kEntry, tag) == nullptr) {
        if (first) return fault("where an entry or the table's end mark belongs", "an F0 record, or FF");
        return fault("where an entry record belongs", "a tag F0 to FA, or the entry's end mark FF");
      }
      entry_record(e, tag);
      at_ = in_.tell();
      tag = in_.get_tag();
    }
    end_mark_record();
    e.complete = true;
    e.size = in_.tell() - at;
    sink_.entry(e.values);
    sink_.end_part(e.size);
    return true;
  }

  void entry_record(EntryView& e, int tag) {
    sink_.begin_record(at_, tag, record_kind(Part::kEntry, tag));
    TableMarks before = marks_of(e.values.symbols);
    read_entry_record(in_, tag, &e.values);
    TableList list;
    if (entry_table(tag, list)) show_added(sink_, e.values.symbols, before, list);
    else show_entry_record(sink_, tag, e.values);
    sink_.end_record();
    e.records.push_back({tag, at_, in_.tell() - at_});
  }

  void bodies() {
    for (std::size_t i = 0; i < lib_.entries.size(); ++i) {
      int64_t at = in_.tell();
      begin(Part::kBody, at, static_cast<int>(i) + 1);
      ModuleView m = read_module(in_, lib_.size, sink_, report_, ModuleRole::kBody);
      sink_.end_part(m.size);
      bool complete = m.complete;
      lib_.bodies.push_back(std::move(m));
      if (!complete) return;
    }
    body_end();
  }

  void body_end() {
    int64_t at = in_.tell();
    int tag = in_.get_tag();
    if (tag == fmt::kEnd) {
      lib_.body_end = at;
      sink_.end_mark("body section", at);
    } else if (tag < 0) {
      report_.add(at, "the file ends without the body section's end mark", "FF after the last body");
    } else {
      report_.add(at, format("byte 0x%02X where the body section's end mark belongs", tag), "FF after the last body");
    }
  }

  void begin(Part part, int64_t at, int number) {
    part_ = part;
    part_at_ = at;
    sink_.begin_part(part, at, number);
  }

  void end_mark_record() {
    sink_.begin_record(at_, fmt::kEnd, record_kind(part_, fmt::kEnd));
    sink_.end_record();
  }

  // A byte in tag position that the part does not hold, or the end of the file there.
  bool fault(const char* where, const char* expected) {
    sink_.end_part(in_.tell() - part_at_);
    if (tag_ < 0)
      report_.stop(at_, format("the file ends %s", where), expected);
    else
      report_.stop(at_, format("byte 0x%02X %s", tag_, where), expected);
    return false;
  }

  void malformed() {
    const char* part = part_ == Part::kHeader ? "header" : "entry";
    std::string tag = tag_name(tag_);
    if (in_.tell() >= lib_.size) {
      report_.stop(at_, format("the %s's %s record is cut off by the end of the file", part, tag.c_str()),
                   "the rest of the record");
    } else if (part_ == Part::kHeader) {
      report_.stop(at_, format("the header's %s string is longer than 31 characters", tag.c_str()),
                   "at most 31 characters");
    } else {
      report_.stop(at_, format("a string of the entry's %s record is longer than 255 characters", tag.c_str()),
                   "at most 255 characters");
    }
  }

  RecIn& in_;
  Sink& sink_;
  Report& report_;
  LibraryView lib_;
  Part part_ = Part::kHeader;
  int64_t part_at_ = 0;
  int64_t at_ = 0;  // the record being read
  int tag_ = 0;
};

}  // namespace

LibraryView read_library(RecIn& in, int64_t file_size, Sink& sink, Report& report) {
  return LibraryReader(in, file_size, sink, report).read();
}

}  // namespace dump
