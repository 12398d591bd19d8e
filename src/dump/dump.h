// One file through vornadump: opened, recognised, read part by part into
// the sink, checked.
#pragma once

#include <cstdio>
#include <string>

#include "dump/options.h"
#include "dump/sink.h"

namespace dump {

// Exit statuses.
enum Status { kClean = 0, kBroken = 1, kUsage = 2, kUnreadable = 3 };

// Dumps or checks one file; messages about a file that cannot be read go
// to `err`. Returns the file's status.
Status dump_file(const std::string& name, const Options& options, Sink& sink, std::FILE* err);

}  // namespace dump
