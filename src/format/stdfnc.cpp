#include "format/stdfnc.h"

#include <algorithm>
#include <functional>
#include <utility>

#include "format/formats.h"
#include "host/host.h"

namespace {

// Steps shorter than this are read rather than sought: cheaper than a seek
// and a new block, and the end of the input shows at once.
constexpr int64_t kReadSkipLimit = 1 << 12;
// Bytes a writer without a stream keeps before it counts them away.
constexpr std::size_t kCountingBlock = 256;

}  // namespace

void Block::resize(std::size_t n, std::size_t keep) {
  if (n == size_) return;
  std::unique_ptr<char[]> bytes(new char[n]);
  if (keep > 0) std::memcpy(bytes.get(), data_.get(), std::min(keep, n));
  data_ = std::move(bytes);
  size_ = n;
}

void InputFile::attach(std::FILE* fp, std::string name, const volatile std::sig_atomic_t* interrupt) {
  fp_ = fp;
  name_ = std::move(name);
  interrupt_ = interrupt;
  pos_ = end_ = tee_from_ = 0;
  start_ = 0;
  expected_ = 0;
  tee_ = nullptr;
  last_ = {};
}

void InputFile::detach() { attach(nullptr, std::string(), nullptr); }

void InputFile::keep_last_str() {
  std::less<const char*> before;
  if (before(last_.data(), buf_.data()) || !before(last_.data(), buf_.data() + buf_.size())) return;
  str_.assign(last_);
  last_ = str_;
}

bool InputFile::fill() {
  flush_tee();
  keep_last_str();
  start_ += static_cast<int64_t>(end_);
  pos_ = end_ = tee_from_ = 0;
  poll();
  if (buf_.size() != capacity_) buf_.resize(capacity_);
  std::size_t want = buf_.size();
  if (expected_ > start_) want = static_cast<std::size_t>(std::min<int64_t>(expected_ - start_, capacity_));
  std::size_t got = std::fread(buf_.data(), 1, want, fp_);
  if (got == 0 && std::ferror(fp_)) throw FormatError{FormatError::Kind::kReadFailed, FormatError::Rule::kNone, name_};
  end_ = got;
  return got > 0;
}

void InputFile::seek(int64_t position) {
  flush_tee();
  if (position >= start_ && position <= start_ + static_cast<int64_t>(end_)) {
    pos_ = tee_from_ = static_cast<std::size_t>(position - start_);
    return;
  }
  std::clearerr(fp_);
  if (!host::seek(fp_, position, SEEK_SET))
    throw FormatError{FormatError::Kind::kSeekFailed, FormatError::Rule::kNone, name_};
  start_ = position;
  pos_ = end_ = tee_from_ = 0;
}

void InputFile::tee(RecOut& out) {
  tee_ = &out;
  tee_from_ = pos_;
}

void InputFile::end_tee() {
  flush_tee();
  tee_ = nullptr;
}

void InputFile::flush_tee() {
  if (tee_ != nullptr && pos_ > tee_from_) tee_->put_block(buf_.data() + tee_from_, pos_ - tee_from_);
  tee_from_ = pos_;
}

std::string_view RecIn::available() {
  if (in_.pos_ == in_.end_ && !in_.fill()) return {};
  return std::string_view(in_.buf_.data() + in_.pos_, in_.end_ - in_.pos_);
}

std::span<char> RecIn::get_block(int64_t max) {
  std::size_t n = static_cast<std::size_t>(std::min<int64_t>(max, static_cast<int64_t>(available().size())));
  std::span<char> block(in_.buf_.data() + in_.pos_, n);
  in_.pos_ += n;
  return block;
}

template <RecIn::Str what>
RecIn::StrRead<what> RecIn::read_str_across() {
  // A string kept is put together in the string buffer, which so no longer
  // holds the last string.
  constexpr bool keep = what == Str::kKeep;
  std::string& s = in_.str_;
  if constexpr (keep) {
    in_.last_ = {};
    s.clear();
  }
  std::size_t length = 0;
  for (;;) {
    std::string_view a = available();
    if (a.empty()) malformed();
    // A NUL may come at most this far: the string buffer holds 255 characters.
    std::size_t look = std::min(a.size(), fmt::kMaxString + 1 - length);
    const void* nul = std::memchr(a.data(), 0, look);
    std::size_t n = nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - a.data()) : look;
    if constexpr (keep) s.append(a.data(), n);
    length += n;
    in_.pos_ += n;
    if (nul != nullptr) {
      ++in_.pos_;
      if constexpr (keep) return in_.last_ = s;
      else return length > 0;
    }
    if (length > fmt::kMaxString) malformed();
  }
}

template std::string_view RecIn::read_str_across<RecIn::Str::kKeep>();
template bool RecIn::read_str_across<RecIn::Str::kSkip>();

void RecIn::skip_across(int64_t n) {
  if (n < 0) malformed();
  if (in_.tee_ != nullptr || n <= kReadSkipLimit) {
    // Read through: a copy must see every byte, and short steps are cheap.
    if (in_.tee_ != nullptr) in_.tee_->make_room(static_cast<int64_t>(in_.pos_ - in_.tee_from_) + n);
    while (n > 0) {
      std::string_view a = available();
      if (a.empty()) malformed();
      std::size_t take = static_cast<std::size_t>(std::min<int64_t>(n, static_cast<int64_t>(a.size())));
      in_.pos_ += take;
      n -= static_cast<int64_t>(take);
    }
    return;
  }
  // Seek to the last byte to step over and read it: that proves it exists.
  in_.seek(in_.position() + n - 1);
  if (next() < 0) malformed();
}

void RecIn::copy_bytes(int64_t n, RecOut& out) {
  if (n < 0) malformed();
  out.make_room(n);
  while (n > 0) {
    std::string_view a = available();
    if (a.empty()) malformed();
    std::size_t take = static_cast<std::size_t>(std::min<int64_t>(n, static_cast<int64_t>(a.size())));
    out.put_block(a.data(), take);
    in_.pos_ += take;
    n -= static_cast<int64_t>(take);
  }
}

RecOut::RecOut(RecOut&& other) noexcept
    : fp_(std::exchange(other.fp_, nullptr)),
      keep_(other.keep_),
      block_(other.block_),
      buf_(std::move(other.buf_)),
      used_(std::exchange(other.used_, 0)),
      count_(std::exchange(other.count_, 0)),
      max_(other.max_),
      limit_detail_(std::move(other.limit_detail_)) {}

void RecOut::attach(std::FILE* fp) {
  fp_ = fp;
  used_ = 0;
  count_ = 0;
}

void RecOut::make_space() {
  if (keep_) {
    buf_.resize(std::max<std::size_t>(kCountingBlock, 2 * buf_.size()), used_);
    return;
  }
  flush();
  if (buf_.empty()) buf_.resize(fp_ != nullptr ? block_ : kCountingBlock);
}

void RecOut::put_span(const void* data, std::size_t n) {
  if (n == 0) return;
  make_room(static_cast<int64_t>(n));
  count_ += static_cast<int64_t>(n);
  const char* p = static_cast<const char*>(data);
  if (keep_) {
    if (n > buf_.size() - used_) buf_.resize(std::max(used_ + n, 2 * buf_.size()), used_);
    std::memcpy(buf_.data() + used_, p, n);
    used_ += n;
    return;
  }
  if (fp_ == nullptr) return;
  if (n >= kDirectSpan) {
    flush();
    for (std::size_t take; n > 0; p += take, n -= take) {
      take = std::min(n, block_);
      write_out(p, take);
    }
    return;
  }
  if (buf_.size() != block_) buf_.resize(block_);
  while (n > 0) {
    std::size_t take = std::min(n, block_ - used_);
    std::memcpy(buf_.data() + used_, p, take);
    used_ += take;
    p += take;
    n -= take;
    if (used_ == block_) flush();
  }
}

void RecOut::write_out(const char* data, std::size_t n) {
  if (std::fwrite(data, 1, n, fp_) != n) throw FormatError{FormatError::Kind::kWriteFailed};
}

void RecOut::flush() {
  if (fp_ != nullptr && used_ > 0) write_out(buf_.data(), used_);
  used_ = 0;
}

void RecOut::flush_and_detach() {
  if (fp_ != nullptr && used_ > 0) std::fwrite(buf_.data(), 1, used_, fp_);
  attach(nullptr);
}

void RecOut::limit(int64_t max, std::string detail) {
  max_ = max;
  limit_detail_ = std::move(detail);
}

void RecOut::over_limit() const {
  throw FormatError{FormatError::Kind::kMalformed, FormatError::Rule::kTooLarge, {}, limit_detail_};
}

