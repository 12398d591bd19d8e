// What a command hands to the commit: the new library's header, where each
// of its bodies lies, where its table's F8 records are, and the streams of
// the table (tmp1) and the bodies (tmp2) it has written. Commands that only
// read the library hand over the header alone, whose counts the run shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/library_files.h"
#include "format/library.h"
#include "format/stdfnc.h"
#include "host/host.h"

// A body of the new library, in table order: where its bytes lie (in the
// old library, staged in tmp2, or still in its relocatable file, from its
// start), how many there are, and the relocatable file it comes from (empty
// for a body kept from the old library). A body left in its file is copied
// from there only when the file is still as `stamp` found it when it was read.
struct BodyRef {
  enum class From { kLibrary, kStaged, kFile };
  From from;
  int64_t at;
  int64_t size;
  std::string source;
  host::FileStamp stamp{};
};

// An F8 record of the table working file, where the commit puts the offsets
// of a body: its place in the file, the size of the body it counts (the
// F2 value before it), and the body's own offsets of its first F7 and F8.
struct F8Place {
  int64_t at;
  int32_t body_size;
  int32_t offset1_f7;
  int32_t offset1_f8;
};

struct CommitPlan {
  // The table and the bodies are written to the working files of `files`.
  explicit CommitPlan(const LibraryFiles& files) {
    table_out.attach(files.tmp1_fp);
    body_out.attach(files.tmp2_fp);
  }
  // What was written so far goes to the working files, which the trace flag
  // keeps when the run fails.
  ~CommitPlan() {
    table_out.flush_and_detach();
    body_out.flush_and_detach();
  }
  CommitPlan(CommitPlan&&) = default;

  LibraryHeader header;
  std::vector<BodyRef> bodies;
  std::vector<F8Place> f8_places;
  RecOut table_out;
  RecOut body_out{nullptr, kLargeBlock};
};
