// Record streams.
//
// Every file the librarian reads or writes, apart from command files and the
// listing, is a record stream: one-byte tags, each followed by fields. Words,
// 3-byte values and longs are big-endian; strings are NUL-terminated and at
// most 255 characters long.
//
// A reader knows what to call its input when the input is malformed: a
// detail code or a file name. A record cut off by the end of the input, or a
// string too long for the string buffer, ends the run with "Invarid module or
// library" and that name. Only a tag read may meet the plain end of the input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct RunState;
class RecOut;

class RecIn {
 public:
  RecIn(RunState& rs, std::FILE* fp, std::string bad) : rs_(rs), fp_(fp), bad_(std::move(bad)) {}

  // The next tag, or -1 at the end of the input. Also where an interrupt
  // takes effect: every loop over records passes here.
  int get_tag();
  int get_byte();
  int get_word();
  int32_t get_tri();
  int32_t get_long();
  // Reads into the run state's string buffer and returns it.
  const std::string& get_str();

  // Steps over n bytes; a negative count or one past the end is malformed input.
  void skip(int64_t n);
  // Copies n bytes to `out` as one block.
  void copy_bytes(int64_t n, RecOut& out);
  // Position of the next byte from the start of the stream.
  int64_t tell();
  void seek_start();

  std::FILE* fp() const { return fp_; }
  const std::string& bad() const { return bad_; }
  [[noreturn]] void malformed();

 private:
  int next();  // one byte, or -1 at the end; a read error ends the run
  int must();  // one byte; the end of the input is malformed

  RunState& rs_;
  std::FILE* fp_;
  std::string bad_;
};

// A writer; without a stream it only counts, which measures a module
// without storing it.
class RecOut {
 public:
  RecOut(RunState& rs, std::FILE* fp) : rs_(rs), fp_(fp) {}

  void put_byte(int v);
  void put_word(int v);
  void put_tri(int32_t v);
  void put_long(int32_t v);
  void put_str(const std::string& s);
  void put_block(const void* data, std::size_t n);

  // Bytes written through this writer.
  int64_t count() const { return count_; }

  // From now on the writer takes at most `max` bytes in all; what would
  // pass that is refused as "Invarid module or library" naming `name`.
  void limit(int64_t max, std::string name);
  // Refuses the next `n` bytes now when they would pass the limit.
  void make_room(int64_t n);

 private:
  RunState& rs_;
  std::FILE* fp_;
  int64_t count_ = 0;
  int64_t max_ = INT64_MAX;
  std::string limit_name_;
};

// Read one field and write it unchanged; each returns the value.
int copy_byte(RecIn& in, RecOut& out);
int copy_word(RecIn& in, RecOut& out);
int32_t copy_tri(RecIn& in, RecOut& out);
int32_t copy_long(RecIn& in, RecOut& out);
// Copies one string; true when it was not empty.
bool copy_str(RecIn& in, RecOut& out);
// Copies entries of `fixed` bytes and a name through the entry whose name is empty.
void copy_named_list(RecIn& in, RecOut& out, int fixed);

// What a fault of the module grammar is called: F2 without its F0
// sub-record, an F7 entry whose first item is not F0, F1 or F2.
struct RomodFaults {
  std::string bad_f2;
  std::string bad_f7;
};

// Copies the body of one module record whose tag was just read and copied.
// False for a byte that is no record tag.
bool copy_record(RunState& rs, RecIn& in, RecOut& out, int tag, const RomodFaults& faults);

// Copies one module body, record by record following the module grammar,
// through its closing FF. A byte in tag position that is no tag, or the end of
// the input there, is "S0004"; F2 without its F0 sub-record "S0001"; an F7
// entry with a bad first item "S0002".
void copy_romod(RunState& rs, std::FILE* in, RecOut& out);

// Trace lines keep running counters at one place of the screen.
void move_cursor(RunState& rs, int column, int row);
