#include "format/module.h"

#include <optional>

#include "format/formats.h"
#include "format/stdfnc.h"
#include "format/trace.h"

bool is_record_tag(int tag) { return (tag >= fmt::kE0 && tag <= fmt::kE6) || (tag >= fmt::kF0 && tag <= fmt::kFA); }

bool ModuleWalker::record(int tag) {
  SymbolTables* t = scan_ != nullptr ? &scan_->symbols : nullptr;
  switch (tag) {
    case fmt::kE0: get_repfa(in_, t, trace_); return true;
    case fmt::kE1: named_list(5); return true;
    case fmt::kE2:
      in_.skip(2);
      in_.skip_str();
      in_.skip(8);
      return true;
    case fmt::kE3: e3(); return true;
    case fmt::kE4: e4(); return true;
    case fmt::kE5: case fmt::kF0: case fmt::kF1: in_.skip_str(); return true;
    case fmt::kE6: in_.skip(1); return true;
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
      in_.skip(2);
      named_list(3);
      return true;
    case fmt::kFA: named_list(4); return true;
    default: return false;
  }
}

void ModuleWalker::first(int32_t& offset, int tag) {
  if (offset != 0) return;
  offset = static_cast<int32_t>(in_.tell() - 1);
  if (trace_ != nullptr) trace_->first_record(tag, offset);
}

void ModuleWalker::named_list(int fixed) {
  do in_.skip(fixed);
  while (in_.skip_str());
}

void ModuleWalker::str_list() {
  while (in_.skip_str()) {
  }
}

void ModuleWalker::f2() {
  if (in_.get_byte() != fmt::kF0) throw FormatError{FormatError::Kind::kMalformed, faults_.bad_f2};
  in_.skip_str();
  // The tag bytes of the F1 and F2 sub-records are carried whatever they are.
  in_.skip(1);
  str_list();
  in_.skip(1);
  str_list();
}

void ModuleWalker::f7_item(int c, bool first) {
  switch (c) {
    case fmt::kF0: in_.skip(5); return;
    case fmt::kF1: in_.skip_str(); return;
    case fmt::kF2: in_.skip(4); return;
    case fmt::kF3:
      if (!first) {
        in_.skip_str();
        return;
      }
      break;
    default:
      if (!first) return;  // a one-byte item
      break;
  }
  if (trace_ != nullptr) trace_->bad_first_item(c);
  throw FormatError{FormatError::Kind::kMalformed, faults_.bad_f7};
}

void ModuleWalker::f7() {
  in_.skip(2);
  for (;;) {
    int32_t v = in_.get_tri();
    int b = in_.get_byte();
    if (v == 0 && b == 0) return;
    in_.skip(1);
    int c = in_.get_byte();
    if (c == fmt::kF7Prefix1 || c == fmt::kF7Prefix2) c = in_.get_byte();
    f7_item(c, true);
    for (c = in_.get_byte(); c != fmt::kEnd; c = in_.get_byte()) f7_item(c, false);
  }
}

void ModuleWalker::f8() {
  in_.skip(2);
  for (int32_t n = in_.get_long(); n != 0; n = in_.get_long()) in_.skip(static_cast<uint32_t>(n));
}

void ModuleWalker::e3() {
  in_.skip(2);
  while (in_.get_long() != 0) {
  }
}

void ModuleWalker::e4() {
  in_.skip(2);
  while (in_.skip_str()) {
    while (in_.get_word() != 0) in_.skip(3);
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
