// The run: setup, naming of every file, and dispatch of the one command.
#include <algorithm>
#include <new>

#include "core/errors.h"
#include "core/run.h"
#include "core/source_date.h"
#include "driver/driver.h"
#include "editing/editing.h"
#include "format/error.h"
#include "format/formats.h"
#include "host/host.h"
#include "intake/intake.h"
#include "listing/listing.h"

namespace {

// A run that waits for another run's working files looks again after a
// pause that doubles up to this many milliseconds.
constexpr int kLongestPause = 20;

// Splits the library name into its directory and its base name, and gives
// it the default extension ".LIB" when it has none.
void name_library(RunState& rs) {
  LibraryFiles& f = rs.files;
  f.lib_name = rs.line.lib_name;
  std::size_t base = host::base_start(f.lib_name);
  f.path = f.lib_name.substr(0, base);
  f.name = f.lib_name.substr(base);
  std::size_t dot = f.name.rfind('.');
  if (dot != std::string::npos && (dot == 0 || f.name[dot - 1] != '.'))
    f.name.resize(dot);
  else
    f.lib_name += ".LIB";
  rs.trace().print("\npath=%s name=%s lib_name=%s\n", f.path.c_str(), f.name.c_str(), f.lib_name.c_str());
}

// Opens the library file `name` for reading; false when it cannot be.
bool open_lib_file(RunState& rs, const std::string& name) {
  rs.files.lib_fp = host::open_read(name);
  if (rs.files.lib_fp == nullptr) return false;
  rs.files.lib_in.attach(rs.files.lib_fp, rs.files.lib_name, &g_break_requested);
  return true;
}

// Opens the library: as typed, else (typed without a directory) in the
// VORNA directory. A library found nowhere is created by append.
void open_library(RunState& rs) {
  LibraryFiles& f = rs.files;
  if (open_lib_file(rs, f.lib_name)) return;
  std::string tried = f.lib_name;
  if (f.path.empty()) {
    if (auto vorna = host::env("VORNA")) {
      f.lib_dir = host::with_final_sep(*vorna);
      rs.trace().print("\nVORNA=%s name=%s\n", f.lib_dir.c_str(), (f.lib_dir + f.lib_name).c_str());
    }
    tried = f.lib_dir + f.lib_name;
    if (open_lib_file(rs, tried)) return;
  }
  if (rs.line.command != Command::kAppend) error_exit(kCantOpen, tried);
  std::fprintf(rs.out, "<%s> CREATE\n", host::for_console(f.lib_name).c_str());
  f.create = true;
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
  LibraryFiles& f = rs.files;
  std::string found = f.lib_dir + f.lib_name;
  std::string real = host::resolve_links(found);
  std::string stem = (f.path.empty() ? f.lib_dir : f.path) + f.name;
  f.lib_file = stem + lib_ext(f.lib_name);
  if (real != host::fs_name(found)) {
    std::size_t dot = real.rfind('.');
    stem = dot == std::string::npos || dot < host::base_start(real) ? real : real.substr(0, dot);
    f.lib_file = real;
  }
  f.tmp3 = stem + ".$$3";
  f.bak_name = stem + ".BAK";
}

// A library with a working file's extension would be its own working file:
// creating that file would remove the library before it is read.
bool named_like_work_file(const RunState& rs) {
  const LibraryFiles& f = rs.files;
  std::size_t dot = f.lib_name.rfind('.');
  if (dot == std::string::npos || dot < host::base_start(f.lib_name)) return false;
  std::string ext = f.lib_name.substr(dot);
  return ext == ".$$1" || ext == ".$$2" || ext == ".$$3";
}

void take_work_files(RunState& rs) {
  LibraryFiles& f = rs.files;
  if (named_like_work_file(rs)) error_exit(kCantOpen, "TMP_FILE");
  if (auto tmp = host::env("TMP")) f.tmp_dir = host::with_final_sep(*tmp);
  f.tmp1 = f.tmp_dir + f.name + ".$$1";
  f.tmp2 = f.tmp_dir + f.name + ".$$2";
  name_library_files(rs);
  if (!take_work_file(rs, f.tmp1, f.tmp1_fp)) error_exit(kCantOpen, "TMP_FILE");
  if (!take_work_file(rs, f.tmp2, f.tmp2_fp)) error_exit(kCantOpen, "TMP_FILE");
  // The new library's working file is held from now on, which keeps every
  // other run off this library until the new one is in place. When it
  // cannot be had yet, the commit tries again and reports the failure.
  take_work_file(rs, f.tmp3, f.tmp3_fp);
}

// The library is opened again once the run holds its working files: while
// it waited another run may have replaced, created or removed the library,
// and this run works on what that run left.
void reopen_library(RunState& rs) {
  LibraryFiles& f = rs.files;
  std::string found = f.lib_dir + f.lib_name;
  bool was_created = f.create;
  f.create = !open_lib_file(rs, found);
  if (!f.create || was_created) return;
  if (rs.line.command != Command::kAppend) error_exit(kCantOpen, found);
  std::fprintf(rs.out, "<%s> CREATE\n", host::for_console(f.lib_name).c_str());
}

// With --new the library is made from the given files alone: what stands
// at its name now is not read, and is replaced only at the commit, as
// every library that a run rewrites is.
void leave_library_unread(RunState& rs) {
  rs.files.close_library();
  rs.files.create = true;
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
    if (rs.line.v && !rs.files.waited) {
      std::fprintf(rs.out, "<%s> WAIT\n", host::for_console(rs.files.lib_name).c_str());
      std::fflush(rs.out);
    }
    rs.files.waited = true;
    poll_break();
    host::pause_ms(pause);
    pause = std::min(2 * pause, kLongestPause);
  }
}

void open_files(RunState& rs) {
  LibraryFiles& f = rs.files;
  name_library(rs);
  open_library(rs);
  if (rewrites_library(rs.line.command)) {
    // A run that waits keeps no library open: on some hosts a file that is
    // open cannot be replaced, and the run it waits for replaces it.
    f.close_library();
    take_work_files(rs);
    reopen_library(rs);
    if (rs.line.make_new) leave_library_unread(rs);
  } else if (writes_listing(rs.line.command)) {
    // A library typed with its listing's name would be overwritten by the
    // listing (and removed with it on failure): refused before it is named.
    std::string list_name = f.path + f.name + ".LST";
    if (host::fs_name(list_name) == host::fs_name(f.lib_dir + f.lib_name)) error_exit(kCantOpen, list_name);
    f.list_name = list_name;
    f.list_fp = host::open_text_write(f.list_name);
    if (f.list_fp == nullptr) error_exit(kCantOpen, f.list_name);
  }
}

CommitPlan exec_command(RunState& rs) {
  Run run(rs.line, rs.files, rs.out);
  switch (rs.line.command) {
    case Command::kAppend: return parse_apd(run);
    case Command::kReplace: return parse_rep(run);
    case Command::kDelete: return parse_del(run);
    case Command::kExtract: return parse_ext(run);
    case Command::kList: return parse_lst(run);
    case Command::kNone: break;
  }
  error_exit(kInternal);
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
      rs.line.source_date = read_source_date();
      open_files(rs);
      CommitPlan plan = exec_command(rs);
      close_files(rs);
      commit_library(rs, std::move(plan));
      std::fflush(rs.out);
      return 0;
    } catch (const std::bad_alloc&) {
      error_exit(kNoHeap);
    } catch (const FormatError& fault) {
      throw abort_of(fault);
    }
  } catch (const RunAbort& abort) {
    return report_error(rs, abort);
  }
}
