// The error reporter and the closing of the working streams.
#include <cstdio>

#include "driver/driver.h"
#include "driver/errors.h"
#include "driver/run_state.h"
#include "format/error.h"
#include "host/host.h"

volatile std::sig_atomic_t g_break_requested = 0;

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
// name that it does not hold belongs to another run.
void clean_up(RunState& rs) {
  host::drop_work_file(rs.tmp1, rs.tmp1_fp, true);
  host::drop_work_file(rs.tmp2, rs.tmp2_fp, true);
  host::drop_work_file(rs.tmp3, rs.tmp3_fp, true);
  if (writes_listing(rs.command)) remove_file_of(rs.list_name, rs.list_fp);
  // A module that extract was still writing is incomplete.
  if (rs.command == Command::kExtract && rs.obj_fp != nullptr) remove_file_of(rs.obj_path, rs.obj_fp);
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

bool close_stream(std::FILE*& fp) {
  if (fp == nullptr) return true;
  bool ok = std::fclose(fp) == 0;
  fp = nullptr;
  return ok;
}

RunState::~RunState() {
  for (std::FILE** fp : {&lib_fp, &tmp1_fp, &tmp2_fp, &tmp3_fp, &list_fp, &obj_fp, &cmd_fp})
    close_stream(*fp);
}

void error_exit(RunState&, int code, std::optional<std::string> name) {
  throw RunAbort{code, std::move(name), {}, {}};
}

void multiple_defined(RunState&, std::string symbol, std::string module, std::string other) {
  throw RunAbort{kMultipleDefined, std::move(symbol), std::move(module), std::move(other)};
}

void open_quote(RunState&, std::string file, long line_no) {
  throw RunAbort{kOpenQuote, std::move(file), {}, std::to_string(line_no)};
}

void write_usage(std::FILE* to) {
  for (const char* line : kUsageText) std::fputs(line, to);
}

RunAbort abort_of(const FormatError& fault) {
  switch (fault.kind) {
    case FormatError::Kind::kMalformed: return RunAbort{kInvalid, fault.name(), {}, {}};
    case FormatError::Kind::kReadFailed: return RunAbort{kReadError, fault.name(), {}, {}};
    case FormatError::Kind::kWriteFailed: return RunAbort{kDiskFull, std::nullopt, {}, {}};
    case FormatError::Kind::kSeekFailed: return RunAbort{kSeekError, fault.name(), {}, {}};
    case FormatError::Kind::kInterrupted: return RunAbort{kBreak, "--Break-- !", {}, {}};
  }
  return RunAbort{kInternal, std::nullopt, {}, {}};
}

int report_error(RunState& rs, const RunAbort& abort) {
  if (abort.code == kBreak) std::fprintf(rs.out, "\n%s", abort.name.value_or("").c_str());
  // What the run wrote so far goes to its files, which the trace flag keeps.
  for (RecOut* out : {&rs.table_out, &rs.body_out, &rs.obj_out}) out->flush_and_detach();
  if (!rs.trace) {
    clean_up(rs);
  } else if (!rs.tmp3_made) {
    // Taken early only to keep other runs off the library: the commit has
    // not made the new library yet, so there is nothing to keep.
    host::drop_work_file(rs.tmp3, rs.tmp3_fp, true);
  }
  int status = print_message(rs, abort, abort.name.value_or(rs.cur_file));
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
  if (rewrites_library(rs.command)) {
    rs.table_out.flush();
    rs.body_out.flush();
    // The library stays open: the commit copies its bodies.
    return;
  }
  if (writes_listing(rs.command)) {
    // The listing's lines are not checked one by one: a write that failed on
    // the way shows in the stream's error indicator.
    bool complete = !std::ferror(rs.list_fp);
    if (!close_stream(rs.list_fp) || !complete) error_exit(rs, kCloseFailed);
  }
  close_library(rs);
}
