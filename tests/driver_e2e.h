// Shared pieces of the end-to-end tests of the command driver: the texts the
// program writes to standard error and a fixture that builds libraries with
// the program itself.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/harness.h"
#include "support/library_e2e.h"
#include "support/qob_writer.h"

namespace drv {

inline const std::string kBannerLine = "Varn Family LIBRARY MANAGER V.4.00.00\n";

inline const std::string kUsage =
    "Usage: A>VORNA -[ardxluv]o <filename> [-f <filename> ...]\n\n"
    "       -o : library file name\n"
    "       -f : relocatable file names\n"
    "       -a : append command\n"
    "       -r : replace command\n"
    "       -d : delete command\n"
    "       -x : extract command\n"
    "       -l : listout command\n"
    "       -u : update check (option)\n"
    "       -v : verbose (option)\n";

// The directory separator a test types in names and environment values.
inline std::string sep() { return windows_target() ? "\\" : "/"; }

// Standard error after the banner (its first line and two notice lines);
// fails the test when the banner does not come first.
inline std::string after_banner(const std::string& err) {
    EXPECT_TRUE(err.starts_with(kBannerLine)) << err;
    std::size_t pos = 0;
    for (int line = 0; line < 3 && pos != std::string::npos; ++line) {
        pos = err.find('\n', pos);
        if (pos != std::string::npos) ++pos;
    }
    return pos == std::string::npos ? std::string() : err.substr(pos);
}

// A failed run: its message on standard output, nothing on standard error
// but the banner and the bell.
inline void expect_failure(const RunResult& r, int status, const std::string& out) {
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(after_banner(r.err), "\a");
}

// The usage error: the usage text and the bell on standard error, exit status 2.
inline void expect_usage(const RunResult& r) {
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(after_banner(r.err), kUsage + "\a");
}

// A fixture whose tests build their libraries with the program's own append.
class DriverE2E : public LibraryE2E {
protected:
    // Writes module files NAME.QOB, each defining the public symbol SYM_NAME,
    // with a fixed time so that table entries do not depend on the clock.
    void write_modules(const NameList& names) const {
        for (const std::string& name : names) {
            write_module(name + ".QOB", defining({"SYM_" + name}));
            set_mtime(name + ".QOB", 2024, 5, 6, 7, 8, 9);
        }
    }

    // Appends the modules to the library and checks that this succeeded.
    void make_library(const std::string& lib, const NameList& names, const EnvMap& env = {}) {
        write_modules(names);
        const RunResult r = append(lib, names, "-a", env);
        ASSERT_EQ(r.status, 0) << r.out;
    }

    // The working files (.$$1, .$$2, .$$3) in the working directory or in `sub`, sorted.
    NameList work_files(const std::string& sub = "") const {
        NameList found = working_files(sub);
        std::sort(found.begin(), found.end());
        return found;
    }

    void remove(const std::string& name) const { std::filesystem::remove(path(name)); }
    void make_dir(const std::string& name) const { std::filesystem::create_directories(path(name)); }
};

}  // namespace drv
