// The sinks vornadump writes to.
#pragma once

#include <cstdio>
#include <memory>

#include "dump/sink.h"

namespace dump {

// The dump as text: one line per record, and lines below it for its fields.
std::unique_ptr<Sink> text_sink(std::FILE* out);
// One JSON document per file, on one line.
std::unique_ptr<Sink> json_sink(std::FILE* out);
// With --check as text: only the violations and their count.
std::unique_ptr<Sink> check_sink(std::FILE* out);

}  // namespace dump
