// Two module bodies compared: byte for byte, a block at a time, and only
// where they differ record by record, to tell the record and the field in
// which they part. No body is held whole.
#include <algorithm>
#include <cstring>

#include "dump/diff_parts.h"
#include "dump/names.h"
#include "format/module.h"
#include "format/stdfnc.h"
#include "format/visitor.h"

namespace dump {

int64_t first_difference(RecIn& a, int64_t n, RecIn& b, int64_t m) {
  const int64_t both = std::min(n, m);
  for (int64_t done = 0; done < both;) {
    std::span<char> from_a = a.get_block(both - done);
    if (from_a.empty()) a.malformed();
    // The block of `a` stays where it lies while `b` is read.
    for (std::size_t i = 0; i < from_a.size();) {
      std::span<char> from_b = b.get_block(static_cast<int64_t>(from_a.size() - i));
      if (from_b.empty()) b.malformed();
      const char* pa = from_a.data() + i;
      if (std::memcmp(pa, from_b.data(), from_b.size()) != 0)
        return done + static_cast<int64_t>(i + (std::mismatch(pa, pa + from_b.size(), from_b.data()).first - pa));
      i += from_b.size();
    }
    done += static_cast<int64_t>(from_a.size());
  }
  return n == m ? -1 : both;
}

namespace {

// Where the two bodies part, as one of them shows it.
struct Parting {
  int64_t record_at = -1;  // from the module's start
  int tag = -1;
  const char* field = nullptr;  // null: the walker names none there
  DiffValue value;
  bool byte_value = true;  // the value is the byte at the difference
};

// Hears the fields of a record and keeps the one that holds the byte at
// `target` (an offset in the file).
class FieldAt : public RecordVisitor {
 public:
  explicit FieldAt(int64_t target) : target_(target) {}
  bool found() const { return found_; }

  void open(const char*, int64_t) override {}
  void close() override {}
  void value(const char* name, int64_t at, uint32_t v, int width) override {
    if (holds(at, width)) keep(name, DiffValue::hex(v, width));
  }
  void text(const char* name, int64_t at, std::string_view s) override {
    if (holds(at, static_cast<int64_t>(s.size()) + 1)) keep(name, DiffValue::str(std::string(s)));
  }
  void data(const char* name, int64_t at, std::string_view bytes) override {
    if (holds(at, static_cast<int64_t>(bytes.size()))) keep(name, DiffValue::bytes(std::string(bytes)));
  }
  // Contents are not read: the byte at the difference stands for them.
  void run(const char* name, int64_t at, int64_t length) override {
    if (holds(at, length)) keep(name, DiffValue{});
  }

  void fill(Parting& p) const {
    p.field = name_;
    p.byte_value = value_.kind == DiffValue::Kind::kNone;
    if (!p.byte_value) p.value = value_;
  }

 private:
  // Whether the field of `length` bytes at `at` is the first to hold the target.
  bool holds(int64_t at, int64_t length) const { return !found_ && target_ >= at && target_ < at + length; }
  void keep(const char* name, DiffValue v) {
    found_ = true;
    name_ = name;
    value_ = std::move(v);
  }

  int64_t target_;
  bool found_ = false;
  const char* name_ = nullptr;
  DiffValue value_;
};

// Walks the body from its start through the record that holds the byte at
// `target`. A body that breaks the grammar before is told as far as it
// can be read.
Parting locate(const BodySpan& body, int64_t target) {
  static const RomodFaults kNoDetails{};
  Parting p;
  RecIn& in = body.in;
  in.file().seek(body.at);
  FieldAt field(body.at + target);
  ModuleWalker walker(in, kNoDetails);
  walker.visit(&field);
  try {
    for (;;) {
      p.record_at = in.tell() - body.at;
      p.tag = in.get_tag();
      if (p.record_at == target) {
        p.field = "tag";
        p.value = DiffValue::hex(p.tag, 1);
        p.byte_value = false;
        return p;
      }
      if (p.tag == fmt::kEnd || !walker.record(p.tag) || in.tell() - body.at > target) break;
    }
  } catch (const FormatError& e) {
    if (e.kind != FormatError::Kind::kMalformed) throw;
  }
  if (field.found()) field.fill(p);
  return p;
}

// What one side holds at the difference: the field's value, or the byte;
// nothing when its body ends before.
DiffValue value_at(const BodySpan& body, const Parting& p, int64_t target) {
  if (target >= body.size) return {};
  if (!p.byte_value) return p.value;
  body.in.file().seek(body.at + target);
  return DiffValue::hex(body.in.get_byte(), 1);
}

}  // namespace

std::optional<Difference> compare_bodies(const BodySpan& a, const BodySpan& b,
                                         const std::optional<std::string>& module) {
  a.in.file().seek(a.at);
  b.in.file().seek(b.at);
  int64_t target = first_difference(a.in, a.size, b.in, b.size);
  if (target < 0) return std::nullopt;
  // Up to the difference both read alike, so that either side that still
  // holds the byte tells the record and the field; each its own value.
  Parting in_a = target < a.size ? locate(a, target) : Parting{};
  Parting in_b = target < b.size ? locate(b, target) : Parting{};
  const Parting& where = target < a.size ? in_a : in_b;
  Difference d{DiffWhat::kBody, module, where.field != nullptr ? where.field : "", value_at(a, in_a, target),
               value_at(b, in_b, target)};
  d.offset = where.record_at;
  d.tag = where.tag;
  d.at = target;
  return d;
}

}  // namespace dump
