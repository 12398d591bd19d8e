// The verbose display of the files or modules a command handles: the
// command's heading, then their names, separated by commas.
#pragma once

#include <cstdio>
#include <string>

struct Run;

class NameDisplay {
 public:
  // Shows the heading; nothing at all is shown unless the verbose option is given.
  NameDisplay(const Run& run, const char* heading);

  // Shows `name`, or "ALL FILES" once in its stead after all_files().
  void disp_fname(const std::string& name);
  void all_files() { all_files_ = true; }

 private:
  std::FILE* out_;
  bool on_;
  bool names_shown_ = false;
  bool all_files_ = false;
};
