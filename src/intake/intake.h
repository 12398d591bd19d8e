// The append command: relocatable files become new modules of a library.
#pragma once

#include "core/commit_plan.h"
#include "core/run.h"

CommitPlan parse_apd(Run& run);
