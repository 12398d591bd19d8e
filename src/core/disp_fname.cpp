#include "core/disp_fname.h"

#include "core/run.h"
#include "host/host.h"

NameDisplay::NameDisplay(const Run& run, const char* heading) : out_(run.out), on_(run.line.v) {
  if (on_) std::fputs(heading, out_);
}

void NameDisplay::disp_fname(const std::string& name) {
  if (!on_) return;
  if (all_files_) {
    if (!names_shown_) std::fputs("ALL FILES", out_);
  } else {
    std::fprintf(out_, names_shown_ ? ",%s" : "%s", host::for_console(name).c_str());
  }
  names_shown_ = true;
  std::fflush(out_);
}
