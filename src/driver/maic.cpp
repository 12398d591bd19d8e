// The run: setup, naming of every file, and dispatch of the one command.
#include <algorithm>
#include <new>

#include "driver/driver.h"
#include "driver/errors.h"
#include "driver/run_state.h"
#include "driver/source_date.h"
#include "format/error.h"
#include "format/formats.h"
#include "host/host.h"

namespace {

// A run that waits for another run's working files looks again after a
// pause that doubles up to this many milliseconds.
constexpr int kLongestPause = 20;

void trace_line(RunState& rs, const char* format, const std::string& a, const std::string& b) {
  if (rs.trace) std::fprintf(rs.out, format, a.c_str(), b.c_str());
}

// Splits the library name into its directory and its base name, and gives
// it the default extension ".LIB" when it has none.
void name_library(RunState& rs) {
  std::size_t base = host::base_start(rs.lib_name);
  rs.path = rs.lib_name.substr(0, base);
  rs.name = rs.lib_name.substr(base);
  std::size_t dot = rs.name.rfind('.');
  if (dot != std::string::npos && (dot == 0 || rs.name[dot - 1] != '.'))
    rs.name.resize(dot);
  else
    rs.lib_name += ".LIB";
  if (rs.trace)
    std::fprintf(rs.out, "\npath=%s name=%s lib_name=%s\n", rs.path.c_str(), rs.name.c_str(),
                 rs.lib_name.c_str());
}

// Opens the library file `name` for reading; false when it cannot be.
bool open_lib_file(RunState& rs, const std::string& name) {
  rs.lib_fp = host::open_read(name);
  if (rs.lib_fp == nullptr) return false;
  rs.lib_in.attach(rs.lib_fp, rs.lib_name, &g_break_requested);
  return true;
}

// Opens the library: as typed, else (typed without a directory) in the
// VORNA directory. A library found nowhere is created by append.
void open_library(RunState& rs) {
  if (open_lib_file(rs, rs.lib_name)) return;
  std::string tried = rs.lib_name;
  if (rs.path.empty()) {
    if (auto vorna = host::env("VORNA")) {
      rs.lib_dir = host::with_final_sep(*vorna);
      trace_line(rs, "\nVORNA=%s name=%s\n", rs.lib_dir, rs.lib_dir + rs.lib_name);
    }
    tried = rs.lib_dir + rs.lib_name;
    if (open_lib_file(rs, tried)) return;
  }
  if (rs.command != Command::kAppend) error_exit(rs, kCantOpen, tried);
  std::fprintf(rs.out, "<%s> CREATE\n", host::for_console(rs.lib_name).c_str());
  rs.create = true;
}

// The library's own extension, or ".LIB".
std::string lib_ext(const std::string& lib_name) {
  std::size_t dot = lib_name.rfind('.');
  return dot == std::string::npos ? ".LIB" : lib_name.substr(dot);
}

// The files of a library that is rewritten: where the new library goes,
// its backup, and the working file it is first written as, all in the
// library's directory under its base name. A library reached through a
// symbolic link is rewritten where the link leads, and the link stays.
void name_library_files(RunState& rs) {
  std::string found = rs.lib_dir + rs.lib_name;
  std::string real = host::resolve_links(found);
  std::string stem = (rs.path.empty() ? rs.lib_dir : rs.path) + rs.name;
  rs.lib_file = stem + lib_ext(rs.lib_name);
  if (real != host::fs_name(found)) {
    std::size_t dot = real.rfind('.');
    stem = dot == std::string::npos || dot < host::base_start(real) ? real : real.substr(0, dot);
    rs.lib_file = real;
  }
  rs.tmp3 = stem + ".$$3";
  rs.bak_name = stem + ".BAK";
}

// A library with a working file's extension would be its own working file:
// creating that file would remove the library before it is read.
bool named_like_work_file(const RunState& rs) {
  std::size_t dot = rs.lib_name.rfind('.');
  if (dot == std::string::npos || dot < host::base_start(rs.lib_name)) return false;
  std::string ext = rs.lib_name.substr(dot);
  return ext == ".$$1" || ext == ".$$2" || ext == ".$$3";
}

void take_work_files(RunState& rs) {
  if (named_like_work_file(rs)) error_exit(rs, kCantOpen, "TMP_FILE");
  if (auto tmp = host::env("TMP")) rs.tmp_dir = host::with_final_sep(*tmp);
  rs.tmp1 = rs.tmp_dir + rs.name + ".$$1";
  rs.tmp2 = rs.tmp_dir + rs.name + ".$$2";
  name_library_files(rs);
  if (!take_work_file(rs, rs.tmp1, rs.tmp1_fp)) error_exit(rs, kCantOpen, "TMP_FILE");
  if (!take_work_file(rs, rs.tmp2, rs.tmp2_fp)) error_exit(rs, kCantOpen, "TMP_FILE");
  rs.table_out.attach(rs.tmp1_fp);
  rs.body_out.attach(rs.tmp2_fp);
  // The new library's working file is held from now on, which keeps every
  // other run off this library until the new one is in place. When it
  // cannot be had yet, the commit tries again and reports the failure.
  take_work_file(rs, rs.tmp3, rs.tmp3_fp);
}

// The library is opened again once the run holds its working files: while
// it waited another run may have replaced, created or removed the library,
// and this run works on what that run left.
void reopen_library(RunState& rs) {
  std::string found = rs.lib_dir + rs.lib_name;
  bool was_created = rs.create;
  rs.create = !open_lib_file(rs, found);
  if (!rs.create || was_created) return;
  if (rs.command != Command::kAppend) error_exit(rs, kCantOpen, found);
  std::fprintf(rs.out, "<%s> CREATE\n", host::for_console(rs.lib_name).c_str());
}

}  // namespace

void init_run(RunState& rs) {
  std::fprintf(rs.err, "Varn Family LIBRARY MANAGER %s\n", fmt::kVersion);
  std::fputs("  Keeps libraries of relocatable object modules\n", rs.err);
  std::fputs("  Free software of the vorna project\n", rs.err);
}

bool take_work_file(RunState& rs, const std::string& name, std::FILE*& fp) {
  int pause = 1;
  for (;;) {
    switch (host::take_work_file(name, fp)) {
      case host::Take::kTaken: return true;
      case host::Take::kFailed: return false;
      case host::Take::kBusy: break;
    }
    if (rs.v && !rs.waited) {
      std::fprintf(rs.out, "<%s> WAIT\n", host::for_console(rs.lib_name).c_str());
      std::fflush(rs.out);
    }
    rs.waited = true;
    poll_break(rs);
    host::pause_ms(pause);
    pause = std::min(2 * pause, kLongestPause);
  }
}

void open_files(RunState& rs) {
  name_library(rs);
  open_library(rs);
  if (rewrites_library(rs.command)) {
    // A run that waits keeps no library open: on some hosts a file that is
    // open cannot be replaced, and the run it waits for replaces it.
    close_library(rs);
    take_work_files(rs);
    reopen_library(rs);
  } else if (writes_listing(rs.command)) {
    // A library typed with its listing's name would be overwritten by the
    // listing (and removed with it on failure): refused before it is named.
    std::string list_name = rs.path + rs.name + ".LST";
    if (host::fs_name(list_name) == host::fs_name(rs.lib_dir + rs.lib_name)) error_exit(rs, kCantOpen, list_name);
    rs.list_name = list_name;
    rs.list_fp = host::open_text_write(rs.list_name);
    if (rs.list_fp == nullptr) error_exit(rs, kCantOpen, rs.list_name);
  }
}

void exec_command(RunState& rs) {
  switch (rs.command) {
    case Command::kAppend: parse_apd(rs); break;
    case Command::kReplace: parse_rep(rs); break;
    case Command::kDelete: parse_del(rs); break;
    case Command::kExtract: parse_ext(rs); break;
    case Command::kList: parse_lst(rs); break;
    case Command::kNone: error_exit(rs, kInternal);
  }
  free_tables(rs.rotbl_rec.symbols);
  rs.ftree.clear();
}

void close_library(RunState& rs) {
  rs.lib_in.detach();
  close_stream(rs.lib_fp);
}

int run_vorna(RunState& rs, int argc, char** argv) {
  try {
    try {
      init_run(rs);
      if (answer_request(rs, argc, argv)) {
        std::fflush(rs.out);
        return 0;
      }
      parse_cmdline(rs, argc, argv);
      // Checked before any file is opened, created or changed.
      read_source_date(rs);
      open_files(rs);
      exec_command(rs);
      close_files(rs);
      commit_library(rs);
      std::fflush(rs.out);
      return 0;
    } catch (const std::bad_alloc&) {
      error_exit(rs, kNoHeap);
    } catch (const FormatError& fault) {
      throw abort_of(fault);
    }
  } catch (const RunAbort& abort) {
    return report_error(rs, abort);
  }
}
