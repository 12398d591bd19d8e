#include "editing/editing.h"
#include "core/run.h"
