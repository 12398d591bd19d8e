// The one command of a run.
//
// The command letter, in either case, selects the command once; what the
// run needs to know about a command is asked of the command, never of the
// letter, which stays as typed for the trace.
#pragma once

enum class Command { kNone, kAppend, kReplace, kDelete, kExtract, kList };

inline Command command_of(char letter) {
  switch (letter) {
    case 'a': case 'A': return Command::kAppend;
    case 'r': case 'R': return Command::kReplace;
    case 'd': case 'D': return Command::kDelete;
    case 'x': case 'X': return Command::kExtract;
    case 'l': case 'L': return Command::kList;
    default: return Command::kNone;
  }
}

// Append, replace and delete write a new library: they take the working
// files (the table, the bodies, the new library) and end with the commit.
inline bool rewrites_library(Command c) {
  return c == Command::kAppend || c == Command::kReplace || c == Command::kDelete;
}

// These name the files or modules they work on, and need at least one.
inline bool needs_names(Command c) { return rewrites_library(c); }

// List writes a listing file beside the library.
inline bool writes_listing(Command c) { return c == Command::kList; }
