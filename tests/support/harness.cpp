// Process control for the end-to-end tests: fork and execve (no shell, so
// arguments reach the program exactly as given), a private environment, captured
// output, and the interrupt helpers.

#include "support/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef VORNA_EXE
#define VORNA_EXE ""
#endif
#ifndef VORNADUMP_EXE
#define VORNADUMP_EXE ""
#endif

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

[[noreturn]] void fail_errno(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

std::string env_or(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

std::chrono::seconds run_timeout() {
    const std::string text = env_or("VORNA_TIMEOUT", "60");
    const int seconds = std::atoi(text.c_str());
    return std::chrono::seconds(seconds > 0 ? seconds : 60);
}

NameList split_blanks(const std::string& text) {
    NameList words;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

NameList split_at(const std::string& text, char separator) {
    NameList parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        parts.push_back(part.empty() ? "." : part);
    }
    return parts;
}

// execve does not search PATH, so a bare name (a runner such as a loader) is looked
// up here; a name with a '/' is made absolute against the test's own directory,
// since the program runs in another one.
std::string resolve_program(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return fs::absolute(name).string();
    }
    for (const std::string& dir : split_at(env_or("PATH", "/usr/bin:/bin"), ':')) {
        const fs::path candidate = fs::path(dir) / name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
    }
    throw std::runtime_error("program not found in PATH: " + name);
}

// ---- the Windows program under Wine ----

// Wine shows the Unix root as drive Z:, so an absolute name of a test (a
// file or directory, also after the '@' of a command file) reaches the
// Windows program as Z:\... with '\' separators; other words stay as they are.
std::string for_program(const std::string& word) {
    const std::size_t start = word.starts_with("@/") ? 1 : 0;
    if (!windows_target() || word.compare(start, 1, "/") != 0) {
        return word;
    }
    std::string name = word.substr(start);
    std::replace(name.begin(), name.end(), '/', '\\');
    return word.substr(0, start) + "Z:" + name;
}

// Wine gives a Windows program the TMP of its registry, never the Unix one.
// The Wine prefix of the Windows tests (.ci/windows.sh) defines TMP as
// %VORNA_WINE_TMP%, so the TMP a test gives, or none (empty), travels there.
void pass_tmp_to_wine(NameList& env) {
    std::string tmp;
    for (const std::string& entry : env) {
        if (entry.starts_with("TMP=")) tmp = for_program(entry.substr(4));
    }
    env.push_back("VORNA_WINE_TMP=" + tmp);
}

// The Windows program writes its console in text mode, every LF as CR LF;
// turned back here, so that one expectation serves both hosts.
std::string console_text(const std::string& text) {
    if (!windows_target()) return text;
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') out += text[i];
    }
    return out;
}

NameList command_line(const NameList& args, bool dump) {
    const std::string exe = dump ? env_or("VORNADUMP_EXE", VORNADUMP_EXE) : env_or("VORNA_EXE", VORNA_EXE);
    if (exe.empty()) {
        throw std::runtime_error(dump ? "no vornadump to test: set VORNADUMP_EXE" : "no program to test: set VORNA_EXE");
    }
    NameList argv = split_blanks(env_or("VORNA_RUNNER", ""));
    if (!argv.empty()) {
        argv[0] = resolve_program(argv[0]);
    }
    argv.push_back(resolve_program(exe));
    for (const std::string& arg : args) {
        argv.push_back(for_program(arg));
    }
    return argv;
}

// The test's environment, less the removed names, plus the overrides.
NameList child_environment(const EnvMap& overrides, const NameList& unset) {
    NameList env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string key = text.substr(0, text.find('='));
        const bool dropped = overrides.count(key) != 0 || key == "SOURCE_DATE_EPOCH" ||
                             std::find(unset.begin(), unset.end(), key) != unset.end();
        if (!dropped) {
            env.push_back(text);
        }
    }
    for (const auto& [key, value] : overrides) {
        const bool read_as_name = key == "TMP" || key == "VORNA";
        env.push_back(key + "=" + (read_as_name ? for_program(value) : value));
    }
    if (windows_target()) {
        pass_tmp_to_wine(env);
    }
    return env;
}

std::vector<char*> c_strings(NameList& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) {
        out.push_back(s.data());
    }
    out.push_back(nullptr);
    return out;
}

// In the forked child: only async-signal-safe calls from here to execve. A failed
// step sends (step, errno) to the parent through the close-on-exec pipe.
[[noreturn]] void child_give_up(int report_fd, int step) {
    const int report[2] = {step, errno};
    (void)!::write(report_fd, report, sizeof report);
    ::_exit(127);
}

// Opens `file` as descriptor `target` (not inherited twice).
bool child_redirect(const char* file, int flags, int target) {
    const int fd = ::open(file, flags | O_CLOEXEC, 0644);
    return fd >= 0 && ::dup2(fd, target) >= 0;
}

[[noreturn]] void child_exec(const char* cwd, const char* out, const char* err,
                             char* const argv[], char* const envp[], int report_fd) {
    // Signals ignored or blocked by the test process would be inherited.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) {
        ::sigaction(sig, &dfl, nullptr);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    const int create = O_WRONLY | O_CREAT | O_TRUNC;
    if (::chdir(cwd) != 0) child_give_up(report_fd, 1);
    if (!child_redirect("/dev/null", O_RDONLY, 0)) child_give_up(report_fd, 2);
    if (!child_redirect(out, create, 1)) child_give_up(report_fd, 3);
    if (!child_redirect(err, create, 2)) child_give_up(report_fd, 4);
    ::execve(argv[0], argv, envp);
    child_give_up(report_fd, 5);
}

const char* child_step_name(int step) {
    switch (step) {
    case 1: return "chdir";
    case 2: return "opening /dev/null";
    case 3: return "creating the stdout capture";
    case 4: return "creating the stderr capture";
    default: return "execve";
    }
}

std::string read_all(const fs::path& file) {
    const qob::ByteVec data = qob::read_file(file);
    return std::string(data.begin(), data.end());
}

int decode_status(int raw) {
    if (WIFEXITED(raw)) {
        return WEXITSTATUS(raw);
    }
    return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

// Reaps the child and returns its raw wait status.
int reap(pid_t pid) {
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0) {
        if (errno != EINTR) fail_errno("waitpid");
    }
    return raw;
}

// True when the child has ended; it is left to be reaped by wait().
bool has_ended(pid_t pid) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        return errno != EINTR;
    }
    return info.si_pid != 0;
}

void pause_briefly() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Writes all of `data` to a non-blocking pipe; stops early when the reader has
// gone (the program ended) or the deadline passed.
void write_pipe(int fd, const qob::ByteVec& data, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < data.size() && Clock::now() < deadline) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        if ((p.revents & (POLLERR | POLLHUP)) != 0) return;
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (errno != EAGAIN && errno != EINTR) {
            return;
        }
    }
}

}  // namespace

std::string hex(const qob::ByteVec& bytes) {
    std::string out;
    char buf[32];
    const bool lines = bytes.size() > 16;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (lines && i % 16 == 0) {
            std::snprintf(buf, sizeof buf, "%s%04zX:", i == 0 ? "" : "\n", i);
            out += buf;
        }
        std::snprintf(buf, sizeof buf, "%s%02X", (i == 0 && !lines) ? "" : " ", bytes[i]);
        out += buf;
    }
    return out;
}

// ---- fixture life cycle ----

void E2E::SetUp() {
    // Writing to a pipe whose reader has ended must not kill the test binary.
    std::signal(SIGPIPE, SIG_IGN);
    std::string pattern = (fs::temp_directory_path() / "vorna-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) fail_errno("mkdtemp");
    root_ = pattern;
    work_ = root_ / "work";
    fs::create_directory(work_);
}

void E2E::TearDown() {
    reap_leftovers();
    if (root_.empty()) return;
    if (std::getenv("VORNA_KEEP") != nullptr) {
        std::cerr << "kept test directory " << root_.string() << '\n';
        return;
    }
    std::error_code ec;
    fs::remove_all(root_, ec);
}

// A test that spawned and never waited must not leave a process running.
void E2E::reap_leftovers() {
    for (const auto& [pid, capture] : running_) {
        ::kill(pid, SIGKILL);
        reap(pid);
        ADD_FAILURE() << "process " << pid << " was spawned but never waited for";
    }
    running_.clear();
}

// ---- running the program ----

RunResult E2E::run(const NameList& args, const EnvMap& env_overrides,
                   const NameList& env_unset) {
    return wait(spawn(args, env_overrides, env_unset));
}

RunResult E2E::run_dump(const NameList& args) const {
    return wait_for(spawn_program(true, args, {}, {"TMP", "VORNA"}));
}

pid_t E2E::spawn(const NameList& args, const EnvMap& env_overrides,
                 const NameList& env_unset) {
    return spawn_program(false, args, env_overrides, env_unset);
}

pid_t E2E::spawn_program(bool dump, const NameList& args, const EnvMap& env_overrides,
                         const NameList& env_unset) const {
    NameList argv_strings = command_line(args, dump);
    NameList env_strings = child_environment(env_overrides, env_unset);
    std::vector<char*> argv = c_strings(argv_strings);
    std::vector<char*> envp = c_strings(env_strings);
    ++runs_;
    const Capture capture{root_ / ("run" + std::to_string(runs_) + ".out"),
                          root_ / ("run" + std::to_string(runs_) + ".err")};
    const std::string cwd = work_.string();

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) fail_errno("pipe2");
    const pid_t pid = ::fork();
    if (pid < 0) fail_errno("fork");
    if (pid == 0) {
        child_exec(cwd.c_str(), capture.out.c_str(), capture.err.c_str(), argv.data(),
                   envp.data(), report[1]);
    }
    ::close(report[1]);
    int failure[2] = {0, 0};
    ssize_t got;
    do {
        got = ::read(report[0], failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got > 0) {
        reap(pid);
        throw std::runtime_error(std::string("cannot start ") + argv_strings[0] + ": " +
                                 child_step_name(failure[0]) + ": " +
                                 std::strerror(failure[1]));
    }
    running_[pid] = capture;
    return pid;
}

bool E2E::wait_for_output(pid_t pid, const std::string& text) const {
    const auto found = running_.find(pid);
    if (found == running_.end()) throw std::logic_error("wait_for_output() for a process that spawn() did not start");
    const auto deadline = Clock::now() + run_timeout();
    while (Clock::now() < deadline) {
        if (console_text(read_all(found->second.out)).find(text) != std::string::npos) return true;
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
            return console_text(read_all(found->second.out)).find(text) != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

RunResult E2E::wait(pid_t pid) { return wait_for(pid); }

RunResult E2E::wait_for(pid_t pid) const {
    const auto found = running_.find(pid);
    if (found == running_.end()) {
        throw std::logic_error("wait() for a process that spawn() did not start");
    }
    const Capture capture = found->second;
    running_.erase(found);

    const auto deadline = Clock::now() + run_timeout();
    auto pause = std::chrono::microseconds(100);
    int raw = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &raw, WNOHANG)) == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(5000));
    }
    if (done < 0) fail_errno("waitpid");
    if (done == 0) {
        ::kill(pid, SIGKILL);
        raw = reap(pid);
        ADD_FAILURE() << "program did not end within " << run_timeout().count()
                      << " s and was killed (VORNA_TIMEOUT sets the limit)";
    }
    return RunResult{decode_status(raw), console_text(read_all(capture.out)),
                     console_text(read_all(capture.err))};
}

void E2E::interrupt(pid_t pid) const {
    if (::kill(pid, SIGINT) != 0) fail_errno("kill");
}

bool E2E::wait_until_catching(pid_t pid, int signo) const {
    const auto deadline = Clock::now() + run_timeout();
    const std::string status_file = "/proc/" + std::to_string(pid) + "/status";
    const unsigned long long bit = 1ULL << (signo - 1);
    while (!has_ended(pid) && Clock::now() < deadline) {
        std::ifstream in(status_file);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("SigCgt:", 0) == 0 &&
                (std::stoull(line.substr(7), nullptr, 16) & bit) != 0) {
                return true;
            }
        }
        pause_briefly();
    }
    return false;
}

RunResult E2E::run_interrupted(const NameList& args, const std::string& fifo,
                               const qob::ByteVec& head, const qob::ByteVec& tail,
                               const EnvMap& env_overrides, const NameList& env_unset) {
    make_fifo(fifo);
    const pid_t pid = spawn(args, env_overrides, env_unset);
    const auto deadline = Clock::now() + run_timeout();
    // Opening the write end without blocking succeeds only once a reader has it open.
    int fd = -1;
    while ((fd = ::open(path(fifo).c_str(), O_WRONLY | O_NONBLOCK)) < 0) {
        if (errno != ENXIO && errno != EINTR) fail_errno("opening " + fifo);
        if (has_ended(pid)) {
            ADD_FAILURE() << "program ended without opening " << fifo;
            return wait(pid);
        }
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ADD_FAILURE() << "program never opened " << fifo;
            return wait(pid);
        }
        pause_briefly();
    }
    write_pipe(fd, head, deadline);
    interrupt(pid);
    write_pipe(fd, tail, deadline);
    ::close(fd);
    return wait(pid);
}

// ---- files of the working directory ----

std::string E2E::path(const std::string& name) const {
    return (work_ / name).string();
}

void E2E::write(const std::string& name, const qob::ByteVec& bytes) const {
    const fs::path file = work_ / name;
    fs::create_directories(file.parent_path());
    qob::write_file(file, bytes);
}

void E2E::write_text(const std::string& name, std::string_view text) const {
    write(name, qob::ByteVec(text.begin(), text.end()));
}

qob::ByteVec E2E::read(const std::string& name) const {
    return qob::read_file(work_ / name);
}

std::string E2E::read_text(const std::string& name) const {
    return read_all(work_ / name);
}

bool E2E::exists(const std::string& name) const {
    std::error_code ec;
    return fs::exists(fs::symlink_status(work_ / name, ec));
}

void E2E::make_fifo(const std::string& name) const {
    if (::mkfifo(path(name).c_str(), 0644) != 0) fail_errno("mkfifo " + name);
}

void E2E::set_mtime(const std::string& name, int year, int month, int day, int hour,
                    int minute, int second) const {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;  // let the time zone rules decide
    const std::time_t when = std::mktime(&local);
    if (when == static_cast<std::time_t>(-1)) {
        throw std::runtime_error("time cannot be represented: " + name);
    }
    set_mtime(name, when);
}

void E2E::set_mtime(const std::string& name, std::time_t when) const {
    const timespec times[2] = {{when, 0}, {when, 0}};
    if (::utimensat(AT_FDCWD, path(name).c_str(), times, 0) != 0) {
        fail_errno("utimensat " + name);
    }
}

NameList E2E::list_dir() const {
    NameList names;
    for (const fs::directory_entry& entry : fs::directory_iterator(work_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool windows_target() {
    const char* target = std::getenv("VORNA_TARGET");
    return target != nullptr && std::string(target) == "windows";
}
