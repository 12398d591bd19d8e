// The list command: a paged listing of a library beside it.
#pragma once

#include "core/commit_plan.h"
#include "core/run.h"

CommitPlan parse_lst(Run& run);
