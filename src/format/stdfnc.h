// Record streams.
//
// Every file the librarian reads or writes, apart from command files and the
// listing, is a record stream: one-byte tags, each followed by fields. Words,
// 3-byte values and longs are big-endian; strings are NUL-terminated and at
// most 255 characters long.
//
// Files are read and written in large blocks. An InputFile reads one file;
// RecIn is a reader of records on it, which may be told what its owner calls
// a malformed input (a detail code, or a name to show): a record cut off by
// the end of the input, or a string too long for the string buffer, is a
// malformed input. Only a tag read may meet the plain end of the input.
// Faults are thrown as FormatError.
#pragma once

#include <csignal>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "format/error.h"
#include "format/formats.h"
#include "format/name_store.h"

class RecOut;

// Bytes that are not cleared when they are made: a block holds only what is
// read or written into it, and touches no more memory than that.
class Block {
 public:
  Block() = default;
  // The block moved from is left empty.
  Block(Block&& other) noexcept : data_(std::move(other.data_)), size_(std::exchange(other.size_, 0)) {}
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  char* data() { return data_.get(); }
  const char* data() const { return data_.get(); }
  char& operator[](std::size_t i) { return data_[i]; }
  // Makes the block `n` bytes long, keeping its first `keep` bytes.
  void resize(std::size_t n, std::size_t keep = 0);

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
};

// A file read in blocks, from its start. It does not own the stream.
class InputFile {
 public:
  explicit InputFile(std::size_t block = kDefaultBlock) : capacity_(block) {}
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Reads `fp`, which stands at the start of its file and is unbuffered;
  // `name` is what a failed read or seek is reported with. The run ends at
  // the next tag or block once `interrupt` is set.
  void attach(std::FILE* fp, std::string name, const volatile std::sig_atomic_t* interrupt = nullptr);
  void detach();
  // The file is `size` bytes long, as its status tells: a read asks for no
  // more than that, which spares the read that would only find the end.
  void expect_size(int64_t size) { expected_ = size; }
  std::FILE* fp() const { return fp_; }
  const std::string& name() const { return name_; }

  // Position of the next byte from the start of the file.
  int64_t position() const { return start_ + static_cast<int64_t>(pos_); }
  // Moves to an absolute position.
  void seek(int64_t position);
  // The string that the last string read of a reader on this file gave.
  std::string last_str() const { return std::string(last_); }

  // From now on every byte read is also written to `out` (a copy as the
  // bytes are read); end_tee writes what is pending and stops.
  void tee(RecOut& out);
  void end_tee();
  // Stops copying without writing what is pending: the copy is abandoned.
  void drop_tee() { tee_ = nullptr; }

  // Throws when the interrupt flag is set.
  void poll() const {
    if (interrupt_ != nullptr && *interrupt_)
      throw FormatError{FormatError::Kind::kInterrupted, FormatError::Rule::kNone, name_};
  }

 private:
  friend class RecIn;
  static constexpr std::size_t kDefaultBlock = 1 << 16;

  // Reads the next block once the current one is used up; false at the end.
  bool fill();
  // The last string read lies in the block, which is about to be read over:
  // it is kept in the string buffer.
  void keep_last_str();
  void flush_tee();

  std::FILE* fp_ = nullptr;
  std::string name_;
  const volatile std::sig_atomic_t* interrupt_ = nullptr;
  std::size_t capacity_;
  Block buf_;
  std::size_t pos_ = 0;  // next byte in buf_
  std::size_t end_ = 0;  // bytes in buf_
  int64_t start_ = 0;    // file position of buf_[0]
  int64_t expected_ = 0;  // the file's size as its status told, 0 = not known
  RecOut* tee_ = nullptr;
  std::size_t tee_from_ = 0;  // first byte of buf_ not yet copied
  std::string str_;           // the string buffer
  std::string_view last_;     // the last string read: in buf_ or in str_
};

// A reader of records on an input file.
class RecIn {
 public:
  // `detail` is what the owner calls a malformed input.
  explicit RecIn(InputFile& in, std::string detail = {}) : in_(in), detail_(std::move(detail)) {}

  // The next tag, or -1 at the end of the input. Also where an interrupt
  // takes effect: every loop over records passes here.
  int get_tag() {
    in_.poll();
    return next();
  }
  int get_byte() {
    int c = next();
    if (c < 0) malformed();
    return c;
  }
  int get_word() { return static_cast<int>(get_bytes(2)); }
  int32_t get_tri() { return static_cast<int32_t>(get_bytes(3)); }
  int32_t get_long() { return static_cast<int32_t>(get_bytes(4)); }
  // Reads a string. It lies where it was read, or in the file's string
  // buffer when it runs across blocks: valid until the next read.
  std::string_view get_str() { return read_str<Str::kKeep>(); }
  // Steps over a string; true when it was not empty.
  bool skip_str() { return read_str<Str::kSkip>(); }

  // The next byte without reading it; -1 at the end of the input.
  int peek() { return in_.pos_ < in_.end_ || in_.fill() ? static_cast<unsigned char>(in_.buf_[in_.pos_]) : -1; }
  // Reads up to `max` bytes as they lie in the file's block, which the
  // caller may change in place until the next read; empty at the end.
  std::span<char> get_block(int64_t max);

  // Steps over n bytes; a negative count or one past the end is malformed.
  void skip(int64_t n) {
    if (n >= 0 && static_cast<uint64_t>(n) <= in_.end_ - in_.pos_) {
      in_.pos_ += static_cast<std::size_t>(n);
      return;
    }
    skip_across(n);
  }
  // Copies n bytes to `out`.
  void copy_bytes(int64_t n, RecOut& out);
  int64_t tell() const { return in_.position(); }

  InputFile& file() { return in_; }
  [[noreturn]] void malformed() const { malformed(FormatError::Rule::kRecord, detail_); }
  // The input breaks `rule`, which its owner calls `detail`.
  [[noreturn]] void malformed(FormatError::Rule rule, const std::string& detail) const {
    throw FormatError{FormatError::Kind::kMalformed, rule, in_.name_, detail};
  }

 private:
  int next() {
    if (in_.pos_ < in_.end_ || in_.fill()) return static_cast<unsigned char>(in_.buf_[in_.pos_++]);
    return -1;
  }
  uint32_t get_bytes(int n) {
    uint32_t v = 0;
    if (in_.end_ - in_.pos_ >= static_cast<std::size_t>(n)) {
      // The whole value lies in the block.
      const unsigned char* p = reinterpret_cast<const unsigned char*>(in_.buf_.data() + in_.pos_);
      for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
      in_.pos_ += static_cast<std::size_t>(n);
      return v;
    }
    for (int i = 0; i < n; ++i) v = (v << 8) | static_cast<uint32_t>(get_byte());
    return v;
  }
  // The bytes of the current block from the next one on, at least one
  // unless the input has ended.
  std::string_view available();
  // The length of the string that starts at the next byte when it ends in
  // the current block, else kAcross. A NUL may come at most 255 characters
  // on, as the string buffer holds.
  static constexpr std::size_t kAcross = SIZE_MAX;
  std::size_t str_in_block() const {
    std::size_t left = in_.end_ - in_.pos_;
    if (left == 0) return kAcross;
    const char* at = in_.buf_.data() + in_.pos_;
    const void* nul = std::memchr(at, 0, std::min(left, fmt::kMaxString + 1));
    return nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - at) : kAcross;
  }
  // What a string read does with the string: keeps it as the file's last
  // string and gives it, or steps over it and tells whether it was empty.
  enum class Str { kKeep, kSkip };
  template <Str what>
  using StrRead = std::conditional_t<what == Str::kKeep, std::string_view, bool>;
  // Reads the string that starts at the next byte.
  template <Str what>
  StrRead<what> read_str() {
    std::size_t n = str_in_block();
    if (n == kAcross) return read_str_across<what>();
    const char* at = in_.buf_.data() + in_.pos_;
    in_.pos_ += n + 1;
    if constexpr (what == Str::kKeep) return in_.last_ = std::string_view(at, n);
    else return n > 0;
  }
  // read_str for a string that does not end in the current block.
  template <Str what>
  StrRead<what> read_str_across();
  // skip for a step that leaves the current block.
  void skip_across(int64_t n);

  InputFile& in_;
  std::string detail_;
};

// A writer of records, buffered in blocks. Without a stream it only counts,
// which measures what would be written, or keeps what it is given in memory.
class RecOut {
 public:
  enum class Keep { kNothing, kEverything };
  // Small writes are gathered into blocks of `block` bytes, which go to the
  // stream whole; large spans go to it from where they lie, in writes of at
  // most a block.
  explicit RecOut(std::FILE* fp = nullptr, std::size_t block = kDefaultBlock) : fp_(fp), block_(block) {}
  // A writer that keeps everything starts with room for `room` bytes.
  explicit RecOut(Keep keep, std::size_t room = 0)
      : fp_(nullptr), keep_(keep == Keep::kEverything), block_(kDefaultBlock) {
    if (keep_ && room > 0) buf_.resize(room);
  }
  RecOut(const RecOut&) = delete;
  RecOut& operator=(const RecOut&) = delete;
  // The writer moved from lets go of its stream and of what it holds.
  RecOut(RecOut&& other) noexcept;

  // Writes to `fp` from now on, counting from 0.
  void attach(std::FILE* fp);

  void put_byte(int v) {
    if (used_ == buf_.size()) make_space();
    buf_[used_++] = static_cast<char>(v);
    ++count_;
    if (count_ > max_) over_limit();
  }
  void put_word(int v) { put_bytes(static_cast<uint32_t>(v), 2); }
  void put_tri(int32_t v) { put_bytes(static_cast<uint32_t>(v), 3); }
  void put_long(int32_t v) { put_bytes(static_cast<uint32_t>(v), 4); }
  void put_str(std::string_view s) {
    put_block(s.data(), s.size());
    put_byte(0);
  }
  void put_block(const void* data, std::size_t n) {
    // Most spans are short and fit in the block as it stands.
    if (n < buf_.size() - used_ && n < kDirectSpan && static_cast<int64_t>(n) <= max_ - count_ &&
        (keep_ || (fp_ != nullptr && buf_.size() == block_))) {
      copy_name(buf_.data() + used_, static_cast<const char*>(data), n);
      used_ += n;
      count_ += static_cast<int64_t>(n);
      return;
    }
    put_span(data, n);
  }
  // Writes what is buffered to the stream, a block cut short if need be.
  void flush();
  // Writes what is buffered as far as that goes, and lets go of the stream:
  // for a run that fails.
  void flush_and_detach();

  // Bytes written through this writer.
  int64_t count() const { return count_; }
  // What a writer that keeps everything holds.
  std::string_view kept() const { return std::string_view(buf_.data(), used_); }

  // From now on the writer takes at most `max` bytes in all; what would
  // pass that is a malformed input, which the owner calls `detail`.
  void limit(int64_t max, std::string detail);
  // Refuses the next `n` bytes now when they would pass the limit.
  void make_room(int64_t n) const {
    if (n > max_ - count_) over_limit();
  }

 private:
  static constexpr std::size_t kDefaultBlock = 1 << 16;
  // Spans at least this long are written from where they lie, a block at a
  // time, after what is buffered: copying them into the block would cost
  // more than the write.
  static constexpr std::size_t kDirectSpan = 1 << 16;

  void put_span(const void* data, std::size_t n);
  // The `n` low bytes of `v`, most significant first.
  void put_bytes(uint32_t v, int n) {
    if (static_cast<std::size_t>(n) < buf_.size() - used_ && n <= max_ - count_) {
      for (int i = n - 1; i >= 0; --i) buf_[used_++] = static_cast<char>(v >> (8 * i));
      count_ += n;
      return;
    }
    for (int i = n - 1; i >= 0; --i) put_byte(static_cast<int>(v >> (8 * i)));
  }
  void make_space();
  void write_out(const char* data, std::size_t n);
  [[noreturn]] void over_limit() const;

  std::FILE* fp_;
  bool keep_ = false;
  std::size_t block_;
  Block buf_;
  std::size_t used_ = 0;
  int64_t count_ = 0;
  int64_t max_ = INT64_MAX;
  std::string limit_detail_;
};

// Copies what an input file reads to `out` for as long as it lives; end()
// writes what is pending. Left by an exception, it still hands `out` what
// was read, as far as that goes, so that a kept working file shows it.
class TeeScope {
 public:
  TeeScope(InputFile& in, RecOut& out) : in_(in) { in_.tee(out); }
  ~TeeScope() {
    try {
      in_.end_tee();
    } catch (const FormatError&) {
      in_.drop_tee();
    }
  }
  TeeScope(const TeeScope&) = delete;
  TeeScope& operator=(const TeeScope&) = delete;
  void end() { in_.end_tee(); }

 private:
  InputFile& in_;
};
