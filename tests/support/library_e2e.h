// End-to-end fixture for the commands that rewrite a library: writing
// modules, running a command on a library, and the checks that every such
// run shares (the library parsed back, the count lines, no working file left).

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/library_view.h"
#include "support/qob_writer.h"

// A module of format VER.A whose one F4 record (block 1) defines `publics`,
// with values 0x100, 0x101, ... in the order given.
qob::Module defining(const std::vector<std::string>& publics);

// The two lines that end every successful run.
std::string count_lines(int modules, int symbols);

class LibraryE2E : public E2E {
protected:
    void write_module(const std::string& name, const qob::Module& module) const;

    // Runs `-a -o <library> -f <files>`; `options` replaces "-a" (say "-av").
    RunResult append(const std::string& library, const NameList& files,
                     const std::string& options = "-a", const EnvMap& env = {});

    // The library file `name` taken apart; the test fails when it does not
    // parse, or when vornadump --check finds a rule of the format broken.
    lib::Library library(const std::string& name) const;
    // Cleared by a test whose libraries break a rule of the format on purpose.
    bool check_libraries_ = true;

    // Working files (.$$1, .$$2, .$$3) left in the working directory or in `sub`.
    NameList working_files(const std::string& sub = "") const;
};
