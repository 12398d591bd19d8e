// What a command is given: the command line, the library's files, and the
// console it shows its verbose and trace lines on.
#pragma once

#include <cstdio>

#include "core/command_line.h"
#include "core/library_files.h"
#include "core/trace_out.h"

struct Run {
  Run(const CommandLine& command_line, LibraryFiles& library_files, std::FILE* out_stream)
      : line(command_line), files(library_files), out(out_stream), trace(out_stream, command_line.trace) {}

  const CommandLine& line;
  LibraryFiles& files;
  std::FILE* out;
  TraceOut trace;
};
