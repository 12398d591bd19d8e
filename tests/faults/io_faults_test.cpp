// Every file operation of a command, made to fail, killed at, or
// interrupted at, one at a time.
//
// A run of each command is first counted: the injection library logs each
// write, sync, close, rename, link and unlink on a file. Then, for every one
// of those operations, a fresh copy of the same files is run again with the
// operation failing, with SIGKILL just before it, or with SIGINT at it. What
// the run leaves is compared with the files before the run ("old") and with
// what the counted run left ("new"):
//
// - A failed run ends with a message and exit status 3 and leaves the old
//   files, no working file and no listing; only what a complete run would
//   have written besides the library (the backup, whole extracted modules)
//   may be there too. Some failures lose nothing the run still needs (see
//   harmless_failure); those runs succeed and leave the new files.
// - A killed run leaves the library old or new, never anything else, and a
//   backup only of the old library. When the library is still the old one,
//   running the command again gives the new files.
// - An interrupted run ends with "--Break-- !" and exit status 3 and leaves
//   the old files, unless the interrupt came once the run had nothing left
//   to stop: from the first step of putting the new library in place (for
//   the commands that write one), or from the last write of a list or
//   extract run. Such a run completes.
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "faults/faults.h"

namespace faults {
namespace {

namespace fs = std::filesystem;
using qob::ByteVec;
using qob::Module;

struct Command {
  const char* name;
  NameList args;
  bool has_library;   // the library exists before the run
  bool has_backup;    // so does an older backup
  bool writes_library;
};

void PrintTo(const Command& c, std::ostream* os) { *os << c.name; }

const std::vector<Command>& commands() {
  static const std::vector<Command> all = {
      {"AppendExisting", {"-a", "-o", "L", "-f", "src/C"}, true, false, true},
      {"AppendCreating", {"-av", "-o", "L", "-f", "src/B", "src/C"}, false, false, true},
      {"Replace", {"-r", "-o", "L", "-f", "new/A"}, true, true, true},
      {"Delete", {"-d", "-o", "L", "-f", "A"}, true, false, true},
      {"Extract", {"-x", "-o", "L"}, true, false, false},
      {"List", {"-l", "-o", "L"}, true, false, false},
  };
  return all;
}

constexpr const char* kLibrary = "L.LIB";
constexpr const char* kBackup = "L.BAK";
constexpr const char* kListing = "L.LST";

std::vector<qob::TriSym> publics(const std::string& prefix, int count) {
  std::vector<qob::TriSym> syms;
  for (int i = 0; i < count; ++i) syms.push_back({static_cast<std::uint32_t>(0x100 + i), prefix + std::to_string(i)});
  return syms;
}

// The modules: A has many symbols (a long table entry and a listing of
// several blocks), B a body of several blocks, and S is small and comes
// last (extract copies so few bytes without its block loop).
Files module_files() {
  // Larger than the streams' buffers.
  const ByteVec block(150000, 0x5A);
  return {
      {"src/A.QOB", Module()
                        .f0()
                        .f4(1, publics("A_PUB_", 1500))
                        .f5({{7, "A_EQU"}})
                        .f6({"B_PUB_0", "EXTERNAL_ONE"})
                        .f8(1, {ByteVec(300, 1)})
                        .e0({{2, 3, "A_BIT"}})
                        .end()
                        .bytes()},
      {"src/B.QOB", Module().f0().f4(1, publics("B_PUB_", 3)).f8(1, {block}).end().bytes()},
      {"src/S.QOB", Module().f0().f4(1, {{1, "S"}}).end().bytes()},
      {"src/C.QOB", Module().f0().f4(1, {{2, "C_PUB"}}).f6({"A_PUB_1"}).f8(1, {ByteVec(70, 2)}).end().bytes()},
      {"new/A.QOB", Module().f0().f4(1, publics("A_NEW_", 40)).f8(1, {ByteVec(90, 3)}).end().bytes()},
  };
}

class IoFaults : public FaultE2E, public ::testing::WithParamInterface<std::tuple<Command, Action>> {
 protected:
  void SetUp() override {
    FaultE2E::SetUp();
    if (IsSkipped()) return;
    const Command& c = command();
    old_ = module_files();
    if (c.has_library) {
      put(old_);
      const RunResult r = run({"-a", "-o", "L", "-f", "src/A", "src/B", "src/S"});
      ASSERT_EQ(r.status, 0) << r.out;
      old_[kLibrary] = read(kLibrary);
    }
    if (c.has_backup) old_[kBackup] = ByteVec{'o', 'l', 'd', 'e', 'r'};

    reset();
    const RunResult counted = run_counted(c.args, ops_);
    ASSERT_EQ(counted.status, 0) << counted.out;
    ASSERT_TRUE(writes_in_blocks()) << "no file is written in more than one write";
    // How many operations of each kind the run makes (--gtest_output=xml shows them).
    std::map<std::string, int> kinds;
    for (const Op& op : ops_) ++kinds[op.kind];
    for (const auto& [kind, count] : kinds) RecordProperty(kind, count);
    new_ = files();
    complete_out_ = counted.out;
    // The counting itself changes nothing.
    reset();
    const RunResult plain = run(c.args);
    ASSERT_EQ(plain.status, 0);
    ASSERT_EQ(plain.out, complete_out_);
    ASSERT_TRUE(files() == new_) << differences(files(), new_);
  }

  // Some file gets more than one write: failures in the middle of a file
  // are covered, not only at its end.
  bool writes_in_blocks() const {
    std::map<std::string, int> writes;
    for (const Op& op : ops_)
      if (op.kind == "write" && ++writes[op.path] > 1) return true;
    return false;
  }

  const Command& command() const { return std::get<0>(GetParam()); }
  Action action() const { return std::get<1>(GetParam()); }

  void reset() {
    clear();
    put(old_);
  }

  std::string where(std::size_t i) const {
    const Op& op = ops_[i];
    return std::string(action_name(action())) + " at " + op.kind + " " + std::to_string(op.n) + " of " +
           op.path + "\nold files:\n" + describe(old_) + "new files:\n" + describe(new_);
  }

  bool same_as(const Files& files, const std::string& name, const ByteVec& bytes) const {
    const auto found = files.find(name);
    return found != files.end() && found->second == bytes;
  }

  // A run that ended early: the old files, apart from what a complete run
  // also leaves besides the library; no working file and no listing.
  void expect_unharmed(const Files& now) const {
    for (const auto& [name, bytes] : now) {
      EXPECT_FALSE(is_work_file(name)) << name << " left behind";
      const bool as_old = same_as(old_, name, bytes);
      const bool as_new = name != kLibrary && same_as(new_, name, bytes);
      EXPECT_TRUE(as_old || as_new) << name << " is neither as before nor as a complete run leaves it";
    }
    for (const auto& [name, bytes] : old_) EXPECT_TRUE(now.count(name) != 0) << name << " is gone";
    EXPECT_EQ(now.count(kListing), 0u) << "the partial listing stays";
  }

  void expect_complete(const RunResult& r, Files now, const std::string& left_over = "") const {
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, complete_out_);
    if (!left_over.empty()) now.erase(left_over);
    EXPECT_TRUE(now == new_) << differences(now, new_);
  }

  // Whether the run must go on as if nothing had failed when operation i
  // fails, because the run needs nothing from that operation:
  // - closing a stream that was only read, or a directory;
  // - syncing the directory after the final rename (the new library is in
  //   place and complete; only its durability across a power loss is at stake);
  // - making the backup as a hard link: the old library is then renamed to
  //   the backup name instead;
  // - removing an old backup (when it stays, the rename replaces it), and
  //   closing and removing the table and body working files once the new
  //   library is in place (they were read back into it; a working file that
  //   cannot be removed then stays behind).
  // Every other failure ends the run: writing, syncing or closing a file
  // that was written, the final rename, and removing a stale file of a
  // working file's name before it is taken.
  bool harmless_failure(std::size_t i) const {
    const Op& op = ops_[i];
    if (op.kind == "link") return true;
    if (op.kind == "sync") return fs::is_directory(op.path);
    if ((op.kind == "close" || op.kind == "unlink") && is_work_file(op.path) && installed_before(i)) return true;
    if (op.kind == "close") return fs::is_directory(op.path) || !written_since_last_close(i);
    if (op.kind == "unlink") return op.path.ends_with(".BAK");
    return false;
  }

  // Whether the new library was put in place before operation i.
  bool installed_before(std::size_t i) const {
    for (std::size_t k = 0; k < i; ++k)
      if (ops_[k].kind == "rename" && ops_[k].path.ends_with(".$$3")) return true;
    return false;
  }

  bool written_since_last_close(std::size_t i) const {
    for (std::size_t k = i; k-- > 0;) {
      if (ops_[k].path != ops_[i].path) continue;
      if (ops_[k].kind == "close") return false;
      if (ops_[k].kind == "write") return true;
    }
    return false;
  }

  // The first operation at which an interrupt no longer stops the run.
  std::size_t point_of_no_return() const {
    if (command().writes_library) {
      for (std::size_t k = 0; k < ops_.size(); ++k)
        if (ops_[k].kind == "unlink" && ops_[k].path.ends_with(kBackup)) return k;
      ADD_FAILURE() << "the backup is never removed";
      return ops_.size();
    }
    for (std::size_t k = ops_.size(); k-- > 0;)
      if (ops_[k].kind == "write") return k;
    return ops_.size();
  }

  void check_failed(std::size_t i) {
    reset();
    const RunResult r = run_with(command().args, ops_[i], Action::kFail);
    if (harmless_failure(i)) {
      const std::string& path = ops_[i].path;
      expect_complete(r, files(), ops_[i].kind == "unlink" && is_work_file(path) ? path : "");
      return;
    }
    static const std::regex kMessage(
        "\n(Out of disk space |Can't open <[^>]*>|Input file read error <[^>]*>|File seek error \\S*)\n$");
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(std::regex_search(r.out, kMessage)) << r.out;
    EXPECT_TRUE(r.err.ends_with("\a"));
    expect_unharmed(files());
  }

  void check_killed(std::size_t i) {
    reset();
    const RunResult r = run_with(command().args, ops_[i], Action::kKill);
    EXPECT_EQ(r.status, 128 + SIGKILL);
    const Files now = files();
    const auto library = now.find(kLibrary);
    const bool old_library = command().has_library ? same_as(now, kLibrary, old_.at(kLibrary))
                                                   : library == now.end();
    EXPECT_TRUE(old_library || same_as(now, kLibrary, new_.at(kLibrary))) << "the library is damaged or gone";
    const auto backup = now.find(kBackup);
    if (backup != now.end()) {
      EXPECT_TRUE(same_as(old_, kLibrary, backup->second) || same_as(old_, kBackup, backup->second))
          << "the backup is not the old library";
    }
    // Outputs of extract and list are written in place; the one being
    // written when the run was killed may be cut short.
    for (const auto& [name, bytes] : now) {
      if (is_work_file(name) || name == kLibrary || name == kBackup) continue;
      const bool output = !command().writes_library && old_.count(name) == 0;
      EXPECT_TRUE(output || same_as(old_, name, bytes) || same_as(new_, name, bytes)) << name;
    }
    if (old_library) {
      // Nothing of the killed run, stale working files included, stands in the way of the next.
      const RunResult again = run(command().args);
      expect_complete(again, files());
    }
  }

  void check_interrupted(std::size_t i) {
    reset();
    const RunResult r = run_with(command().args, ops_[i], Action::kInterrupt);
    if (i >= point_of_no_return()) {
      expect_complete(r, files());
      return;
    }
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(r.out.ends_with("\n--Break-- !\n")) << r.out;
    EXPECT_TRUE(r.err.ends_with("\a"));
    expect_unharmed(files());
  }

  Files old_;
  Files new_;
  std::string complete_out_;
  std::vector<Op> ops_;
};

TEST_P(IoFaults, AtEveryOperation) {
  for (std::size_t i = 0; i < ops_.size(); ++i) {
    SCOPED_TRACE(where(i));
    switch (action()) {
      case Action::kFail: check_failed(i); break;
      case Action::kKill: check_killed(i); break;
      case Action::kInterrupt: check_interrupted(i); break;
    }
    if (HasFailure()) break;
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, IoFaults,
                         ::testing::Combine(::testing::ValuesIn(commands()),
                                            ::testing::Values(Action::kFail, Action::kKill, Action::kInterrupt)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  action_name(std::get<1>(info.param));
                         });

// A library named like its own backup (X.BAK) is replaced in one step:
// killed at any operation, the run leaves the old library or the new one.
TEST_F(FaultE2E, LibraryNamedLikeItsBackupIsNeverMissing) {
  const Files modules = {{"A.QOB", Module().f0().f4(1, {{1, "A_PUB"}}).end().bytes()},
                         {"C.QOB", Module().f0().f4(1, {{2, "C_PUB"}}).end().bytes()}};
  put(modules);
  ASSERT_EQ(run({"-a", "-o", "X.BAK", "-f", "A"}).status, 0);
  const ByteVec old_library = read("X.BAK");
  const NameList append{"-a", "-o", "X.BAK", "-f", "C"};
  std::vector<Op> ops;
  ASSERT_EQ(run_counted(append, ops).status, 0);
  const ByteVec new_library = read("X.BAK");
  for (const Op& op : ops) {
    SCOPED_TRACE("killed at " + op.kind + " " + std::to_string(op.n) + " of " + op.path);
    clear();
    put(modules);
    write("X.BAK", old_library);
    EXPECT_EQ(run_with(append, op, Action::kKill).status, 128 + SIGKILL);
    ASSERT_TRUE(exists("X.BAK")) << "the library is gone";
    const ByteVec now = read("X.BAK");
    EXPECT_TRUE(now == old_library || now == new_library) << "the library is damaged";
  }
}

// What is synced is the library as it will stand: killed just before the
// sync of the new library, the file already has the old library's mode, not
// the working file's private one, so a crash after the rename cannot leave a
// library that only its owner may read.
TEST_F(FaultE2E, NewLibraryHasItsModeBeforeItIsSynced) {
  const Files modules = {{"A.QOB", Module().f0().f4(1, {{1, "A_PUB"}}).end().bytes()},
                         {"C.QOB", Module().f0().f4(1, {{2, "C_PUB"}}).end().bytes()}};
  put(modules);
  ASSERT_EQ(run({"-a", "-o", "L", "-f", "A"}).status, 0);
  ASSERT_EQ(::chmod(path(kLibrary).c_str(), 0640), 0);
  const ByteVec old_library = read(kLibrary);
  const NameList append{"-a", "-o", "L", "-f", "C"};
  std::vector<Op> ops;
  ASSERT_EQ(run_counted(append, ops).status, 0);
  const auto sync = std::find_if(ops.begin(), ops.end(),
                                 [](const Op& op) { return op.kind == "sync" && op.path.ends_with("L.$$3"); });
  ASSERT_NE(sync, ops.end()) << "the new library is never synced";

  clear();
  put(modules);
  write(kLibrary, old_library);
  ASSERT_EQ(::chmod(path(kLibrary).c_str(), 0640), 0);
  EXPECT_EQ(run_with(append, *sync, Action::kKill).status, 128 + SIGKILL);
  struct stat st;
  ASSERT_EQ(::stat(path("L.$$3").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace faults
