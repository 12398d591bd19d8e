// The library's files and streams: the library a run reads, the working
// files of a library it rewrites and the listing it writes, by name and as
// open streams.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "format/stdfnc.h"

// Whole libraries and module bodies are read and staged in blocks of a
// megabyte: few calls of the system, and a file it can write and free in
// large pieces.
constexpr std::size_t kLargeBlock = 1 << 20;

struct LibraryFiles {
  LibraryFiles() = default;
  // Streams are owned here and closed when the files go away, so a run
  // that ends through the error reporter leaks nothing.
  ~LibraryFiles();
  LibraryFiles(const LibraryFiles&) = delete;
  LibraryFiles& operator=(const LibraryFiles&) = delete;

  // Closes the library the run reads.
  void close_library();

  // File names. `lib_name` is the library as typed, with ".LIB" when it had
  // no extension; `path` is the directory typed with it, `name` its base
  // name without extension, `lib_dir` the VORNA directory when the library
  // was looked for there, `tmp_dir` the TMP directory. `lib_file` is the
  // file the library lives in (where a symbolic link leads), which the
  // commit replaces, keeping the old one as `bak_name` beside it.
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
  std::string cur_file;  // the name that messages show when a fault names no file

  // Streams; nullptr when not open. The library is read through `lib_in`.
  std::FILE* lib_fp = nullptr;
  std::FILE* tmp1_fp = nullptr;
  std::FILE* tmp2_fp = nullptr;
  std::FILE* tmp3_fp = nullptr;
  std::FILE* list_fp = nullptr;
  InputFile lib_in{kLargeBlock};

  bool create = false;     // the library did not exist; append creates it
  bool waited = false;     // the run has waited for another run's files
  bool tmp3_made = false;  // the commit has begun to write the new library
};
