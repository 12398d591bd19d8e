// A relocatable file that a command reads: append and replace read their
// modules through one of these, opened for each file in turn, so that the
// large block of its reader is made once per run.
#pragma once

#include <cstdio>
#include <string>

#include "format/stdfnc.h"

class RelocatableFile {
 public:
  RelocatableFile();
  ~RelocatableFile() { close(); }
  RelocatableFile(const RelocatableFile&) = delete;
  RelocatableFile& operator=(const RelocatableFile&) = delete;

  // Opens `path` for reading (the file open before is closed); a file that
  // cannot be opened ends the run, naming it.
  void open(const std::string& path);
  void close();

  std::FILE* fp() const { return fp_; }
  InputFile& in() { return in_; }

 private:
  std::FILE* fp_ = nullptr;
  InputFile in_;
};
