// What the command line gives a run: the command, its options, the library
// as typed and the names of the files or modules to work on.
#pragma once

#include <string>
#include <vector>

#include "core/command.h"
#include "core/source_date.h"

// A name from the command line: a relocatable file (append, replace) or a
// module name (delete, extract, list). Module names are compared with its
// base name.
struct FtreeNode {
  std::string name;
  std::string base;
};

struct CommandLine {
  char cmd_code = 0;  // the command letter as typed, 0 = none yet
  Command command = Command::kNone;
  bool u = false;      // the update check
  bool v = false;      // verbose
  bool trace = false;  // option k: the trace lines, and the working files kept
  bool make_new = false;  // --new: the library is made from the given files alone
  std::string lib_name;  // the library as typed
  std::vector<FtreeNode> ftree;
  // SOURCE_DATE_EPOCH, read from the environment with the command line.
  SourceDate source_date;
};
