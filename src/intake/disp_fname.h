// The verbose display of the files or modules a command handles: their
// names, separated by commas, after the command's heading.
#pragma once

#include <string>

struct RunState;

// Shows `name` (or "ALL FILES" once, when `all_files` is set); nothing
// unless the verbose option is given.
void disp_fname(RunState& rs, const std::string& name);
