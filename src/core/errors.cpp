// Ending a run: the abort and what a format fault means for the run.
#include "core/errors.h"

#include "format/error.h"

volatile std::sig_atomic_t g_break_requested = 0;

void error_exit(int code, std::optional<std::string> name) { throw RunAbort{code, std::move(name), {}, {}}; }

void multiple_defined(std::string symbol, std::string module, std::string other) {
  throw RunAbort{kMultipleDefined, std::move(symbol), std::move(module), std::move(other)};
}

void open_quote(std::string file, long line_no) {
  throw RunAbort{kOpenQuote, std::move(file), {}, std::to_string(line_no)};
}

void bad_utf16(std::string file, std::size_t byte) {
  throw RunAbort{kBadUtf16, std::move(file), {}, std::to_string(byte)};
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

bool close_stream(std::FILE*& fp) {
  if (fp == nullptr) return true;
  bool ok = std::fclose(fp) == 0;
  fp = nullptr;
  return ok;
}
