// The program's entry point.
#include <cstdio>

#include "driver/driver.h"
#include "driver/run_state.h"
#include "host/host.h"

namespace {

int vorna_main(int argc, char** argv) {
  host::install_break_handler(break_handler);
  int status;
  {
    RunState rs(stdout, stderr);
    status = run_vorna(rs, argc, argv);
  }
  std::fflush(stdout);
  return status;
}

}  // namespace

HOST_PROGRAM_MAIN(vorna_main)
