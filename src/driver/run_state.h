// The run state: everything one run of the librarian knows.
//
// One instance per run, made by the entry point and passed by reference to
// every routine. Streams are owned here and closed when the state goes away,
// so a run that ends through the error reporter leaks nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "driver/command.h"
#include "format/library.h"
#include "format/stdfnc.h"
#include "host/host.h"

// A name from the command line: a relocatable file (append, replace) or a
// module name (delete, extract, list). The selection pass compares its base
// name with the module names and sets `matched` when it finds it in the
// library.
struct FtreeNode {
  bool matched = false;
  std::string name;
  std::string base;
};

// One entry per module of the library in library order, used by replace,
// delete and extract between their table pass and their body pass.
struct ReplaceEntry {
  bool selected = false;
  int file_index = 0;
  int32_t body_len = 0;  // the module's body in the library
  int32_t new_len = 0;   // replace: the body that takes its place
};

// A body of the new library, in table order: where its bytes lie (in the
// old library, staged in tmp2, or still in its relocatable file, from its
// start), how many there are, and the relocatable file it comes from (empty
// for a body kept from the old library). A body left in its file is copied
// from there only when the file is still as `stamp` found it when it was read.
struct BodyRef {
  enum class From { kLibrary, kStaged, kFile };
  From from;
  int64_t at;
  int64_t size;
  std::string source;
  host::FileStamp stamp{};
};

// An F8 record of the table working file, where the commit puts the offsets
// of a body: its place in the file, the size of the body it counts (the
// F2 value before it), and the body's own offsets of its first F7 and F8.
struct F8Place {
  int64_t at;
  int32_t body_size;
  int32_t offset1_f7;
  int32_t offset1_f8;
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
  Command command = Command::kNone;
  bool u = false;
  bool v = false;
  bool o = false;
  bool f = false;
  bool trace = false;
  bool opt_error = false;
  std::vector<FtreeNode> ftree;
  std::string cmd_file_name;

  // SOURCE_DATE_EPOCH: set for a reproducible build.
  std::optional<std::time_t> source_date_epoch;

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
  std::string cur_file;  // the name that messages about the library show
  std::string obj_path;  // the relocatable file being read or written

  // Streams; nullptr when not open.
  std::FILE* lib_fp = nullptr;
  std::FILE* tmp1_fp = nullptr;
  std::FILE* tmp2_fp = nullptr;
  std::FILE* tmp3_fp = nullptr;
  std::FILE* list_fp = nullptr;
  std::FILE* obj_fp = nullptr;
  std::FILE* cmd_fp = nullptr;
  // The library and the relocatable file as they are read, the table
  // (tmp1) and the bodies (tmp2) of the new library and an extracted module
  // as they are written.
  // Whole libraries and module bodies are read and staged in blocks of a
  // megabyte: few calls of the system, and a file it can write and free in
  // large pieces.
  static constexpr std::size_t kLargeBlock = 1 << 20;
  InputFile lib_in{kLargeBlock};
  InputFile obj_in{kLargeBlock};
  RecOut table_out;
  RecOut body_out{nullptr, kLargeBlock};
  RecOut obj_out;

  bool create = false;  // the library did not exist; append creates it
  bool waited = false;  // the run has waited for another run's files
  bool tmp3_made = false;  // the commit has begun to write the new library
  bool names_shown = false;
  bool all_files = false;

  LibraryHeader header;
  // The current module-table entry and its symbol tables.
  TableEntry rotbl_rec;

  std::vector<ReplaceEntry> replace_table;
  // What the command leaves for the commit besides the working files.
  std::vector<BodyRef> bodies;
  int64_t file_bytes = 0;  // the bodies of kind kFile, which no working file counts
  std::vector<F8Place> f8_places;
};

// Closes a stream if it is open and marks it closed; true unless the close failed.
bool close_stream(std::FILE*& fp);
