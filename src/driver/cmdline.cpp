// The command line and command files.
//
// Accepted order: option o, the library name, option f, then the file or
// module names; the other options may stand anywhere. An argument that
// starts with '@' names a command file whose lines hold more of the same
// words (command files do not nest).
//
// Command files are read as build systems write them: a line may be of any
// length (a response file often holds every name on one line), and a name
// may be quoted so that it can hold blanks: in double quotes, as Windows
// tools write it, or in single quotes, as a POSIX shell reads it and Ninja
// and Bazel write it there. A byte-order mark at the start tells UTF-8,
// which is then read as any other file, from UTF-16, which is read as the
// same text in UTF-8. On Windows a line in UTF-8 names files as the command
// line does, and any other line is read in the ANSI code page, as files
// written there for older builds are.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "core/errors.h"
#include "core/trace_out.h"
#include "driver/driver.h"
#include "driver/utf16.h"
#include "format/formats.h"
#include "host/host.h"

namespace {

// The command line as it is parsed: what it gives so far, and where the
// parser stands.
struct CmdlineParse {
  CmdlineParse(CommandLine& command_line, std::FILE* out_stream) : line(command_line), out(out_stream) {}
  ~CmdlineParse() { close_stream(cmd_fp); }
  CmdlineParse(const CmdlineParse&) = delete;
  CmdlineParse& operator=(const CmdlineParse&) = delete;

  CommandLine& line;
  std::FILE* out;  // the trace of the names
  bool o = false;
  bool f = false;
  bool opt_error = false;  // the option word just read is not valid
  std::string cmd_file_name;
  std::FILE* cmd_fp = nullptr;
};

// What some editors write at the start of a text file in UTF-8.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The option that makes the library anew from the given files alone.
constexpr std::string_view kNewOption = "--new";

bool ends_word(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\0'; }

void usage() { error_exit(kUsage); }

// Handles the letters of one option word (the text after '-'); returns the
// position where the word ended. Goes on to the end of the word after a fault.
std::size_t parse_option(CmdlineParse& ps, const char* word) {
  ps.opt_error = false;
  std::size_t i = 0;
  for (; !ends_word(word[i]); ++i) {
    char c = word[i];
    switch (c) {
      case 'a': case 'r': case 'd': case 'x': case 'l':
      case 'A': case 'R': case 'D': case 'X': case 'L':
        if (ps.line.cmd_code != 0) ps.opt_error = true;
        ps.line.cmd_code = c;
        break;
      case 'f': case 'F':
        if (ps.line.lib_name.empty() || ps.f) ps.opt_error = true;
        ps.f = true;
        break;
      case 'o': case 'O':
        if (ps.o) ps.opt_error = true;
        ps.o = true;
        break;
      case 'u': case 'U':
        if (ps.line.u) ps.opt_error = true;
        ps.line.u = true;
        break;
      case 'v': case 'V':
        if (ps.line.v) ps.opt_error = true;
        ps.line.v = true;
        break;
      case 'k': case 'K':
        ps.line.trace = true;
        break;
      default:
        ps.opt_error = true;
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

void add_name(CmdlineParse& ps, const std::string& word) {
  if (ps.line.lib_name.empty()) {
    if (!ps.o) usage();
    ps.line.lib_name = word;
    return;
  }
  if (!ps.f) usage();
  std::string name = with_default_ext(word);
  std::string base = host::base_name(name);
  ps.line.ftree.push_back(FtreeNode{std::move(name), std::move(base)});
  TraceOut(ps.out, ps.line.trace).print("ftree->%s ", ps.line.ftree.back().name.c_str());
}

// A quoted word is always a name, never an option or a command file, which
// is how a name that starts with '-' or '@' can be given; an empty one
// names nothing.
void add_quoted_name(CmdlineParse& ps, const std::string& name) {
  if (name.empty()) usage();
  add_name(ps, name);
}

// Like every other option, --new is given once.
void set_new(CmdlineParse& ps) {
  ps.opt_error = ps.line.make_new;
  ps.line.make_new = true;
}

// A word of a command file without quotes: an option or a name (a command
// file names no other command file).
void add_word(CmdlineParse& ps, const std::string& word) {
  if (word == kNewOption)
    set_new(ps);
  else if (word[0] == '-')
    parse_option(ps, word.c_str() + 1);
  else if (word[0] == '@')
    usage();
  else
    add_name(ps, word);
}

// Everything a stream holds from where it stands.
std::string read_rest(CmdlineParse& ps) {
  std::string text;
  char block[4096];
  for (std::size_t n; (n = std::fread(block, 1, sizeof block, ps.cmd_fp)) > 0;) text.append(block, n);
  if (std::ferror(ps.cmd_fp)) error_exit(kReadError, ps.cmd_file_name);
  return text;
}

// The text of the open command file, in the program's own encoding. A file
// in UTF-16 is read again in binary mode, since text mode may take bytes of
// its characters for line ends or the end of the file.
std::string read_cmdfile_text(CmdlineParse& ps) {
  std::string text = read_rest(ps);
  std::optional<ByteOrder> order = utf16_mark(text);
  if (!order) return text.starts_with(kByteOrderMark) ? text.substr(kByteOrderMark.size()) : text;
  close_stream(ps.cmd_fp);
  ps.cmd_fp = host::open_read(ps.cmd_file_name);
  if (ps.cmd_fp == nullptr) error_exit(kCmdFileNotFound, ps.cmd_file_name);
  text = read_rest(ps);
  constexpr std::size_t kMarkSize = 2;
  Utf16Text decoded = decode_utf16(std::string_view(text).substr(kMarkSize), *order);
  if (decoded.fault_at) bad_utf16(ps.cmd_file_name, *decoded.fault_at + kMarkSize + 1);
  return std::move(decoded.utf8);
}

// The next line of `text` from `at`, however long, without its line end;
// false after the last. A CR before the line end is dropped, so that files
// written on Windows read the same everywhere.
bool next_line(std::string_view text, std::size_t& at, std::string_view& line) {
  if (at >= text.size()) return false;
  std::size_t end = std::min(text.find('\n', at), text.size());
  line = text.substr(at, end - at);
  if (line.ends_with('\r')) line.remove_suffix(1);
  at = end + 1;
  return true;
}

// A name in double quotes, which may hold blanks and tabs: `p` stands at the
// opening quote. The name ends at the next quote; there are no escapes,
// since a '\\' separates directories. Returns the position after the
// closing quote.
const char* double_quoted_name(CmdlineParse& ps, const char* p, long line_no) {
  const char* close = std::strchr(p + 1, '"');
  if (close == nullptr) open_quote(ps.cmd_file_name, line_no);
  add_quoted_name(ps, std::string(p + 1, close));
  return close + 1;
}

// A name in single quotes, as a POSIX shell reads it: `p` stands at the
// opening quote, and the name ends at the next quote, unless `\''` follows
// it, which is how a quote inside the name is written ('O'\''Brien.QOB').
// No other escapes, since a '\\' separates directories. Returns the
// position after the closing quote.
const char* single_quoted_name(CmdlineParse& ps, const char* p, long line_no) {
  constexpr std::string_view kQuoteInside = "\\''";
  std::string name;
  for (const char* from = p + 1;;) {
    const char* close = std::strchr(from, '\'');
    if (close == nullptr) open_quote(ps.cmd_file_name, line_no);
    name.append(from, close);
    if (!std::string_view(close + 1).starts_with(kQuoteInside)) {
      add_quoted_name(ps, name);
      return close + 1;
    }
    name.push_back('\'');
    from = close + 1 + kQuoteInside.size();
  }
}

void parse_cmdfile_line(CmdlineParse& ps, const std::string& line, long line_no) {
  const char* p = line.c_str();  // a NUL in the line ends it
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\n' || *p == '\0') return;
    if (*p == '"') {
      p = double_quoted_name(ps, p, line_no);
    } else if (*p == '\'') {
      p = single_quoted_name(ps, p, line_no);
    } else {
      const char* start = p;
      while (!ends_word(*p)) ++p;
      add_word(ps, std::string(start, p));
    }
    if (ps.opt_error) usage();
  }
}

void read_cmdfile(CmdlineParse& ps, const char* file_name) {
  ps.cmd_file_name = file_name;
  ps.cmd_fp = host::open_text_read(ps.cmd_file_name);
  if (ps.cmd_fp == nullptr) error_exit(kCmdFileNotFound, ps.cmd_file_name);
  const std::string text = read_cmdfile_text(ps);
  close_stream(ps.cmd_fp);
  std::string_view line;
  std::size_t at = 0;
  for (long line_no = 1; next_line(text, at, line); ++line_no)
    parse_cmdfile_line(ps, host::from_text_file(std::string(line)), line_no);
}

void validate(CmdlineParse& ps) {
  if (ps.line.lib_name.empty()) usage();
  Command command = command_of(ps.line.cmd_code);
  if (command == Command::kNone) usage();
  // Without names extract and list work on the whole library; an option f
  // without names is no list at all.
  if (ps.line.ftree.empty() && (needs_names(command) || ps.f)) usage();
  // Only append makes a library.
  if (ps.line.make_new && command != Command::kAppend) usage();
  ps.line.command = command;
}

void trace_cmdline(CmdlineParse& ps) {
  std::fprintf(ps.out, "\nu=%d v=%d o=%d f=%d\n", ps.line.u, ps.line.v, ps.o, ps.f);
  std::fprintf(ps.out, "cmd_code=%c", ps.line.cmd_code);
  std::fprintf(ps.out, "  library=%s\n", ps.line.lib_name.c_str());
  for (const FtreeNode& node : ps.line.ftree) std::fprintf(ps.out, " %s", node.name.c_str());
  std::fputs("\n", ps.out);
}

// The lines of --help after the usage text.
const char* const kMoreHelp[] = {
    "       @<file> : read more options and names from a command file\n",
    "       --new : with -a, make the library from the given files alone\n",
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
  CmdlineParse ps(rs.line, rs.out);
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == kNewOption) {
      set_new(ps);
      if (ps.opt_error) usage();
    } else if (arg[0] == '-') {
      parse_option(ps, arg + 1);
      if (ps.opt_error) usage();
    } else if (arg[0] == '@') {
      read_cmdfile(ps, arg + 1);
    } else {
      add_name(ps, arg);
    }
  }
  validate(ps);
  if (rs.line.trace) trace_cmdline(ps);
}
