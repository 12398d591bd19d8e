// The commands that work on a library's modules by name: replace, delete,
// extract.
#pragma once

#include "core/commit_plan.h"
#include "core/run.h"

CommitPlan parse_rep(Run& run);
CommitPlan parse_del(Run& run);
CommitPlan parse_ext(Run& run);
