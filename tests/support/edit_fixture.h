// Support for the end-to-end tests of the editing commands (extract, delete,
// replace): sample modules, libraries made by the program's own append or
// crafted byte by byte, and the check that a refused run left everything as
// it was.

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/library_e2e.h"
#include "support/library_view.h"
#include "support/qob_writer.h"

namespace edit {

using qob::ByteVec;

// A file to append: its name and its bytes.
using ModFile = std::pair<std::string, ByteVec>;

// A module with every record kind. Its global definitions are <p>_P1, <p>_P2
// (public), <p>_E (EQU) and <p>_B (BIT); it refers to the external <p>_X:
// 5 symbols in the library's count. It has two F7 and two F8 records.
ByteVec rich_module(const std::string& p);
// A small module: one public symbol `sym` (none when empty) and one
// contents block holding `data`, so that modules differ in their bytes.
ByteVec small_module(const std::string& sym, std::uint32_t data);

// The bytes of entry `e` of the library file `file`, with the three values
// only a commit knows (mod_offset, abs_f7, abs_f8) set to 0: what must
// survive a rewrite of the library unchanged.
ByteVec without_offsets(const ByteVec& file, const lib::Entry& e);

// A module of a hand-made library. The entry gets exactly the fixed records
// in the writer's order, with `after_f4` between F4 and F8 and `after_f8`
// between F8 and F9; entry_len and mod_size are the true ones unless given.
struct Crafted {
    std::string name;
    ByteVec body;
    std::optional<std::int32_t> entry_len;
    std::optional<std::int32_t> mod_size;
    ByteVec after_f4;
    ByteVec after_f8;
};
inline Crafted crafted(std::string name, ByteVec body) {
    return Crafted{std::move(name), std::move(body), std::nullopt, std::nullopt, {}, {}};
}
// A library laid out as the commit lays it out, with true body offsets.
ByteVec craft_library(const std::vector<Crafted>& modules, const std::string& format = "VER.A");

// Replaces the first occurrence of `from` by `to` (the same length).
ByteVec patched(ByteVec data, const std::string& from, const std::string& to);

// An error message as the program prints it: an empty line, then `line`.
inline std::string message(const std::string& line) { return "\n" + line + "\n"; }
inline std::string invalid(const std::string& detail) {
    return message("Invarid module or library " + detail);
}

inline ByteVec cat(ByteVec a, const ByteVec& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The directory separator of given names that every host takes.
inline std::string sep() { return "\\"; }
// A name given with '\' as the test itself writes the file.
std::string host_path(std::string name);

}  // namespace edit

// A fixture whose tests work on the library LIB.LIB of the working directory.
class EditTest : public LibraryE2E {
protected:
    static constexpr const char* kLib = "LIB.LIB";
    using Snapshot = std::vector<std::pair<std::string, qob::ByteVec>>;

    // Writes the files and appends them to LIB.LIB in this order.
    void make_library(const std::vector<edit::ModFile>& files);
    // Modules M000.QOB, M001.QOB, ... without symbols, each with contents of
    // its own.
    static std::string numbered_name(int i);
    static qob::ByteVec numbered_body(int i);
    // A library of `count` numbered modules; their files are removed again.
    void make_numbered_library(int count);
    // LIB.LIB taken apart; the test fails unless it is consistent.
    lib::Library parsed() const;
    // Runs `command` (such as "-x") on LIB.LIB with the given names.
    RunResult edit_run(const std::string& command, const NameList& names = {}, const EnvMap& env = {});
    // Every file of the working directory with its bytes.
    Snapshot snapshot() const;
    // A run that failed with `status` and printed exactly `out`, and left the
    // working directory as it was (`before`): the library byte for byte, no
    // working file, no output file, no backup.
    void expect_refused(const RunResult& r, int status, const std::string& out,
                        const Snapshot& before);
    void remove(const std::string& name) const;
};
