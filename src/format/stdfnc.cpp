#include "format/stdfnc.h"

#include <array>

#include "driver/errors.h"
#include "driver/run_state.h"
#include "format/formats.h"
#include "host/host.h"

namespace {

// Steps shorter than this are read rather than sought: cheaper on a
// buffered stream, and the end of the input shows at once.
constexpr int64_t kReadSkipLimit = 64;
constexpr std::size_t kBlock = 1 << 16;

}  // namespace

int RecIn::next() {
  int c = host::getc_fast(fp_);
  if (c == EOF && std::ferror(fp_)) error_exit(rs_, kReadError);
  return c == EOF ? -1 : c;
}

void RecIn::malformed() { error_exit(rs_, kInvalid, bad_); }

int RecIn::must() {
  int c = next();
  if (c < 0) malformed();
  return c;
}

int RecIn::get_tag() {
  poll_break(rs_);
  return next();
}

int RecIn::get_byte() { return must(); }

int RecIn::get_word() {
  int hi = must();
  return (hi << 8) | must();
}

int32_t RecIn::get_tri() {
  uint32_t v = 0;
  for (int i = 0; i < 3; ++i) v = (v << 8) | static_cast<uint32_t>(must());
  return static_cast<int32_t>(v);
}

int32_t RecIn::get_long() {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<uint32_t>(must());
  return static_cast<int32_t>(v);
}

const std::string& RecIn::get_str() {
  // Gathered here and stored at once: a string growing by one character at
  // a time costs more than reading the characters.
  char buf[fmt::kMaxString];
  std::size_t n = 0;
  for (int c = must(); c != 0; c = must()) {
    if (n == fmt::kMaxString) malformed();
    buf[n++] = static_cast<char>(c);
  }
  return rs_.str_buf.assign(buf, n);
}

void RecIn::skip(int64_t n) {
  if (n < 0) malformed();
  if (n <= kReadSkipLimit) {
    for (int64_t i = 0; i < n; ++i) must();
    return;
  }
  // Seek to the last byte to step over and read it: that proves it exists.
  if (!host::seek(fp_, n - 1, SEEK_CUR)) error_exit(rs_, kSeekError);
  must();
}

void RecIn::copy_bytes(int64_t n, RecOut& out) {
  if (n < 0) malformed();
  out.make_room(n);
  if (n <= kReadSkipLimit) {
    for (int64_t i = 0; i < n; ++i) out.put_byte(must());
    return;
  }
  std::array<char, kBlock> buf;
  while (n > 0) {
    poll_break(rs_);
    std::size_t want = n < static_cast<int64_t>(kBlock) ? static_cast<std::size_t>(n) : kBlock;
    std::size_t got = std::fread(buf.data(), 1, want, fp_);
    if (got < want && std::ferror(fp_)) error_exit(rs_, kReadError);
    out.put_block(buf.data(), got);
    if (got < want) malformed();
    n -= static_cast<int64_t>(got);
  }
}

int64_t RecIn::tell() { return host::tell(fp_); }

void RecIn::seek_start() {
  if (!host::seek(fp_, 0, SEEK_SET)) error_exit(rs_, kSeekError);
}

void RecOut::limit(int64_t max, std::string name) {
  max_ = max;
  limit_name_ = std::move(name);
}

void RecOut::make_room(int64_t n) {
  if (n > max_ - count_) error_exit(rs_, kInvalid, limit_name_);
}

void RecOut::put_byte(int v) {
  make_room(1);
  ++count_;
  if (fp_ != nullptr && host::putc_fast(v & 0xFF, fp_) == EOF) error_exit(rs_, kDiskFull);
}

void RecOut::put_word(int v) {
  put_byte(v >> 8);
  put_byte(v);
}

void RecOut::put_tri(int32_t v) {
  put_byte(v >> 16);
  put_byte(v >> 8);
  put_byte(v);
}

void RecOut::put_long(int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  put_byte(static_cast<int>(u >> 24));
  put_byte(static_cast<int>(u >> 16));
  put_byte(static_cast<int>(u >> 8));
  put_byte(static_cast<int>(u));
}

void RecOut::put_str(const std::string& s) {
  put_block(s.data(), s.size());
  put_byte(0);
}

void RecOut::put_block(const void* data, std::size_t n) {
  make_room(static_cast<int64_t>(n));
  count_ += static_cast<int64_t>(n);
  if (fp_ != nullptr && n > 0 && host::write_fast(data, n, fp_) != n) error_exit(rs_, kDiskFull);
}

int copy_byte(RecIn& in, RecOut& out) {
  int b = in.get_byte();
  out.put_byte(b);
  return b;
}

int copy_word(RecIn& in, RecOut& out) {
  int w = in.get_word();
  out.put_word(w);
  return w;
}

int32_t copy_tri(RecIn& in, RecOut& out) {
  int32_t t = in.get_tri();
  out.put_tri(t);
  return t;
}

int32_t copy_long(RecIn& in, RecOut& out) {
  int32_t l = in.get_long();
  out.put_long(l);
  return l;
}

bool copy_str(RecIn& in, RecOut& out) {
  const std::string& s = in.get_str();
  out.put_str(s);
  return !s.empty();
}

void copy_named_list(RecIn& in, RecOut& out, int fixed) {
  do in.copy_bytes(fixed, out);
  while (copy_str(in, out));
}

namespace {

// The pieces of the module grammar, each copying what it reads.
struct RomodCopier {
  RunState& rs;
  RecIn& in;
  RecOut& out;
  const RomodFaults& faults;

  int byte() { return copy_byte(in, out); }
  void bytes(int64_t n) { in.copy_bytes(n, out); }
  int word() { return copy_word(in, out); }
  int32_t tri() { return copy_tri(in, out); }
  int32_t lng() { return copy_long(in, out); }
  bool str() { return copy_str(in, out); }
  void str_list() {
    while (str()) {
    }
  }
  void named_list(int fixed) { copy_named_list(in, out, fixed); }

  void f2() {
    if (in.get_byte() != fmt::kF0) error_exit(rs, kInvalid, faults.bad_f2);
    out.put_byte(fmt::kF0);
    str();
    // The F1 and F2 sub-records: their tag bytes are carried unchanged,
    // exactly as the module reader takes them, so no byte is ever dropped.
    byte();
    str_list();
    byte();
    str_list();
  }

  void f7_item(int c, bool first) {
    switch (c) {
      case fmt::kF0: bytes(5); return;
      case fmt::kF1: str(); return;
      case fmt::kF2: bytes(4); return;
      case fmt::kF3:
        if (!first) {
          str();
          return;
        }
        break;
      default:
        if (!first) return;  // a one-byte item
        break;
    }
    if (rs.trace) std::fprintf(rs.out, "%X ", c);
    error_exit(rs, kInvalid, faults.bad_f7);
  }

  void f7() {
    word();
    for (;;) {
      int32_t v = tri();
      int b = byte();
      if (v == 0 && b == 0) return;
      byte();
      int c = byte();
      if (c == fmt::kF7Prefix1 || c == fmt::kF7Prefix2) c = byte();
      f7_item(c, true);
      for (c = byte(); c != fmt::kEnd; c = byte()) f7_item(c, false);
    }
  }

  void f8() {
    word();
    for (int32_t n = lng(); n != 0; n = lng()) bytes(static_cast<uint32_t>(n));
  }

  void e4() {
    word();
    while (str()) {
      while (word() != 0) tri();
    }
  }

  void e3() {
    word();
    while (lng() != 0) {
    }
  }

  bool record(int tag) {
    switch (tag) {
      case fmt::kE0: case fmt::kE1: named_list(5); return true;
      case fmt::kE2: word(); str(); bytes(8); return true;
      case fmt::kE3: e3(); return true;
      case fmt::kE4: e4(); return true;
      case fmt::kE5: case fmt::kF0: case fmt::kF1: str(); return true;
      case fmt::kE6: byte(); return true;
      case fmt::kF2: f2(); return true;
      case fmt::kF3: word(); str(); bytes(9); return true;
      case fmt::kF4: case fmt::kF9: word(); named_list(3); return true;
      case fmt::kF5: case fmt::kFA: named_list(4); return true;
      case fmt::kF6: str_list(); return true;
      case fmt::kF7: f7(); return true;
      case fmt::kF8: f8(); return true;
      default: return false;
    }
  }
};

}  // namespace

bool copy_record(RunState& rs, RecIn& in, RecOut& out, int tag, const RomodFaults& faults) {
  return RomodCopier{rs, in, out, faults}.record(tag);
}

void copy_romod(RunState& rs, std::FILE* in, RecOut& out) {
  if (rs.trace) std::fputs(",copy_romod\n", rs.out);
  static const RomodFaults faults{"S0001", "S0002"};
  RecIn body(rs, in, "S0004");
  for (int tag = body.get_tag(); tag != fmt::kEnd; tag = body.get_tag()) {
    if (tag < 0) body.malformed();
    out.put_byte(tag);
    if (rs.trace) std::fprintf(rs.out, "parse->%X\n", tag);
    if (!copy_record(rs, body, out, tag, faults)) body.malformed();
  }
  out.put_byte(fmt::kEnd);
}

void move_cursor(RunState& rs, int column, int row) {
  std::fprintf(rs.out, "\x1b[%d;%dH", row + 1, column + 1);
}
