// The library commit.
//
// The editing commands leave the new module table in tmp1, the bodies that
// come from relocatable files in tmp2 or in their files, and a plan of where
// every body of the new library lies: in the old library, in tmp2 or in a
// relocatable file. The commit writes the new library into tmp3: the
// header, the entries with each body's absolute offset filled in (only now
// known), the table's end mark, the bodies, each copied once from where it
// lies, and the final end mark. The file is sent to the device while it is
// written, given the library's owner and mode, synced, and then put in the
// place of the old library, which becomes the backup.
#include <algorithm>
#include <memory>
#include <string>

#include "core/errors.h"
#include "driver/driver.h"
#include "format/formats.h"
#include "format/library.h"
#include "format/stdfnc.h"
#include "host/host.h"

namespace {

// Every body must end within the offsets a library can hold. The
// relocatable file that does not fit is named: the first whose body would
// end past the limit, else the last one before the first body that would
// (it pushed the bodies after it past).
void check_offsets(const RunState& rs, const CommitPlan& plan, int64_t first_body) {
  int64_t end = first_body;
  const std::string* pusher = nullptr;
  bool passed = false;
  for (const BodyRef& body : plan.bodies) {
    end += body.size;
    passed = passed || end > fmt::kMaxOffset;
    if (body.source.empty()) continue;
    if (passed) error_exit(kInvalid, body.source);
    pusher = &body.source;
  }
  if (passed) error_exit(kInvalid, pusher != nullptr ? *pusher : rs.files.lib_name);
}

// The F8 record of an entry in the new library: the body's offset, its
// first F7 and F8 records from the body's start and from the library's
// start (0 for none).
std::string f8_record(int64_t base, const F8Place& place) {
  auto relocated = [base](int32_t offset) { return offset == 0 ? 0 : static_cast<int32_t>(base + offset); };
  RecOut bytes(RecOut::Keep::kEverything);
  put_f8(bytes, {static_cast<int32_t>(base), place.offset1_f7, relocated(place.offset1_f7), place.offset1_f8,
                 relocated(place.offset1_f8)});
  return std::string(bytes.kept());
}

// Copies the table working file into the new library in blocks. Each F8
// record gets the absolute offset of its body: after the header, the table
// of `table_size` bytes, its end mark and the earlier bodies. Where the F8
// records lie and what they count is known from the commands, so the table
// is not read record by record again.
void get_offset(RunState& rs, const CommitPlan& plan, RecOut& out, int64_t header_size, int64_t table_size) {
  rs.trace().line(",get_offset");
  InputFile tmp1;
  tmp1.attach(rs.files.tmp1_fp, "TMP_FILE", &g_break_requested);
  RecIn in(tmp1, "TMP_FILE");
  int64_t body_offset = 0;
  auto place = plan.f8_places.begin();
  std::string f8;
  int64_t f8_at = -1;  // where `f8` goes in the table
  for (std::span<char> chunk = in.get_block(table_size); !chunk.empty(); chunk = in.get_block(table_size)) {
    int64_t chunk_at = in.tell() - static_cast<int64_t>(chunk.size());
    for (;;) {
      if (f8_at < 0 && place != plan.f8_places.end()) {
        f8 = f8_record(header_size + table_size + 1 + body_offset, *place);
        f8_at = place->at;
        body_offset += static_cast<uint32_t>(place->body_size);
        ++place;
      }
      if (f8_at < 0 || f8_at >= chunk_at + static_cast<int64_t>(chunk.size())) break;
      // The record may begin in an earlier block or end in a later one.
      int64_t from = std::max(f8_at, chunk_at);
      int64_t to = std::min(f8_at + fmt::kF8Size, chunk_at + static_cast<int64_t>(chunk.size()));
      std::copy(f8.begin() + (from - f8_at), f8.begin() + (to - f8_at), chunk.begin() + (from - chunk_at));
      if (to < f8_at + fmt::kF8Size) break;
      f8_at = -1;
    }
    out.put_block(chunk.data(), chunk.size());
  }
}

// While the new library is written, what is written is sent to the device
// in pieces of this size, so that the final sync finds little left to do.
constexpr int64_t kWritebackPiece = 8 << 20;

class Writeback {
 public:
  explicit Writeback(std::FILE* fp) : fp_(fp) {}
  void wrote(int64_t n) {
    written_ += n;
    if (written_ - sent_ < kWritebackPiece) return;
    host::start_writeback(fp_, sent_, written_ - sent_);
    sent_ = written_;
  }

 private:
  std::FILE* fp_;
  int64_t written_ = 0;
  int64_t sent_ = 0;
};

// Copies `run.size` bytes from `run.at` of the file `from` into the new
// library, in pieces between which an interrupt is seen; a failed read
// names `name`.
void copy_run(RunState& rs, std::FILE* from, const BodyRef& run, const std::string& name, Writeback& writeback) {
  bool staged = run.from == BodyRef::From::kStaged;
  for (int64_t done = 0; done < run.size; done += kWritebackPiece) {
    poll_break();
    int64_t piece = std::min(kWritebackPiece, run.size - done);
    switch (host::copy_range(from, run.at + done, piece, rs.files.tmp3_fp)) {
      case host::Copy::kDone: break;
      case host::Copy::kReadFailed: error_exit(kReadError, name);
      case host::Copy::kWriteFailed: error_exit(kDiskFull);
    }
    writeback.wrote(piece);
    // A staged body is used once: its pages go back while the new
    // library's pieces are on their way to the device. The trace flag
    // keeps the working files as they were written, should the run fail.
    if (staged && !rs.line.trace) host::release_range(rs.files.tmp2_fp, run.at + done, piece);
  }
}

// A body left in its relocatable file is copied from there, provided the
// file is still the one that was read: a file changed since is refused.
void copy_from_file(RunState& rs, const BodyRef& body, Writeback& writeback) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(host::open_read(body.source), &std::fclose);
  host::FileStamp now;
  if (file == nullptr || !host::stream_stamp(file.get(), now) || !(now == body.stamp))
    error_exit(kInvalid, body.source);
  copy_run(rs, file.get(), body, body.source, writeback);
}

// Copies the bodies into the new library from where they lie, each run of
// bodies that lie back to back in the old library or in tmp2 at once.
void copy_bodies(RunState& rs, const CommitPlan& plan, Writeback& writeback) {
  for (auto body = plan.bodies.begin(); body != plan.bodies.end();) {
    if (body->from == BodyRef::From::kFile) {
      copy_from_file(rs, *body++, writeback);
      continue;
    }
    BodyRef run = *body;
    for (++body; body != plan.bodies.end() && body->from == run.from && body->at == run.at + run.size; ++body)
      run.size += body->size;
    if (run.from == BodyRef::From::kStaged)
      copy_run(rs, rs.files.tmp2_fp, run, "TMP_FILE", writeback);
    else
      copy_run(rs, rs.files.lib_fp, run, rs.files.lib_name, writeback);
  }
}

// Back to the start of a working file that the command has written.
void rewind_work_file(std::FILE* fp) {
  if (!host::seek(fp, 0, SEEK_SET)) error_exit(kSeekError, "TMP_FILE");
}

void write_library(RunState& rs, const CommitPlan& plan) {
  int64_t table_size = plan.table_out.count();
  int64_t header_size = ::header_size(plan.header);
  check_offsets(rs, plan, header_size + table_size + 1);
  if (rs.files.tmp3_fp == nullptr && !take_work_file(rs, rs.files.tmp3, rs.files.tmp3_fp)) error_exit(kCantOpen, "TMP_FILE");
  rs.files.tmp3_made = true;
  rewind_work_file(rs.files.tmp1_fp);

  RecOut out(rs.files.tmp3_fp);
  Writeback writeback(rs.files.tmp3_fp);
  rs.trace().line(",put header");
  put_header(out, plan.header);
  get_offset(rs, plan, out, header_size, table_size);
  out.put_byte(fmt::kEnd);
  out.flush();
  writeback.wrote(out.count());
  copy_bodies(rs, plan, writeback);
  // The bodies went past the stream, which writes the last byte at the end.
  if (!host::seek(rs.files.tmp3_fp, 0, SEEK_END)) error_exit(kSeekError, "TMP_FILE");
  out.put_byte(fmt::kEnd);
  out.flush();
  if (!host::finish_library(rs.files.tmp3_fp, rs.files.lib_file)) error_exit(kCloseFailed);
}

void put_in_place(RunState& rs, const CommitPlan& plan) {
  if (rs.line.command == Command::kDelete && plan.header.hdr_modules == 0) {
    // No module is left: the library becomes its backup.
    if (!host::retire_library(rs.files.lib_file, rs.files.bak_name)) error_exit(kCantOpen, rs.files.lib_file);
    host::drop_work_file(rs.files.tmp3, rs.files.tmp3_fp, true);
  } else {
    if (!host::install_library(rs.files.tmp3_fp, rs.files.tmp3, rs.files.lib_file, rs.files.bak_name))
      error_exit(kCantOpen, rs.files.lib_file);
    // The working file has become the new library: let go of it, and
    // nothing is left to remove should the run still fail.
    host::drop_work_file(rs.files.tmp3, rs.files.tmp3_fp, false);
  }
  rs.files.tmp3.clear();
  // The table and the bodies are in the new library; a working file that
  // cannot be removed now stays behind harmlessly.
  host::drop_work_file(rs.files.tmp1, rs.files.tmp1_fp, true);
  host::drop_work_file(rs.files.tmp2, rs.files.tmp2_fp, true);
}

}  // namespace

void commit_library(RunState& rs, CommitPlan plan) {
  if (rewrites_library(rs.line.command)) {
    // What the command wrote last is still in its writers.
    plan.table_out.flush();
    plan.body_out.flush();
    write_library(rs, plan);
    // The old library is closed before the new one takes its name: some
    // hosts do not replace a file that is open.
    rs.files.close_library();
    poll_break();
    put_in_place(rs, plan);
  }
  if (rs.line.v) std::fputs("\n", rs.out);
  std::fprintf(rs.out, "%s %06ld", "MODULE COUNT        ", static_cast<long>(plan.header.hdr_modules));
  std::fprintf(rs.out, "\n%s %06ld\n", "GLOBAL SYMBOL COUNT ", static_cast<long>(plan.header.hdr_symbols));
}
