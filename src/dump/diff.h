// vornadump --diff: how two libraries, or two relocatable modules, differ
// in what they hold rather than where their bytes stand.
#pragma once

#include <cstdio>

#include "dump/dump.h"
#include "dump/options.h"

namespace dump {

// Compares the two files of `options` and writes the differences to `out`,
// messages to `err`. Returns kClean when they hold the same, kBroken when
// they differ, kUsage for a library against a module or a file that is
// neither (with what --check finds in it), kUnreadable for a file that
// cannot be read.
Status diff_files(const Options& options, std::FILE* out, std::FILE* err);

}  // namespace dump
