// The command line of vornadump.
//
//   vornadump [--check] [--json] [--lib|--qob] FILE...
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace dump {

// How a file is read: as its content says, or as forced.
enum class Reading { kByContent, kLibrary, kModule };

struct Options {
  bool check = false;  // report the broken rules, not the records
  bool json = false;   // one JSON document per file
  Reading reading = Reading::kByContent;
  std::vector<std::string> files;
};

// The options, or nothing when the command line is not of this form.
std::optional<Options> parse_options(const std::vector<std::string>& args);

extern const char* const kUsageText;

}  // namespace dump
