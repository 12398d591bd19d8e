// How the readers and writers of the file formats report a fault.
//
// They know nothing of the run that uses them: a fault is thrown as a
// FormatError carrying what a message needs, and the caller decides what the
// fault means for its run.
#pragma once

#include <string>

struct FormatError {
  enum class Kind {
    kMalformed,    // the input breaks a rule of its format, or would not fit one
    kReadFailed,   // the file could not be read
    kWriteFailed,  // the file could not be written
    kSeekFailed,   // a position in the file could not be reached
    kInterrupted,  // the interrupt flag was set
  };
  Kind kind;
  // What the message names: the detail code or the file's name for a
  // malformed input, the file's name for a failed read or seek.
  std::string name;
};
