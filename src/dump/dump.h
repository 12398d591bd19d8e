// One file through vornadump: opened, recognised, read part by part into
// the sink, checked.
#pragma once

#include <cstdio>
#include <string>

#include "dump/options.h"
#include "dump/sink.h"

class RecIn;

namespace dump {

// Exit statuses.
enum Status { kClean = 0, kBroken = 1, kUsage = 2, kUnreadable = 3 };

// Dumps or checks one file; messages about a file that cannot be read go
// to `err`. Returns the file's status.
Status dump_file(const std::string& name, const Options& options, Sink& sink, std::FILE* err);

// Opens `name` to be read in blocks and tells its size; null, with the
// message on `err`, when it cannot be opened.
std::FILE* open_input(const std::string& name, int64_t& size, std::FILE* err);
// The message for a file that could be opened but not read.
void cannot_read(const std::string& name, std::FILE* err);
// Whether the file that `in` reads, standing at its start, is read as a
// library: as `reading` forces, or as its content says.
bool reads_as_library(RecIn& in, const std::string& name, Reading reading);

}  // namespace dump
