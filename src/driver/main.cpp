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

#ifdef _WIN32
// The wide arguments: every name that Windows takes, whatever the code page.
int wmain(int argc, wchar_t** argv) { return host::run_main(vorna_main, argc, argv); }
#else
int main(int argc, char** argv) { return vorna_main(argc, argv); }
#endif
