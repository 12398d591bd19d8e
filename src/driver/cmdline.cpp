// The command line and command files.
//
// Accepted order: option o, the library name, option f, then the file or
// module names; the other options may stand anywhere. An argument that
// starts with '@' names a command file whose lines hold more of the same
// words (command files do not nest).
//
// Command files are read as build systems write them: a line may be of any
// length (a response file often holds every name on one line), a name in
// double quotes may hold blanks, and a UTF-8 byte-order mark at the start of
// the file is no part of its first word. On Windows a line in UTF-8 names
// files as the command line does, and any other line is read in the ANSI
// code page, as files written there for older builds are.
#include <cstring>
#include <string_view>

#include "driver/driver.h"
#include "driver/errors.h"
#include "driver/run_state.h"
#include "format/formats.h"
#include "host/host.h"

namespace {

// What some editors write at the start of a text file in UTF-8.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool ends_word(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\0'; }

void usage(RunState& rs) { error_exit(rs, kUsage); }

// Handles the letters of one option word (the text after '-'); returns the
// position where the word ended. Goes on to the end of the word after a fault.
std::size_t parse_option(RunState& rs, const char* word) {
  rs.opt_error = false;
  std::size_t i = 0;
  for (; !ends_word(word[i]); ++i) {
    char c = word[i];
    switch (c) {
      case 'a': case 'r': case 'd': case 'x': case 'l':
      case 'A': case 'R': case 'D': case 'X': case 'L':
        if (rs.cmd_code != 0) rs.opt_error = true;
        rs.cmd_code = c;
        break;
      case 'f': case 'F':
        if (rs.lib_name.empty() || rs.f) rs.opt_error = true;
        rs.f = true;
        break;
      case 'o': case 'O':
        if (rs.o) rs.opt_error = true;
        rs.o = true;
        break;
      case 'u': case 'U':
        if (rs.u) rs.opt_error = true;
        rs.u = true;
        break;
      case 'v': case 'V':
        if (rs.v) rs.opt_error = true;
        rs.v = true;
        break;
      case 'k': case 'K':
        rs.trace = true;
        break;
      default:
        rs.opt_error = true;
        break;
    }
  }
  return i;
}

// ".QOB" is added when the part after the last directory separator has no '.'.
std::string with_default_ext(const std::string& name) {
  if (name.find('.', host::after_dir_sep(name)) == std::string::npos) return name + ".QOB";
  return name;
}

void add_name(RunState& rs, const std::string& word) {
  if (rs.lib_name.empty()) {
    if (!rs.o) usage(rs);
    rs.lib_name = word;
    return;
  }
  if (!rs.f) usage(rs);
  std::string name = with_default_ext(word);
  std::string base = host::base_name(name);
  rs.ftree.push_back(FtreeNode{false, std::move(name), std::move(base)});
  if (rs.trace) std::fprintf(rs.out, "ftree->%s ", rs.ftree.back().name.c_str());
}

// Reads the next line, however long, into `line`; false at the end of the
// file. A CR before the line end is dropped, so that files written on
// Windows read the same everywhere.
bool read_cmdfile_line(RunState& rs, std::string& line) {
  line.clear();
  int c = std::fgetc(rs.cmd_fp);
  if (c == EOF) {
    if (std::ferror(rs.cmd_fp)) error_exit(rs, kReadError, rs.cmd_file_name);
    return false;
  }
  for (; c != EOF && c != '\n'; c = std::fgetc(rs.cmd_fp)) line.push_back(static_cast<char>(c));
  if (std::ferror(rs.cmd_fp)) error_exit(rs, kReadError, rs.cmd_file_name);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

// A name in double quotes, which may hold blanks and tabs: `p` stands at the
// opening quote. The name ends at the next quote; there are no escapes,
// since a '\\' separates directories. Returns the position after the
// closing quote.
const char* quoted_name(RunState& rs, const char* p, long line_no) {
  const char* close = std::strchr(p + 1, '"');
  if (close == nullptr) open_quote(rs, rs.cmd_file_name, line_no);
  // An empty name names nothing.
  if (close == p + 1) usage(rs);
  add_name(rs, std::string(p + 1, close));
  return close + 1;
}

void parse_cmdfile_line(RunState& rs, const std::string& line, long line_no) {
  const char* p = line.c_str();  // a NUL in the line ends it
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\n' || *p == '\0') return;
    if (*p == '-') {
      p += 1 + parse_option(rs, p + 1);
      if (rs.opt_error) usage(rs);
    } else if (*p == '@') {
      usage(rs);
    } else if (*p == '"') {
      p = quoted_name(rs, p, line_no);
    } else {
      const char* start = p;
      while (!ends_word(*p)) ++p;
      add_name(rs, std::string(start, p));
    }
  }
}

void read_cmdfile(RunState& rs, const char* file_name) {
  rs.cmd_file_name = file_name;
  rs.cmd_fp = host::open_text_read(rs.cmd_file_name);
  if (rs.cmd_fp == nullptr) error_exit(rs, kCmdFileNotFound, rs.cmd_file_name);
  std::string line;
  for (long line_no = 1; read_cmdfile_line(rs, line); ++line_no) {
    if (line_no == 1 && line.starts_with(kByteOrderMark)) line.erase(0, kByteOrderMark.size());
    parse_cmdfile_line(rs, host::from_text_file(line), line_no);
    if (rs.opt_error) usage(rs);
  }
  close_stream(rs.cmd_fp);
}

void validate(RunState& rs) {
  if (rs.lib_name.empty()) usage(rs);
  Command command = command_of(rs.cmd_code);
  if (command == Command::kNone) usage(rs);
  // Without names extract and list work on the whole library; an option f
  // without names is no list at all.
  if (rs.ftree.empty() && (needs_names(command) || rs.f)) usage(rs);
  rs.command = command;
}

void trace_cmdline(RunState& rs) {
  std::fprintf(rs.out, "\nu=%d v=%d o=%d f=%d\n", rs.u, rs.v, rs.o, rs.f);
  std::fprintf(rs.out, "cmd_code=%c", rs.cmd_code);
  std::fprintf(rs.out, "  library=%s\n", rs.lib_name.c_str());
  for (const FtreeNode& node : rs.ftree) std::fprintf(rs.out, " %s", node.name.c_str());
  std::fputs("\n", rs.out);
}

// The lines of --help after the usage text.
const char* const kMoreHelp[] = {
    "       @<file> : read more options and names from a command file\n",
    "       --version : show the version\n",
    "       --help : show this text\n",
};

}  // namespace

bool answer_request(RunState& rs, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--version") {
      std::fprintf(rs.out, "vorna %s (librarian %s)\n", VORNA_VERSION, fmt::kVersion);
      return true;
    }
    if (arg == "--help") {
      write_usage(rs.out);
      for (const char* line : kMoreHelp) std::fputs(line, rs.out);
      return true;
    }
  }
  return false;
}

void parse_cmdline(RunState& rs, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] == '-') {
      parse_option(rs, arg + 1);
      if (rs.opt_error) usage(rs);
    } else if (arg[0] == '@') {
      read_cmdfile(rs, arg + 1);
    } else {
      add_name(rs, arg);
    }
  }
  validate(rs);
  if (rs.trace) trace_cmdline(rs);
}
