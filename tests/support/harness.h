// End-to-end test support: runs the built librarian as a separate process in a
// fresh directory and captures what a build script would see of it.
//
// Each test of a fixture derived from E2E gets its own empty working directory
// (under the system temp directory; kept for inspection when VORNA_KEEP is set) that
// is the program's current directory. The program runs with no standard input, its
// standard output and error go to files that are read back whole, and its environment
// is the test's own without TMP and VORNA unless a test sets them, and never with
// the test's own SOURCE_DATE_EPOCH. The program is the
// one the build made (VORNA_EXE, compiled in), or the one named by the environment
// variable VORNA_EXE; VORNA_RUNNER, when set, is put in front of it (split at blanks),
// so the same tests can drive a Windows build through a loader. A run that takes
// longer than VORNA_TIMEOUT seconds (default 60) is killed and fails the test.
//
// With VORNA_TARGET=windows the program is the Windows build run by Wine
// (.ci/windows.sh): an absolute name in the arguments or in TMP and VORNA is
// handed over as Z:\..., the console's CR LF line ends are read back as LF, and
// TMP reaches the program through VORNA_WINE_TMP, which that script's Wine
// prefix turns into the program's TMP. Any other VORNA_TARGET names the
// machine of a program built for another one (.ci/cross.sh: linux-aarch64
// under qemu-user, say, or linux-i686 run natively), which the tests drive
// as they drive this build's own, but for what needs this build's machine.

#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "support/qob_writer.h"

// What one run of the program left behind. A run ended by a signal has status
// 128 + the signal number, as a shell reports it.
struct RunResult {
    int status;
    std::string out;
    std::string err;
};

// Bytes as hexadecimal for failure messages: one line for up to 16 bytes,
// otherwise lines of 16 with their offsets.
std::string hex(const qob::ByteVec& bytes);

// True when the program under test is the Windows build (VORNA_TARGET=windows):
// then only '\' and ':' separate directories and text files end lines with CR LF.
bool windows_target();
// The line end of text files the program writes.
inline const char* text_line_end() { return windows_target() ? "\r\n" : "\n"; }

using EnvMap = std::map<std::string, std::string>;
using NameList = std::vector<std::string>;

class E2E : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the program with `args` to completion.
    RunResult run(const NameList& args, const EnvMap& env_overrides = {},
                  const NameList& env_unset = {"TMP", "VORNA"});

    // Runs vornadump (VORNADUMP_EXE, compiled in or from the environment) the
    // way run() runs the librarian, through VORNA_RUNNER too.
    RunResult run_dump(const NameList& args) const;

    // Starts the program and returns at once; every pid must be passed to wait().
    pid_t spawn(const NameList& args, const EnvMap& env_overrides = {},
                const NameList& env_unset = {"TMP", "VORNA"});
    // Waits for a spawned program (within the timeout) and collects its output.
    RunResult wait(pid_t pid);
    // True once the standard output of a spawned program holds `text`; false
    // when the program ended or the timeout passed first.
    bool wait_for_output(pid_t pid, const std::string& text) const;
    // Sends SIGINT, as Ctrl-C on the console does.
    void interrupt(pid_t pid) const;
    // True once the process has a handler installed for `signo` (read from
    // /proc; a runner may install its own before the program does); false when
    // the process ended or the timeout passed first.
    bool wait_until_catching(pid_t pid, int signo = SIGINT) const;

    // Interrupts the program at a known point. `fifo` is made a named pipe in the
    // working directory (a test names it as a module or command file); once the
    // program has opened it for reading, `head` is written, SIGINT is sent, and only
    // then `tail`, and the pipe is closed. The program cannot get past the end of
    // `head` before the interrupt has reached it, so it sees the interrupt while
    // still reading that file. Assumes the program opens the file once.
    RunResult run_interrupted(const NameList& args, const std::string& fifo,
                              const qob::ByteVec& head, const qob::ByteVec& tail,
                              const EnvMap& env_overrides = {},
                              const NameList& env_unset = {"TMP", "VORNA"});

    // Files of the working directory; `name` is relative to it.
    const std::filesystem::path& dir() const { return work_; }
    std::string path(const std::string& name) const;
    void write(const std::string& name, const qob::ByteVec& bytes) const;
    void write_text(const std::string& name, std::string_view text) const;
    qob::ByteVec read(const std::string& name) const;
    std::string read_text(const std::string& name) const;
    bool exists(const std::string& name) const;
    void make_fifo(const std::string& name) const;
    // Sets access and modification time; month 1-12, local time.
    void set_mtime(const std::string& name, int year, int month, int day, int hour,
                   int minute, int second) const;
    // The same in seconds since 1970-01-01 00:00:00 UTC.
    void set_mtime(const std::string& name, std::time_t when) const;
    // Names in the working directory, sorted.
    NameList list_dir() const;

private:
    struct Capture {
        std::filesystem::path out;
        std::filesystem::path err;
    };

    void reap_leftovers();
    pid_t spawn_program(bool dump, const NameList& args, const EnvMap& env_overrides,
                        const NameList& env_unset) const;
    RunResult wait_for(pid_t pid) const;

    std::filesystem::path root_;
    std::filesystem::path work_;
    // Bookkeeping of the runs, which running a program from a const test helper changes.
    mutable std::map<pid_t, Capture> running_;
    mutable int runs_ = 0;
};
