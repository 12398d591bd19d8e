#include "dump/options.h"

#include <cstdio>

namespace dump {

void write_usage(std::FILE* to, bool help) {
  std::fputs("usage: vornadump [--check] [--json] [--lib|--qob] FILE...\n"
             "  Shows every record of a library (.LIB) or a relocatable module (.QOB).\n"
             "  --check    reports each rule of the format that the file breaks, then a count\n"
             "  --json     writes one JSON document per file\n"
             "  --lib      reads every file as a library; --qob as a module\n",
             to);
  if (help) std::fputs("  --version  shows the version\n  --help     shows this text\n", to);
  std::fputs("Exit status: 0 clean, 1 a rule is broken, 2 usage error, 3 a file cannot be read.\n", to);
}

std::optional<Options> parse_options(const std::vector<std::string>& args) {
  Options o;
  bool forced = false;
  bool only_files = false;
  for (const std::string& a : args) {
    if (only_files) {
      o.files.push_back(a);
    } else if (a == "--version" || a == "--help") {
      o.request = a == "--version" ? Request::kVersion : Request::kHelp;
      return o;
    } else if (a.empty() || a[0] != '-' || a == "-") {
      o.files.push_back(a);
    } else if (a == "--") {
      only_files = true;
    } else if (a == "--check") {
      o.check = true;
    } else if (a == "--json") {
      o.json = true;
    } else if ((a == "--lib" || a == "--qob") && !forced) {
      o.reading = a == "--lib" ? Reading::kLibrary : Reading::kModule;
      forced = true;
    } else {
      return std::nullopt;
    }
  }
  if (o.files.empty()) return std::nullopt;
  return o;
}

}  // namespace dump
