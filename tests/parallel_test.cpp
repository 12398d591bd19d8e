// Runs of the program at the same time, as parallel builds start them: runs
// that change one library take turns, runs whose working files share names
// never touch each other's, and whatever a run leaves when it is killed
// stands in no later run's way. Then the library's own file: its mode and
// group, a symbolic or hard link to it, and the largest library there can be.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/library_e2e.h"

namespace {

namespace fs = std::filesystem;

class Parallel : public LibraryE2E {
protected:
    // The directory separator a test types.
    static std::string sep() { return windows_target() ? "\\" : "/"; }

    // Module files, each defining a public symbol of its own name.
    void write_modules(const NameList& names) const {
        for (const std::string& name : names) write_module(name + ".QOB", defining({"SYM_" + name}));
    }

    // The library `name` must be consistent and hold exactly `modules` (in any order).
    void expect_modules(const std::string& name, NameList modules) const {
        const lib::Library l = library(name);
        EXPECT_EQ(lib::inconsistencies(l), "") << name;
        NameList held;
        for (const lib::Entry& e : l.entries) held.push_back(e.name.substr(e.name.find_last_of("\\/") + 1));
        std::sort(held.begin(), held.end());
        std::sort(modules.begin(), modules.end());
        EXPECT_EQ(held, modules) << name;
    }

    // Starts every command at once and expects each to succeed.
    void run_together(const std::vector<NameList>& commands, const EnvMap& env = {}) {
        std::vector<pid_t> pids;
        for (const NameList& args : commands) pids.push_back(spawn(args, env));
        for (pid_t pid : pids) {
            const RunResult r = wait(pid);
            EXPECT_EQ(r.status, 0) << r.out;
        }
    }

    // Rounds of each stress test: enough to meet the races of unguarded
    // runs in most rounds, few enough for a slow loader.
    static int rounds() { return windows_target() ? 2 : 6; }
};

TEST_F(Parallel, AppendsToOneLibraryAreAllKept) {
    write_modules({"A", "M1", "M2", "M3", "M4"});
    for (int round = 0; round < rounds(); ++round) {
        fs::remove(path("L.LIB"));
        ASSERT_EQ(append("L", {"A"}).status, 0);
        run_together({{"-a", "-o", "L", "-f", "M1"}, {"-a", "-o", "L", "-f", "M2"},
                      {"-a", "-o", "L", "-f", "M3"}, {"-a", "-o", "L", "-f", "M4"}});
        expect_modules("L.LIB", {"A.QOB", "M1.QOB", "M2.QOB", "M3.QOB", "M4.QOB"});
        EXPECT_EQ(working_files(), NameList{});
        if (HasFailure()) break;
    }
}

TEST_F(Parallel, AppendsCreatingOneLibraryAreAllKept) {
    write_modules({"M1", "M2", "M3"});
    for (int round = 0; round < rounds(); ++round) {
        fs::remove(path("L.LIB"));
        run_together({{"-a", "-o", "L", "-f", "M1"}, {"-a", "-o", "L", "-f", "M2"}, {"-a", "-o", "L", "-f", "M3"}});
        expect_modules("L.LIB", {"M1.QOB", "M2.QOB", "M3.QOB"});
        if (HasFailure()) break;
    }
}

TEST_F(Parallel, AppendAndDeleteAtOnceBothTakeEffect) {
    write_modules({"A", "B", "C"});
    for (int round = 0; round < rounds(); ++round) {
        fs::remove(path("L.LIB"));
        ASSERT_EQ(append("L", {"A", "B"}).status, 0);
        run_together({{"-a", "-o", "L", "-f", "C"}, {"-d", "-o", "L", "-f", "A"}});
        expect_modules("L.LIB", {"B.QOB", "C.QOB"});
        if (HasFailure()) break;
    }
}

// debug/PROJ.LIB and release/PROJ.LIB have working files of the same names:
// in a shared TMP, or in the current directory without one.
TEST_F(Parallel, LibrariesOfOneBaseNameKeepTheirOwnModules) {
    fs::create_directories(path("debug"));
    fs::create_directories(path("release"));
    fs::create_directories(path("tmp"));
    write_modules({"D1", "D2", "R1", "R2"});
    const std::string debug = "debug" + sep() + "PROJ", release = "release" + sep() + "PROJ";
    for (const EnvMap& env : {EnvMap{{"TMP", "tmp"}}, EnvMap{}}) {
        SCOPED_TRACE(env.empty() ? "without TMP" : "with TMP");
        for (int round = 0; round < rounds(); ++round) {
            fs::remove(path("debug/PROJ.LIB"));
            fs::remove(path("release/PROJ.LIB"));
            ASSERT_EQ(append(debug, {"D1"}).status, 0);
            ASSERT_EQ(append(release, {"R1"}).status, 0);
            run_together({{"-a", "-o", debug, "-f", "D2"}, {"-a", "-o", release, "-f", "R2"}}, env);
            expect_modules("debug/PROJ.LIB", {"D1.QOB", "D2.QOB"});
            expect_modules("release/PROJ.LIB", {"R1.QOB", "R2.QOB"});
            EXPECT_EQ(working_files(), NameList{});
            EXPECT_EQ(working_files("tmp"), NameList{});
            if (HasFailure()) return;
        }
    }
}

// A run that holds the library: it reads a module from a pipe, which gives
// the test the moment at which it holds everything it needs.
class HeldLibrary : public Parallel {
protected:
    void SetUp() override {
        Parallel::SetUp();
        if (windows_target()) GTEST_SKIP() << "needs a native program reading a fifo";
        write_modules({"A", "B"});
        ASSERT_EQ(append("L", {"A"}).status, 0);
        make_fifo("P.QOB");
        holder_ = spawn({"-a", "-o", "L", "-f", "P"});
        // Opening the pipe returns once the holder has opened it: it has
        // taken its working files by then.
        pipe_ = ::open(path("P.QOB").c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(pipe_, 0);
    }

    void TearDown() override {
        if (pipe_ >= 0) ::close(pipe_);
        Parallel::TearDown();
    }

    // Lets the holder read its module and finish.
    RunResult release_holder() {
        const qob::ByteVec p = defining({"SYM_P"}).bytes();
        EXPECT_EQ(::write(pipe_, p.data(), p.size()), static_cast<ssize_t>(p.size()));
        ::close(pipe_);
        pipe_ = -1;
        return wait(holder_);
    }

    pid_t holder_ = 0;
    int pipe_ = -1;
};

TEST_F(HeldLibrary, AnotherRunWaitsAndThenReadsWhatTheHolderLeft) {
    const pid_t waiter = spawn({"-av", "-o", "L", "-f", "B"});
    EXPECT_TRUE(wait_for_output(waiter, "<L.LIB> WAIT\n"));
    EXPECT_EQ(release_holder().status, 0);
    const RunResult r = wait(waiter);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "<L.LIB> WAIT\nAPPEND FILE = B.QOB\n" + count_lines(3, 3));
    expect_modules("L.LIB", {"A.QOB", "P.QOB", "B.QOB"});
}

TEST_F(HeldLibrary, InterruptWhileWaiting) {
    const pid_t waiter = spawn({"-av", "-o", "L", "-f", "B"});
    ASSERT_TRUE(wait_for_output(waiter, "<L.LIB> WAIT\n"));
    interrupt(waiter);
    const RunResult r = wait(waiter);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "<L.LIB> WAIT\n\n--Break-- !\n");
    EXPECT_EQ(release_holder().status, 0);
    expect_modules("L.LIB", {"A.QOB", "P.QOB"});
}

TEST_F(HeldLibrary, KilledHolderStandsInNoOnesWay) {
    ::kill(holder_, SIGKILL);
    EXPECT_EQ(wait(holder_).status, 128 + SIGKILL);
    ::close(pipe_);
    pipe_ = -1;
    const RunResult r = append("L", {"B"});
    EXPECT_EQ(r.status, 0) << r.out;
    expect_modules("L.LIB", {"A.QOB", "B.QOB"});
    EXPECT_EQ(working_files(), NameList{});
}

// List and extract never wait for a run that changes the library.
TEST_F(HeldLibrary, ReadersDoNotWait) {
    EXPECT_EQ(run({"-l", "-o", "L"}).status, 0);
    EXPECT_EQ(run({"-x", "-o", "L"}).status, 0);
    EXPECT_EQ(read("A.QOB"), defining({"SYM_A"}).bytes());
    EXPECT_EQ(release_holder().status, 0);
}

// A module is read once for its entry and copied into the new library only
// once the table is written. A module file that has changed in between is
// refused, and the library stays as it was. The run reads a pipe after the
// module, which gives the test the moment in between.
enum class Change { kRewrittenWithOlderTime, kGrown, kReplaced, kRemoved };

std::string change_name(const ::testing::TestParamInfo<Change>& info) {
    static const char* const kNames[] = {"RewrittenWithOlderTime", "Grown", "Replaced", "Removed"};
    return kNames[static_cast<int>(info.param)];
}

class ChangedModule : public Parallel, public ::testing::WithParamInterface<Change> {
protected:
    void change(const std::string& name) const {
        const qob::ByteVec other = defining({"SYM_X"}).bytes();
        switch (GetParam()) {
        case Change::kRewrittenWithOlderTime: {
            // Same size; the time is set back, as a copy that keeps its source's time has it.
            const auto time = fs::last_write_time(path(name));
            write(name, other);
            fs::last_write_time(path(name), time - std::chrono::seconds(10));
            break;
        }
        case Change::kGrown: {
            qob::ByteVec longer = read(name);
            longer.push_back(0);
            write(name, longer);
            break;
        }
        case Change::kReplaced:
            write("NEW.QOB", other);
            fs::rename(path("NEW.QOB"), path(name));
            break;
        case Change::kRemoved: fs::remove(path(name)); break;
        }
    }
};

TEST_P(ChangedModule, BetweenReadingAndCopyingIsRefused) {
    if (windows_target()) GTEST_SKIP() << "needs a native program reading a fifo";
    write_modules({"A", "B"});
    ASSERT_EQ(append("L", {"A"}).status, 0);
    const qob::ByteVec before = read("L.LIB");
    make_fifo("P.QOB");
    const pid_t run = spawn({"-a", "-o", "L", "-f", "B", "P"});
    // Opening the pipe returns once the run has opened it: B is read by then.
    const int pipe = ::open(path("P.QOB").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(pipe, 0);
    change("B.QOB");
    const qob::ByteVec p = defining({"SYM_P"}).bytes();
    EXPECT_EQ(::write(pipe, p.data(), p.size()), static_cast<ssize_t>(p.size()));
    ::close(pipe);
    const RunResult r = wait(run);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with("\nInvarid module or library B.QOB\n")) << r.out;
    EXPECT_EQ(read("L.LIB"), before);
    EXPECT_EQ(working_files(), NameList{});
}

INSTANTIATE_TEST_SUITE_P(Changes, ChangedModule,
                         ::testing::Values(Change::kRewrittenWithOlderTime, Change::kGrown, Change::kReplaced,
                                           Change::kRemoved),
                         change_name);

class LibraryFile : public Parallel {
protected:
    void SetUp() override {
        Parallel::SetUp();
        if (windows_target()) GTEST_SKIP() << "POSIX file modes and links";
        write_modules({"A", "B"});
    }
};

TEST_F(LibraryFile, NewLibraryKeepsModeAndGroup) {
    ASSERT_EQ(append("L", {"A"}).status, 0);
    // A group other than the run's own: any for a privileged run, else one it belongs to.
    gid_t group = ::getegid() + 1;
    if (::geteuid() != 0) {
        std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
        groups.resize(static_cast<std::size_t>(std::max(::getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
        const auto other = std::find_if(groups.begin(), groups.end(), [](gid_t g) { return g != ::getegid(); });
        if (other == groups.end()) GTEST_SKIP() << "the user belongs to no second group";
        group = *other;
    }
    ASSERT_EQ(::chown(path("L.LIB").c_str(), static_cast<uid_t>(-1), group), 0);
    ASSERT_EQ(::chmod(path("L.LIB").c_str(), 0664), 0);
    ASSERT_EQ(append("L", {"B"}).status, 0);
    struct stat st;
    ASSERT_EQ(::stat(path("L.LIB").c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, group);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
}

// The link stays a link; the file it leads to is replaced, and its backup
// lies beside it.
TEST_F(LibraryFile, LibraryReachedThroughASymbolicLink) {
    fs::create_directories(path("real"));
    fs::create_directories(path("links"));
    ASSERT_EQ(append("real/LIB", {"A"}).status, 0);
    const qob::ByteVec old = read("real/LIB.LIB");
    fs::create_symlink("../real/LIB.LIB", path("links/ALIAS.LIB"));
    const RunResult r = append("links/ALIAS", {"B"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(fs::is_symlink(path("links/ALIAS.LIB")));
    expect_modules("real/LIB.LIB", {"A.QOB", "B.QOB"});
    EXPECT_EQ(read("real/LIB.BAK"), old);
    EXPECT_EQ(working_files("real"), NameList{});
    EXPECT_EQ(std::distance(fs::directory_iterator(path("links")), fs::directory_iterator()), 1);
}

TEST_F(LibraryFile, SecondHardLinkKeepsTheOldLibrary) {
    ASSERT_EQ(append("L", {"A"}).status, 0);
    const qob::ByteVec old = read("L.LIB");
    fs::create_hard_link(path("L.LIB"), path("OTHER.LIB"));
    ASSERT_EQ(append("L", {"B"}).status, 0);
    expect_modules("L.LIB", {"A.QOB", "B.QOB"});
    EXPECT_EQ(read("OTHER.LIB"), old);
}

// A module whose body alone passes the largest size a library can hold: a
// sparse file of 2 GiB, complete and well formed, refused before any of it
// is copied.
TEST_F(LibraryFile, ModuleTooLargeForALibraryIsRefused) {
    ASSERT_EQ(append("L", {"A"}).status, 0);
    const qob::ByteVec old = read("L.LIB");
    const std::uint32_t block = 0x7FFFFFF8;
    qob::Bytes head;
    head.u8(0xF0).str("VER.A").u8(0xF8).word(1).u32(block);
    qob::Bytes tail;
    tail.u32(0).u8(0xFF);
    write("BIG.QOB", head.bytes());
    {
        const int fd = ::open(path("BIG.QOB").c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const off_t end = static_cast<off_t>(head.offset()) + block;
        EXPECT_EQ(::pwrite(fd, tail.data().data(), tail.offset(), end), static_cast<ssize_t>(tail.offset()));
        ::close(fd);
    }
    const RunResult r = append("L", {"BIG"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\nInvarid module or library BIG.QOB\n");
    EXPECT_EQ(read("L.LIB"), old);
    EXPECT_FALSE(exists("L.BAK"));
    EXPECT_EQ(working_files(), NameList{});
}

}  // namespace
