// Ending a run.
//
// Every failure ends the run at once: a routine that finds a fault calls
// error_exit with an error code and, where the message names something, a
// name. error_exit throws RunAbort; only the entry point catches it and hands
// it to the error reporter, which removes the working files, prints the
// message, rings the bell and gives the exit status. Nothing else catches it.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

enum ErrorCode : int {
  kInternal = 0,
  kUsage = 1,
  kCantOpen = 2,
  kCantCreate = 3,
  kDiskFull = 4,
  kReadError = 5,
  kCloseFailed = 6,
  kListWriteFailed = 7,
  kSeekError = 8,
  kNoHeap = 11,
  kBreak = 12,
  kMultipleDefined = 21,
  kNotInLibrary = 22,
  kInvalid = 23,
  kCmdFileNotFound = 24,
  kNoHeapContent = 25,
  kTooManyModules = 26,
  kCpuError = 27,
  // A name in a command file whose closing quote is missing (a usage error
  // with a message of its own, since the usage text cannot say where).
  kOpenQuote = 30,
  // A command file in UTF-16 whose text is not valid UTF-16 (a usage error
  // with a message of its own, naming where the fault is).
  kBadUtf16 = 31,
  // A malformed SOURCE_DATE_EPOCH (a usage error of the environment).
  kBadSourceDate = 32,
};

struct RunAbort {
  int code;
  std::optional<std::string> name;
  // "is multiple defined in": the module being added or replaced, and the
  // library module that already defines the symbol (the name). An open
  // quote: the line of the command file (the name) it stands in; bad
  // UTF-16: the byte it starts at.
  std::string module;
  std::string other;
};

struct FormatError;

[[noreturn]] void error_exit(int code, std::optional<std::string> name = std::nullopt);
// The duplicate definition of `symbol` by `module`, which `other` defines already.
[[noreturn]] void multiple_defined(std::string symbol, std::string module, std::string other);
// A quote left open in line `line_no` of the command file `file`.
[[noreturn]] void open_quote(std::string file, long line_no);
// A command file `file` in UTF-16 that stops being UTF-16 at byte `byte`
// (counted from 1, as cmp counts).
[[noreturn]] void bad_utf16(std::string file, std::size_t byte);
// What a fault of a format reader or writer means for the run.
RunAbort abort_of(const FormatError& fault);

// Set by the interrupt handler; the run ends at its next step.
extern volatile std::sig_atomic_t g_break_requested;

inline void poll_break() {
  if (g_break_requested) error_exit(kBreak, "--Break-- !");
}

// Closes a stream if it is open and marks it closed; true unless the close failed.
bool close_stream(std::FILE*& fp);
