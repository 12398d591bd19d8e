#include "core/trace_out.h"

void TraceOut::move_cursor(int column, int row) const {
  if (on_) std::fprintf(out_, "\x1b[%d;%dH", row + 1, column + 1);
}
