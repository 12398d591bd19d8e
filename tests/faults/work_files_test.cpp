// The working files (.$$1 and .$$2 in the TMP directory, .$$3 beside the
// library) under names that something else already holds: a stale file
// from a killed run, a link planted by someone else. The run removes the
// name and creates its own file, private to its owner, and never writes
// through a link into another file. With the trace flag, a failed run keeps
// its working files as it wrote them.
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "faults/faults.h"

namespace faults {
namespace {

namespace fs = std::filesystem;
using qob::ByteVec;
using qob::Module;

const ByteVec kVictim{'k', 'e', 'e', 'p', ' ', 'm', 'e'};

// The commands that write working files, on a library of A and B.
const std::vector<NameList>& commands() {
  static const std::vector<NameList> all = {
      {"-a", "-o", "lib/L", "-f", "C"},
      {"-r", "-o", "lib/L", "-f", "A"},
      {"-d", "-o", "lib/L", "-f", "B"},
  };
  return all;
}

class WorkFiles : public FaultE2E {
 protected:
  void SetUp() override {
    FaultE2E::SetUp();
    if (IsSkipped()) return;
    inputs_ = {
        {"A.QOB", Module().f0().f4(1, {{1, "A_PUB"}}).f8(1, {{1, 2}}).end().bytes()},
        {"B.QOB", Module().f0().f4(1, {{2, "B_PUB"}}).f6({"A_PUB"}).end().bytes()},
        {"C.QOB", Module().f0().f4(1, {{3, "C_PUB"}}).end().bytes()},
    };
    put(inputs_);
    make_dirs();
    const RunResult r = run({"-a", "-o", "lib/L", "-f", "A", "B"});
    ASSERT_EQ(r.status, 0) << r.out;
    inputs_["lib/L.LIB"] = read("lib/L.LIB");
  }

  void remove_file(const std::string& name) const { fs::remove(path(name)); }

  void make_dirs() const {
    for (const char* name : {"lib", "tmp"}) fs::create_directories(path(name));
  }

  // What the command leaves when nothing stands in its way.
  Files clean_run(const NameList& args, const EnvMap& env) {
    clear();
    put(inputs_);
    make_dirs();
    const RunResult r = run(args, env);
    EXPECT_EQ(r.status, 0) << r.out;
    return files();
  }

  void symlink(const std::string& target, const std::string& name) const {
    fs::create_symlink(target, path(name));
  }

  Files inputs_;
};

TEST_F(WorkFiles, StaleFilesAreReplaced) {
  const EnvMap env{{"TMP", "tmp"}};
  for (const NameList& args : commands()) {
    SCOPED_TRACE(args[0]);
    const Files expected = clean_run(args, env);
    clear();
    put(inputs_);
    // Left by a killed run: garbage, read-only, one a second name of another file.
    write("tmp/L.$$1", ByteVec(100, 0xEE));
    ::chmod(path("tmp/L.$$1").c_str(), 0444);
    write("victim", kVictim);
    fs::create_hard_link(path("victim"), path("tmp/L.$$2"));
    write("lib/L.$$3", ByteVec{0xF0, 0xFF});
    const RunResult r = run(args, env);
    EXPECT_EQ(r.status, 0) << r.out;
    Files now = files();
    EXPECT_EQ(now["victim"], kVictim);
    now.erase("victim");
    EXPECT_TRUE(now == expected) << differences(now, expected);
  }
}

// A link at each working name, in TMP, beside the library and in the
// current directory (the working directory without TMP), and at the
// backup's name: to an existing file, and to a file that does not exist.
TEST_F(WorkFiles, LinksAtTheirNamesAreNotFollowed) {
  for (const EnvMap& env : {EnvMap{{"TMP", "tmp"}}, EnvMap{}}) {
    const std::string tmp_dir = env.empty() ? "" : "tmp/";
    const std::vector<std::string> used = {tmp_dir + "L.$$1", tmp_dir + "L.$$2", "lib/L.$$3", "lib/L.BAK"};
    for (const NameList& args : commands()) {
      SCOPED_TRACE(args[0] + (env.empty() ? " without TMP" : " with TMP"));
      const Files expected = clean_run(args, env);
      clear();
      put(inputs_);
      make_dirs();
      std::vector<std::string> links{"lib/L.BAK"};
      for (const char* dir : {"", "tmp/", "lib/"})
        for (const char* ext : {".$$1", ".$$2", ".$$3"}) links.push_back(std::string(dir) + "L" + ext);
      for (std::size_t i = 0; i < links.size(); ++i) {
        const std::string victim = "victim" + std::to_string(i);
        // Every other link points to a file that is not there.
        if (i % 2 == 0) write(victim, kVictim);
        fs::create_symlink(path(victim), path(links[i]));
      }
      const RunResult r = run(args, env);
      EXPECT_EQ(r.status, 0) << r.out;
      Files now = files();
      for (std::size_t i = 0; i < links.size(); ++i) {
        const std::string victim = "victim" + std::to_string(i);
        if (i % 2 == 0) {
          EXPECT_EQ(now[victim], kVictim) << "written through " << links[i];
          now.erase(victim);
        } else {
          EXPECT_FALSE(exists(victim)) << "created through " << links[i];
        }
        // The links at names the run does not use stay as they were.
        if (std::find(used.begin(), used.end(), links[i]) == used.end()) {
          const std::string target = "-> " + path(victim);
          EXPECT_EQ(now[links[i]], ByteVec(target.begin(), target.end())) << links[i];
          now.erase(links[i]);
        }
      }
      EXPECT_TRUE(now == expected) << differences(now, expected);
    }
  }
}

// The listing and extracted modules never take the library's own name:
// writing them would destroy the library being read.
TEST_F(WorkFiles, OutputsNeverTakeTheLibrarysName) {
  ASSERT_EQ(run({"-a", "-o", "X.LST", "-f", "A", "B"}).status, 0);
  const ByteVec listed = read("X.LST");
  const RunResult list = run({"-l", "-o", "X.LST"});
  EXPECT_EQ(list.status, 3);
  EXPECT_EQ(list.out, "\nCan't open <X.LST>\n");
  EXPECT_EQ(read("X.LST"), listed);

  write("src/A.QOB", inputs_.at("A.QOB"));
  remove_file("A.QOB");
  ASSERT_EQ(run({"-a", "-o", "A.QOB", "-f", "src/A"}).status, 0);
  const ByteVec extracted = read("A.QOB");
  const RunResult extract = run({"-x", "-o", "A.QOB"});
  EXPECT_EQ(extract.status, 1);
  EXPECT_EQ(extract.out, "\nInvarid module or library A.QOB\n");
  EXPECT_EQ(read("A.QOB"), extracted);
}

// Sets the umask for the life of the guard.
class Umask {
 public:
  explicit Umask(mode_t mask) : before_(::umask(mask)) {}
  ~Umask() { ::umask(before_); }
  Umask(const Umask&) = delete;
  Umask& operator=(const Umask&) = delete;

 private:
  mode_t before_;
};

// Each working file is private from its creation, whatever the umask; the
// library put in place gets the old library's mode, or the usual one.
// A run that fails after the new library was written, with the trace
// flag, keeps its working files as it wrote them: the staged bodies stay in
// tmp2 although the commit has copied them on.
TEST_F(WorkFiles, KeptBodiesOutliveTheirCopy) {
  for (const auto& [args, staged] : {std::pair<NameList, std::string>{commands()[0], "C.QOB"},
                                     std::pair<NameList, std::string>{commands()[1], "A.QOB"}}) {
    SCOPED_TRACE(args[0]);
    clear();
    put(inputs_);
    NameList traced = args;
    traced.insert(traced.begin(), "-k");
    // The first sync is the new library's, after every body is in it.
    const RunResult r = run_with(traced, Op{"sync", 1, ""}, Action::kFail);
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_EQ(read("L.$$2"), inputs_[staged]);
    EXPECT_EQ(read("lib/L.LIB"), inputs_["lib/L.LIB"]);
  }
}

TEST_F(WorkFiles, WorkingFilesArePrivate) {
  const EnvMap env{{"TMP", "tmp"}};
  const Umask none(0);
  inputs_.erase("lib/L.LIB");
  for (const NameList& args : commands()) {
    SCOPED_TRACE(args[0]);
    const bool creates = args[0] == "-a";
    auto prepare = [&] {
      clear();
      put(inputs_);
      make_dirs();
      if (creates) return;
      const RunResult made = run({"-a", "-o", "lib/L", "-f", "A", "B"});
      ASSERT_EQ(made.status, 0);
      ::chmod(path("lib/L.LIB").c_str(), 0640);
    };
    prepare();
    std::vector<Op> ops;
    const RunResult counted = run_counted(args, ops, env);
    ASSERT_EQ(counted.status, 0) << counted.out;
    struct stat st {};
    ASSERT_EQ(::stat(path("lib/L.LIB").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, creates ? 0666u : 0640u) << "mode of the library";

    // Killed at its first write, the run holds all its working files, and
    // each shows the mode it was created with.
    const auto first_write = std::find_if(ops.begin(), ops.end(), [](const Op& op) { return op.kind == "write"; });
    ASSERT_NE(first_write, ops.end()) << "nothing is written";
    prepare();
    const RunResult killed = run_with(args, *first_write, Action::kKill, env);
    EXPECT_EQ(killed.status, 128 + SIGKILL);
    for (const char* name : {"tmp/L.$$1", "tmp/L.$$2", "lib/L.$$3"}) {
      ASSERT_EQ(::stat(path(name).c_str(), &st), 0) << name;
      EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
    }
  }
}

}  // namespace
}  // namespace faults
