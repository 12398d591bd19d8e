// The command line of vornadump.
//
//   vornadump [--check] [--json] [--lib|--qob] FILE...
//   vornadump --diff [--ignore-times] [--json] [--lib|--qob] A B
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace dump {

// How a file is read: as its content says, or as forced.
enum class Reading { kByContent, kLibrary, kModule };

// What a run is asked for: the files shown, or only the version or the help.
enum class Request { kDump, kVersion, kHelp };

struct Options {
  Request request = Request::kDump;
  bool check = false;  // report the broken rules, not the records
  bool json = false;   // one JSON document per file
  bool diff = false;   // compare the two files given
  bool ignore_times = false;  // with diff: leave the module times out
  Reading reading = Reading::kByContent;
  std::vector<std::string> files;
};

// The options, or nothing when the command line is not of this form.
// --version and --help before a "--" answer the run, whatever else is given.
std::optional<Options> parse_options(const std::vector<std::string>& args);

// The usage text, which --help extends by its own two options.
void write_usage(std::FILE* to, bool help);

}  // namespace dump
