// The run state: everything one run of the librarian knows.
//
// One instance per run, made by the entry point and passed by reference to
// every routine. Streams are owned here and closed when the state goes away,
// so a run that ends through the error reporter leaks nothing.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "intake/def_index.h"
#include "intake/tables.h"

// A name from the command line: a relocatable file (append, replace) or a
// module name (delete, extract, list). `matched` is set when the selection
// pass finds it in the library.
struct FtreeNode {
  bool matched = false;
  std::string name;
};

// Modification time as local calendar time: seconds, minutes, hours, day of
// month (1-31), month (0-11), years since 1900.
using ModTime = std::array<int, 6>;

// The current module-table entry.
struct RotblRec {
  std::string mod_name;
  int32_t entry_len = 0;
  int32_t tail_len = 0;
  int32_t mod_size = 0;
  // pub_count, pub_size, equ_count, equ_size, bit_count, bit_size, ext_count
  std::array<int32_t, 7> f4{};
  int32_t mod_offset = 0;
  int32_t offset1_f7 = 0;
  int32_t abs_f7 = 0;
  int32_t offset1_f8 = 0;
  int32_t abs_f8 = 0;
  ModTime mod_time{};
};

// One entry per module of the library in library order, used by replace,
// delete and extract between their table pass and their body pass.
struct ReplaceEntry {
  bool selected = false;
  int file_index = 0;
  int32_t body_len = 0;  // the module's body in the library
  int32_t new_len = 0;   // replace: the body that takes its place
};

// A body of the new library, in table order: its size and the relocatable
// file it comes from (empty for a body kept from the old library).
struct BodyRef {
  int64_t size;
  std::string source;
};

struct RunState {
  RunState(std::FILE* out_stream, std::FILE* err_stream) : out(out_stream), err(err_stream) {}
  ~RunState();
  RunState(const RunState&) = delete;
  RunState& operator=(const RunState&) = delete;

  // Console: messages and trace lines go to `out`; banner, usage and bell to `err`.
  std::FILE* out;
  std::FILE* err;

  // Command line.
  char cmd_code = 0;  // the command letter as typed, 0 = none yet
  bool u = false;
  bool v = false;
  bool o = false;
  bool f = false;
  bool trace = false;
  bool opt_error = false;
  std::vector<FtreeNode> ftree;
  std::string cmd_file_name;

  // File names. `path` is the directory typed with the library, `name` its
  // base name without extension, `lib_dir` the VORNA directory when the
  // library was looked for there, `tmp_dir` the TMP directory. `lib_file`
  // is the file the library lives in (where a symbolic link leads), which
  // the commit replaces, keeping the old one as `bak_name` beside it.
  std::string lib_name;
  std::string path;
  std::string name;
  std::string lib_dir;
  std::string tmp_dir;
  std::string tmp1;
  std::string tmp2;
  std::string tmp3;
  std::string lib_file;
  std::string bak_name;
  std::string list_name;
  std::string cur_file;  // the name that read and format errors show
  std::string obj_path;  // the relocatable file being read or written
  std::string open_path;

  // Streams; nullptr when not open.
  std::FILE* lib_fp = nullptr;
  std::FILE* tmp1_fp = nullptr;
  std::FILE* tmp2_fp = nullptr;
  std::FILE* tmp3_fp = nullptr;
  std::FILE* list_fp = nullptr;
  std::FILE* obj_fp = nullptr;
  std::FILE* cmd_fp = nullptr;
  // Buffers of the streams that carry whole libraries, and of the relocatable
  // files that append reads.
  std::vector<char> lib_buf, tmp1_buf, tmp2_buf, tmp3_buf, obj_buf;

  bool create = false;  // the library did not exist; append creates it
  bool waited = false;  // the run has waited for another run's files
  bool tmp3_made = false;  // the commit has begun to write the new library
  bool names_shown = false;
  bool all_files = false;

  // The shared string buffer that every string read fills.
  std::string str_buf;

  // Library header.
  std::string hdr_version;
  std::string hdr_format;
  std::string hdr_cpu;
  int32_t hdr_modules = 0;
  int32_t hdr_symbols = 0;

  RotblRec rotbl_rec;
  SymbolTables tables;

  // Duplicate check: the global definitions of the entries already in tmp1,
  // and the library module found by the last clash.
  DefIndex defs;
  std::string redef_module;

  std::vector<ReplaceEntry> replace_table;
  std::vector<BodyRef> bodies;
};

// Closes a stream if it is open and marks it closed; true unless the close failed.
bool close_stream(std::FILE*& fp);
