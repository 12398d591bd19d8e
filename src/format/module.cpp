#include "format/module.h"

#include <optional>

#include "format/formats.h"
#include "format/stdfnc.h"
#include "format/trace.h"
#include "format/visitor.h"

bool is_record_tag(int tag) { return (tag >= fmt::kE0 && tag <= fmt::kE6) || (tag >= fmt::kF0 && tag <= fmt::kFA); }

bool ModuleWalker::record(int tag) {
  SymbolTables* t = scan_ != nullptr ? &scan_->symbols : nullptr;
  switch (tag) {
    case fmt::kE0: get_repfa(in_, t, trace_); return true;
    case fmt::kE1: named_list("number", 2, "value", 3); return true;
    case fmt::kE2:
      skip_field(2, "word");
      text("text");
      data(8, "bytes");
      return true;
    case fmt::kE3: e3(); return true;
    case fmt::kE4: e4(); return true;
    case fmt::kE5: case fmt::kF1: text("text"); return true;
    case fmt::kF0: text("format"); return true;
    case fmt::kE6: skip_field(1, "byte"); return true;
    case fmt::kF2: f2(); return true;
    case fmt::kF3: get_repf3(in_, t); return true;
    case fmt::kF4: get_repf4(in_, t, trace_); return true;
    case fmt::kF5: get_repf5(in_, t, trace_); return true;
    case fmt::kF6: get_repf6(in_, t, trace_); return true;
    case fmt::kF7:
      if (scan_ != nullptr) first(scan_->offset1_f7, tag);
      f7();
      return true;
    case fmt::kF8:
      if (scan_ != nullptr) first(scan_->offset1_f8, tag);
      f8();
      return true;
    case fmt::kF9:
      skip_field(2, "word");
      named_list("value", 3);
      return true;
    case fmt::kFA: named_list("value", 4); return true;
    default: return false;
  }
}

void ModuleWalker::first(int32_t& offset, int tag) {
  if (offset != 0) return;
  offset = static_cast<int32_t>(in_.tell() - 1);
  if (trace_ != nullptr) trace_->first_record(tag, offset);
}

uint32_t ModuleWalker::value(int width) {
  switch (width) {
    case 1: return static_cast<uint32_t>(in_.get_byte());
    case 2: return static_cast<uint32_t>(in_.get_word());
    case 3: return static_cast<uint32_t>(in_.get_tri());
    default: return static_cast<uint32_t>(in_.get_long());
  }
}

uint32_t ModuleWalker::shown_field(int width, const char* name) {
  int64_t at = in_.tell();
  uint32_t v = value(width);
  visitor_->value(name, at, v, width);
  return v;
}

void ModuleWalker::skip_field(int width, const char* name) {
  if (visitor_ != nullptr) field(width, name);
  else in_.skip(width);
}

bool ModuleWalker::text(const char* name) {
  if (visitor_ == nullptr) return in_.skip_str();
  int64_t at = in_.tell();
  std::string_view s = in_.get_str();
  visitor_->text(name, at, s);
  return !s.empty();
}

void ModuleWalker::data(int n, const char* name) {
  if (visitor_ == nullptr) return in_.skip(n);
  int64_t at = in_.tell();
  char bytes[8];
  for (int i = 0; i < n; ++i) bytes[i] = static_cast<char>(in_.get_byte());
  visitor_->data(name, at, std::string_view(bytes, static_cast<std::size_t>(n)));
}

void ModuleWalker::group(const char* what) {
  if (visitor_ != nullptr) visitor_->open(what, in_.tell());
}

void ModuleWalker::end_group() {
  if (visitor_ != nullptr) visitor_->close();
}

void ModuleWalker::named_list(const char* name1, int width1, const char* name2, int width2) {
  for (;;) {
    group("entry");
    skip_field(width1, name1);
    if (name2 != nullptr) skip_field(width2, name2);
    bool more = text("name");
    end_group();
    if (!more) return;
  }
}

void ModuleWalker::str_list() {
  while (text("name")) {
  }
}

void ModuleWalker::f2() {
  group("F0");
  if (field(1, "sub-tag") != fmt::kF0) in_.malformed(FormatError::Rule::kF2SubRecord, faults_.bad_f2);
  text("text");
  end_group();
  // The tag bytes of the F1 and F2 sub-records are carried whatever they are.
  group("F1");
  skip_field(1, "sub-tag");
  str_list();
  end_group();
  group("F2");
  skip_field(1, "sub-tag");
  str_list();
  end_group();
}

void ModuleWalker::f7_item(int c, bool first) {
  switch (c) {
    case fmt::kF0: data(5, "bytes"); return;
    case fmt::kF1: text("text"); return;
    case fmt::kF2: data(4, "bytes"); return;
    case fmt::kF3:
      if (!first) {
        text("text");
        return;
      }
      break;
    default:
      if (!first) return;  // a one-byte item
      break;
  }
  if (trace_ != nullptr) trace_->bad_first_item(c);
  in_.malformed(FormatError::Rule::kF7FirstItem, faults_.bad_f7);
}

void ModuleWalker::f7() {
  skip_field(2, "word");
  for (;;) {
    group("entry");
    uint32_t v = field(3, "value");
    uint32_t b = field(1, "byte1");
    if (v == 0 && b == 0) return end_group();
    skip_field(1, "byte2");
    int c = in_.get_byte();
    if (c == fmt::kF7Prefix1 || c == fmt::kF7Prefix2) {
      if (visitor_ != nullptr) visitor_->value("prefix", in_.tell() - 1, static_cast<uint32_t>(c), 1);
      c = in_.get_byte();
    }
    // Each item is its tag byte and what that tag says follows; FF after
    // the first item ends the entry.
    bool first = true;
    do {
      if (visitor_ != nullptr) {
        visitor_->open("item", in_.tell() - 1);
        visitor_->value("tag", in_.tell() - 1, static_cast<uint32_t>(c), 1);
      }
      f7_item(c, first);
      end_group();
      first = false;
      c = in_.get_byte();
    } while (c != fmt::kEnd);
    end_group();
  }
}

void ModuleWalker::f8() {
  skip_field(2, "word");
  for (uint32_t n = field(4, "length"); n != 0; n = field(4, "length")) {
    if (visitor_ != nullptr) visitor_->run("contents", in_.tell(), n);
    in_.skip(n);
  }
}

void ModuleWalker::e3() {
  skip_field(2, "word");
  for (;;) {
    group("group");
    uint32_t v = field(3, "value");
    uint32_t b = field(1, "byte");
    end_group();
    if (v == 0 && b == 0) return;
  }
}

void ModuleWalker::e4() {
  skip_field(2, "word");
  for (;;) {
    group("group");
    bool named = text("name");
    if (named)
      while (field(2, "word") != 0) skip_field(3, "value");
    end_group();
    if (!named) return;
  }
}

int64_t copy_romod(InputFile& in, RecOut* out, FormatTrace* trace) {
  static const RomodFaults faults{"S0001", "S0002"};
  RecIn body(in, "S0004");
  int64_t start = body.tell();
  std::optional<TeeScope> copy;
  if (out != nullptr) copy.emplace(in, *out);
  ModuleWalker walker(body, faults, nullptr, trace);
  for (int tag = body.get_tag(); tag != fmt::kEnd; tag = body.get_tag()) {
    if (tag < 0) body.malformed();
    if (trace != nullptr) trace->record(tag);
    if (!walker.record(tag)) body.malformed();
  }
  if (copy) copy->end();
  return body.tell() - start;
}
