// The run state: what one run of the librarian holds from its start to its
// exit status, the console, the command line and the library's files. The
// entry point makes it; the driver hands each command the parts it needs.
#pragma once

#include <cstdio>

#include "core/command_line.h"
#include "core/library_files.h"
#include "core/trace_out.h"

struct RunState {
  RunState(std::FILE* out_stream, std::FILE* err_stream) : out(out_stream), err(err_stream) {}

  // Console: messages and trace lines go to `out`; banner, usage and bell to `err`.
  std::FILE* out;
  std::FILE* err;

  CommandLine line;
  LibraryFiles files;

  TraceOut trace() const { return TraceOut(out, line.trace); }
};
