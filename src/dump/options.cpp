#include "dump/options.h"

#include <cstdio>

namespace dump {

void write_usage(std::FILE* to, bool help) {
  std::fputs("usage: vornadump [--check] [--json] [--lib|--qob] FILE...\n"
             "       vornadump --diff [--ignore-times] [--json] [--lib|--qob] A B\n"
             "  Shows every record of a library (.LIB) or a relocatable module (.QOB).\n"
             "  --check    reports each rule of the format that the file breaks, then a count\n"
             "  --json     writes one JSON document per file\n"
             "  --lib      reads every file as a library; --qob as a module\n"
             "  --diff     tells how two libraries, or two modules, differ in what they hold\n"
             "  --ignore-times  leaves the module times out of the comparison\n",
             to);
  if (help) std::fputs("  --version  shows the version\n  --help     shows this text\n", to);
  std::fputs("Exit status: 0 clean, 1 a rule is broken, 2 usage error, 3 a file cannot be read;\n"
             "  with --diff: 0 the same, 1 different, 2 usage error or a file that is neither\n"
             "  library nor module, 3 a file cannot be read.\n",
             to);
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
    } else if (a == "--diff") {
      o.diff = true;
    } else if (a == "--ignore-times") {
      o.ignore_times = true;
    } else if ((a == "--lib" || a == "--qob") && !forced) {
      o.reading = a == "--lib" ? Reading::kLibrary : Reading::kModule;
      forced = true;
    } else {
      return std::nullopt;
    }
  }
  if (o.files.empty()) return std::nullopt;
  // A comparison takes two files and reports no broken rules.
  if (o.diff && (o.files.size() != 2 || o.check)) return std::nullopt;
  if (o.ignore_times && !o.diff) return std::nullopt;
  return o;
}

}  // namespace dump
