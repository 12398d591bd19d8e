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
  // The rule that a malformed input breaks.
  enum class Rule {
    kNone,          // the input broke none: the fault is not kMalformed
    kRecord,        // a record cut off by the end of the input, a string too long, or a byte where
                    // a tag belongs that the reader does not take
    kF2SubRecord,   // a module's F2 record without its F0 sub-record
    kF7FirstItem,   // an F7 entry whose first item is not F0, F1 or F2
    kTooLarge,      // what is written would pass the writer's limit
  };
  Kind kind;
  Rule rule = Rule::kNone;
  std::string file = {};  // the file being read; empty for a writer
  // What the owner of the reader or writer calls a malformed input: a detail
  // code, or a name to show.
  std::string detail = {};

  // What a message names: the detail of a malformed input, else the file.
  const std::string& name() const { return kind == Kind::kMalformed ? detail : file; }
};
