// The error reporter and the closing of the working streams.
#include <cstdio>

#include "core/errors.h"
#include "driver/driver.h"
#include "host/host.h"

namespace {

const char* const kUsageText[] = {
    "Usage: A>VORNA -[ardxluv]o <filename> [-f <filename> ...]\n\n",
    "       -o : library file name\n",
    "       -f : relocatable file names\n",
    "       -a : append command\n",
    "       -r : replace command\n",
    "       -d : delete command\n",
    "       -x : extract command\n",
    "       -l : listout command\n",
    "       -u : update check (option)\n",
    "       -v : verbose (option)\n",
};

// Messages of the content errors, indexed by code minus 20.
const char* const kContentText[] = {
    " ",
    "is multiple defined in",
    "module is not in the library",
    "Invarid module or library",
    "command file not found",
    "Out of heap space",
    "Too many object module",
    "CPU number error",
};

// A stored module name as messages show it: without the text from its last '.' on.
std::string shown_module(const std::string& stored) {
  return host::for_console(host::module_file_name(stored.substr(0, stored.rfind('.'))));
}

void remove_file_of(const std::string& name, std::FILE*& fp) {
  if (name.empty() || !host::exists(name)) return;
  close_stream(fp);
  host::remove_file(name);
}

// Only the working files this run holds are its own: a file of the same
// name that it does not hold belongs to another run. (A module that extract
// was still writing is removed by extract itself.)
void clean_up(RunState& rs) {
  LibraryFiles& f = rs.files;
  host::drop_work_file(f.tmp1, f.tmp1_fp, true);
  host::drop_work_file(f.tmp2, f.tmp2_fp, true);
  host::drop_work_file(f.tmp3, f.tmp3_fp, true);
  if (writes_listing(rs.line.command)) remove_file_of(f.list_name, f.list_fp);
}

int print_message(RunState& rs, const RunAbort& abort, const std::string& name) {
  int code = abort.code;
  std::FILE* out = rs.out;
  // Names show as the console can show them; a symbol is shown as its bytes.
  std::string shown = host::for_console(name);
  switch (code) {
    case kUsage: write_usage(rs.err); return 2;
    case kOpenQuote:
      std::fprintf(out, "\n<%s>unclosed quote in line %s\n", shown.c_str(), abort.other.c_str());
      return 2;
    case kBadUtf16:
      std::fprintf(out, "\n<%s>invalid UTF-16 at byte %s\n", shown.c_str(), abort.other.c_str());
      return 2;
    case kBadSourceDate:
      std::fprintf(out, "\n%s <%s> %s\n", "SOURCE_DATE_EPOCH", shown.c_str(),
                   "is not decimal seconds up to 253402300799");
      return 2;
    case kCantOpen: std::fprintf(out, "\n%s<%s>\n", "Can't open ", shown.c_str()); return 3;
    case kCantCreate: std::fprintf(out, "\n%s<%s>\n", "Can't create ", "TMP_FILE"); return 3;
    case kDiskFull:
    case kCloseFailed:
    case kListWriteFailed: std::fprintf(out, "\n%s\n", "Out of disk space "); return 3;
    case kReadError: std::fprintf(out, "\n%s<%s>\n", "Input file read error ", shown.c_str()); return 3;
    case kSeekError: std::fprintf(out, "\n%s%s\n", "File seek error ", shown.c_str()); return 3;
    case kNoHeap: std::fprintf(out, "\n%s\n", "Out of heap space"); return 3;
    case kBreak: std::fputs("\n", out); return 3;
    case kMultipleDefined:
      std::fprintf(out, "\n<%s>%s %s. others is %s\n", name.c_str(), kContentText[1],
                   shown_module(abort.module).c_str(), shown_module(abort.other).c_str());
      return 1;
    case kNotInLibrary:
    case kCmdFileNotFound:
      std::fprintf(out, "\n<%s>%s\n", shown.c_str(), kContentText[code - 20]);
      return 1;
    case kInvalid: std::fprintf(out, "\n%s %s\n", kContentText[3], shown.c_str()); return 1;
    case kNoHeapContent:
    case kTooManyModules:
    case kCpuError: std::fprintf(out, "\n%s\n", kContentText[code - 20]); return 1;
    default: std::fprintf(out, "\n%s\n", "Internal error "); return 3;
  }
}

}  // namespace

void write_usage(std::FILE* to) {
  for (const char* line : kUsageText) std::fputs(line, to);
}

int report_error(RunState& rs, const RunAbort& abort) {
  if (abort.code == kBreak) std::fprintf(rs.out, "\n%s", abort.name.value_or("").c_str());
  // What the run wrote so far is in its files by now (the commands' writers
  // hand it over as they are left), which the trace flag keeps.
  if (!rs.line.trace) {
    clean_up(rs);
  } else if (!rs.files.tmp3_made) {
    // Taken early only to keep other runs off the library: the commit has
    // not made the new library yet, so there is nothing to keep.
    host::drop_work_file(rs.files.tmp3, rs.files.tmp3_fp, true);
  }
  int status = print_message(rs, abort, abort.name.value_or(rs.files.cur_file));
  std::fprintf(rs.err, "%c", 7);
  std::fflush(rs.out);
  std::fflush(rs.err);
  return status;
}

void break_handler(int) {
  host::ignore_break();
  g_break_requested = 1;
}

void close_files(RunState& rs) {
  // The working files stay open: the commit reads them back through the
  // streams that wrote them, and holding them keeps other runs off them.
  // The library stays open too: the commit copies its bodies.
  if (rewrites_library(rs.line.command)) return;
  if (writes_listing(rs.line.command)) {
    // The listing's lines are not checked one by one: a write that failed on
    // the way shows in the stream's error indicator.
    bool complete = !std::ferror(rs.files.list_fp);
    if (!close_stream(rs.files.list_fp) || !complete) error_exit(kCloseFailed);
  }
  rs.files.close_library();
}
