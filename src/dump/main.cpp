// vornadump: shows every record of a library or a relocatable module, with
// --check reports every rule of the format that the file breaks, and with
// --diff tells how two libraries or two modules differ.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "dump/diff.h"
#include "dump/dump.h"
#include "dump/options.h"
#include "dump/sinks.h"
#include "host/host.h"

namespace {

int dump_main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::optional<dump::Options> options = dump::parse_options(args);
  if (!options) {
    dump::write_usage(stderr, false);
    return dump::kUsage;
  }
  if (options->request == dump::Request::kVersion) {
    std::printf("vornadump %s\n", VORNA_VERSION);
    return dump::kClean;
  }
  if (options->request == dump::Request::kHelp) {
    dump::write_usage(stdout, true);
    return dump::kClean;
  }
  if (options->diff) {
    int status = dump::diff_files(*options, stdout, stderr);
    std::fflush(stdout);
    return status;
  }
  std::unique_ptr<dump::Sink> sink = options->json    ? dump::json_sink(stdout)
                                     : options->check ? dump::check_sink(stdout)
                                                      : dump::text_sink(stdout);
  int status = dump::kClean;
  for (const std::string& file : options->files)
    status = std::max<int>(status, dump::dump_file(file, *options, *sink, stderr));
  std::fflush(stdout);
  return status;
}

}  // namespace

HOST_PROGRAM_MAIN(dump_main)
