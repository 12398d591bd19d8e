// Support of the fault-injection tests: runs of the program with the
// injection library preloaded (faults/inject.c), the log of the file
// operations a run made, and snapshots of the files a run leaves.
#pragma once

#include <cstddef>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/qob_writer.h"

namespace faults {

// One file operation the injection library counted: its kind (write, sync,
// close, rename, link, unlink), its number among the operations of that
// kind (from 1) and the file it was on.
struct Op {
  std::string kind;
  long n = 0;
  std::string path;
};

enum class Action { kFail, kKill, kInterrupt };
const char* action_name(Action action);
inline void PrintTo(Action action, std::ostream* os) { *os << action_name(action); }

// Every file below a directory, by relative name, with its bytes; a symbolic
// link is recorded by its target. Listings have their time stamps blanked,
// since they show the time they were written.
using Files = std::map<std::string, qob::ByteVec>;

bool is_work_file(const std::string& name);
std::string describe(const Files& files);
// The names whose bytes differ between the two, or that only one has.
std::string differences(const Files& got, const Files& expected);

// A fixture whose runs can have the injection library preloaded.
class FaultE2E : public E2E {
 protected:
  void SetUp() override;

  // Runs the program counting its operations; `ops` gets them in order.
  RunResult run_counted(const NameList& args, std::vector<Op>& ops, const EnvMap& env = {});
  // Runs the program with `action` at the n-th operation of `kind`.
  RunResult run_with(const NameList& args, const Op& at, Action action, const EnvMap& env = {});

  // Removes every file of the working directory.
  void clear() const;
  // Writes the files (names relative to the working directory).
  void put(const Files& files) const;
  Files files() const;

 private:
  RunResult run_preloaded(const NameList& args, EnvMap env);
  std::string log_path() const;
};

}  // namespace faults
