// End-to-end tests of the Windows build, vorna.exe, as .ci/windows.sh runs it
// under Wine (VORNA_TARGET=windows); elsewhere they are skipped.
//
// They cover what the Windows host does differently: text files end their
// lines with CR LF, the new library is put in place through the handle that
// holds it (the old one becoming the backup), only '\' and ':' separate
// directories in names, paths may pass 260 characters and hold any script,
// and module names are kept in the ANSI code page (1252 under the Wine of
// .ci/windows.sh). The libraries and listings it writes are compared with
// those of the POSIX build, named by VORNA_NATIVE_EXE, run on the same files.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/harness.h"
#include "support/library_e2e.h"
#include "support/library_view.h"
#include "support/qob_writer.h"

namespace {

using qob::ByteVec;
using qob::Module;

// A module with public, EQU and BIT symbols, an external, a descriptor and
// code, so that every part of a table entry is written.
ByteVec full_module(const std::string& p, unsigned char data) {
    return Module()
        .f0()
        .f1(p + "_SOURCE")
        .f3(1, p + "_CODE", 1, 2, 0x10, 0x200)
        .f4(1, {{0x100, p + "_P1"}, {0x102, p + "_P2"}})
        .f5({{0x12345678, p + "_E"}})
        .e0({{3, 0x20, p + "_B"}})
        .f6({p + "_X"})
        .f8(1, {ByteVec(3, data)})
        .end()
        .bytes();
}

// Sets an environment variable for the life of the object, or removes it.
class EnvScope {
public:
    EnvScope(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        set(value);
    }
    ~EnvScope() { set(saved_); }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

private:
    void set(const std::optional<std::string>& value) const {
        if (value) {
            ::setenv(name_, value->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

    const char* name_;
    std::optional<std::string> saved_;
};

class WindowsTest : public LibraryE2E {
protected:
    void SetUp() override {
        if (!windows_target()) {
            GTEST_SKIP() << "for the Windows build (VORNA_TARGET=windows)";
        }
        LibraryE2E::SetUp();
    }

    // Writes the modules NAME.QOB with a fixed time, so that the table
    // entries do not depend on the clock.
    void write_modules(const NameList& names, unsigned char data = 1) const {
        for (const std::string& name : names) {
            write(name + ".QOB", full_module(name, data++));
            set_mtime(name + ".QOB", 2024, 5, 6, 7, 8, 9);
        }
    }

    void expect_no_work_files() const { EXPECT_EQ(working_files(), NameList{}); }
};

// The tests that run the POSIX build too.
class AgainstNative : public WindowsTest {
protected:
    void SetUp() override {
        WindowsTest::SetUp();
        if (IsSkipped()) return;
        const char* native = std::getenv("VORNA_NATIVE_EXE");
        if (native == nullptr || *native == '\0') {
            GTEST_SKIP() << "VORNA_NATIVE_EXE names no POSIX build to compare with";
        }
        native_ = native;
    }

    // Runs the POSIX build in the same working directory: for the harness it
    // is then the program under test, on its own host.
    RunResult run_native(const NameList& args) {
        const EnvScope exe("VORNA_EXE", native_);
        const EnvScope runner("VORNA_RUNNER", std::nullopt);
        const EnvScope target("VORNA_TARGET", std::nullopt);
        return run(args);
    }

private:
    std::string native_;
};

// `args` with every "LIB" replaced by `lib`.
NameList on_library(const NameList& args, const std::string& lib) {
    NameList out = args;
    for (std::string& arg : out) {
        if (arg == "LIB") arg = lib;
    }
    return out;
}

TEST_F(AgainstNative, LibrariesAreTheSameBytes) {
    write_modules({"A", "B", "C", "D"});
    // Before the replace, B.QOB gets new contents and a later time, so that -u takes it.
    const std::vector<NameList> steps = {
        {"-a", "-o", "LIB", "-f", "A", "B"},
        {"-a", "-o", "LIB", "-f", "C", "D"},
        {"-ru", "-o", "LIB", "-f", "B"},
        {"-d", "-o", "LIB", "-f", "C.QOB", "A.QOB"},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        if (i == 2) {
            write("B.QOB", full_module("NEWB", 7));
            set_mtime("B.QOB", 2030, 1, 2, 3, 4, 5);
        }
        const RunResult win = run(on_library(steps[i], "WIN"));
        ASSERT_EQ(win.status, 0) << win.out;
        const RunResult native = run_native(on_library(steps[i], "NAT"));
        ASSERT_EQ(native.status, 0) << native.out;
        EXPECT_EQ(hex(read("WIN.LIB")), hex(read("NAT.LIB")));
        if (i > 0) {
            EXPECT_EQ(hex(read("WIN.BAK")), hex(read("NAT.BAK")));
        }
    }
    EXPECT_EQ(lib::inconsistencies(library("WIN.LIB")), "");
    EXPECT_EQ(library("WIN.LIB").header.modules, 2u);
    expect_no_work_files();
}

// The page headers name the time of the run, which two runs need not share.
std::string without_run_times(std::string listing) {
    const std::string mark = " date ";
    const std::size_t stamp = std::string("2026-Dec-08 12:08").size();
    for (std::size_t at = listing.find(mark); at != std::string::npos;
         at = listing.find(mark, at + 1)) {
        listing.replace(at + mark.size(), stamp, std::string(stamp, '#'));
    }
    return listing;
}

std::string with_crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

TEST_F(AgainstNative, ListingIsTheNativeOneWithCrLfLineEnds) {
    write_modules({"A", "B", "C"});
    ASSERT_EQ(append("LIB", {"A", "B", "C"}).status, 0);
    set_mtime("LIB.LIB", 2025, 11, 12, 13, 14, 15);

    const RunResult native = run_native({"-l", "-o", "LIB"});
    ASSERT_EQ(native.status, 0) << native.out;
    std::filesystem::rename(path("LIB.LST"), path("NATIVE.LST"));
    const RunResult win = run({"-l", "-o", "LIB"});
    ASSERT_EQ(win.status, 0) << win.out;
    EXPECT_EQ(win.out, native.out);

    const std::string listing = read_text("LIB.LST");
    EXPECT_NE(listing.find("\r\n"), std::string::npos);
    EXPECT_EQ(without_run_times(listing), without_run_times(with_crlf(read_text("NATIVE.LST"))));
}

TEST_F(WindowsTest, AppendMakesTheOldLibraryTheBackup) {
    write_modules({"A", "B"});
    ASSERT_EQ(append("LIB", {"A"}).status, 0);
    EXPECT_FALSE(exists("LIB.BAK")) << "a new library has no backup";
    const ByteVec old = read("LIB.LIB");
    write_text("LIB.BAK", "a stale backup");

    const RunResult r = append("LIB", {"B"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, count_lines(2, 10));
    EXPECT_EQ(read("LIB.BAK"), old);
    EXPECT_EQ(library("LIB.LIB").header.modules, 2u);
    expect_no_work_files();
}

TEST_F(WindowsTest, FailedReplacementLeavesTheOldLibrary) {
    write_modules({"A", "B"});
    ASSERT_EQ(append("LIB", {"A"}).status, 0);
    const ByteVec old = read("LIB.LIB");
    // A backup name that can be neither removed nor replaced.
    write_text("LIB.BAK/KEEP", "kept");

    const RunResult r = append("LIB", {"B"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "\nCan't open <LIB.LIB>\n");
    EXPECT_EQ(read("LIB.LIB"), old);
    EXPECT_EQ(read_text("LIB.BAK/KEEP"), "kept");
    expect_no_work_files();
}

TEST_F(WindowsTest, OnlyBackslashAndColonEndTheDirectory) {
    write("SUB/X.QOB", full_module("X", 1));
    write("SUB/Y.QOB", full_module("Y", 2));
    write("Z.QOB", full_module("Z", 3));
    // Wine's drive Z: is the Unix root, and so holds the current directory.
    const RunResult r = append("LIB", {"SUB/X.QOB", "SUB\\Y.QOB", "Z:Z.QOB"});
    ASSERT_EQ(r.status, 0) << r.out;
    const lib::Library stored = library("LIB.LIB");
    ASSERT_EQ(stored.entries.size(), 3u);
    EXPECT_EQ(stored.entries[0].name, "SUB/X.QOB");
    EXPECT_EQ(stored.entries[1].name, "Y.QOB");
    EXPECT_EQ(stored.entries[2].name, "Z.QOB");

    // The module is found by its whole name, and still written into the
    // current directory only.
    const RunResult by_base = run({"-d", "-o", "LIB", "-f", "X.QOB"});
    EXPECT_EQ(by_base.status, 1);
    EXPECT_EQ(by_base.out, "\n<X.QOB>module is not in the library\n");
    const RunResult extract = run({"-x", "-o", "LIB", "-f", "SUB/X.QOB"});
    ASSERT_EQ(extract.status, 0) << extract.out;
    EXPECT_EQ(read("X.QOB"), full_module("X", 1));
}

TEST_F(WindowsTest, TmpGetsABackslashAppended) {
    write_modules({"A"});
    std::filesystem::create_directory(path("T"));
    for (const std::string& tmp : {std::string("T"), std::string("T\\"), path("T")}) {
        SCOPED_TRACE(tmp);
        // The trace flag keeps the working files of a failed run.
        const RunResult r = append("LIB", {"A", "MISSING"}, "-ak", {{"TMP", tmp}});
        EXPECT_EQ(r.status, 3);
        NameList kept = working_files("T");
        std::sort(kept.begin(), kept.end());
        EXPECT_EQ(kept, NameList({"LIB.$$1", "LIB.$$2"}));
        expect_no_work_files();
        for (const std::string& name : kept) {
            std::filesystem::remove(path("T/" + name));
        }
    }
}

// The name a test gives as the Windows program sees it: an absolute one on
// Wine's drive Z:, every '/' a '\'.
std::string windows_name(const std::string& name) {
    std::string out = name.starts_with("/") ? "Z:" + name : name;
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

// UTF-8 text as code page 1252 shows it: the characters of Latin-1 (less
// the C1 controls, which 1252 gives other characters) as their byte, any
// other as '?'. The names of these tests hold no other characters of 1252.
std::string in_1252(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        unsigned code = length == 1 ? c : c & (0x3F >> (length - 1));
        for (std::size_t k = 1; k < length; ++k) {
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        out += code < 0x80 || (code >= 0xA0 && code <= 0xFF) ? static_cast<char>(code) : '?';
        i += length;
    }
    return out;
}

// Past 260 characters below the working directory, in six directories.
std::string deep_dir() {
    std::string dir;
    for (char c = '1'; c <= '6'; ++c) {
        dir += (dir.empty() ? "" : "/") + std::string(50, c);
    }
    return dir;
}

// Where the library and its modules lie, and how the program is told of
// them: by absolute names, by absolute names in the \\?\ form, by names
// relative to the working directory, or the library by its base name alone,
// found through VORNA. TMP always points to the same directory.
enum class Named { kAbsolute, kLongForm, kRelative, kThroughVorna };

struct Place {
    const char* label;
    std::string dir;  // below the working directory
    Named named;
};

void PrintTo(const Place& place, std::ostream* os) { *os << place.label; }

class EveryCommandThere : public WindowsTest, public ::testing::WithParamInterface<Place> {
protected:
    // A file of the place as the test names it for the program.
    std::string arg(const std::string& file) const {
        const Place& p = GetParam();
        switch (p.named) {
        case Named::kRelative: return windows_name(p.dir + "/" + file);
        case Named::kLongForm: return "\\\\?\\" + windows_name(path(p.dir + "/" + file));
        default: return path(p.dir + "/" + file);
        }
    }
    std::string lib_arg() const { return GetParam().named == Named::kThroughVorna ? "LIB" : arg("LIB"); }
    // The library and its listing, relative to the working directory.
    std::string lib_file() const { return GetParam().dir + "/LIB.LIB"; }
    std::string listing() const {
        return GetParam().named == Named::kThroughVorna ? "LIB.LST" : GetParam().dir + "/LIB.LST";
    }
    EnvMap env() const {
        EnvMap e{{"TMP", path(GetParam().dir)}};
        if (GetParam().named == Named::kThroughVorna) e["VORNA"] = path(GetParam().dir);
        return e;
    }
    RunResult vorna(const std::string& options, const NameList& files = {}) {
        NameList args{options, "-o", lib_arg()};
        if (!files.empty()) args.push_back("-f");
        for (const std::string& f : files) args.push_back(arg(f));
        return run(args, env());
    }
    NameList stored_names() const {
        NameList names;
        for (const lib::Entry& e : library(lib_file()).entries) names.push_back(e.name);
        return names;
    }
    void expect_no_work_files_left() const {
        expect_no_work_files();
        EXPECT_EQ(working_files(GetParam().dir), NameList{});
    }
};

TEST_P(EveryCommandThere, WorksOnTheLibraryAndItsFiles) {
    const std::string& dir = GetParam().dir;
    for (const char* name : {"A", "B", "C"}) {
        write(dir + "/" + std::string(name) + ".QOB", full_module(name, static_cast<unsigned char>(name[0])));
    }
    // The console shows the name as code page 1252 can.
    const std::string created = "<" + in_1252(windows_name(lib_arg())) + ".LIB> CREATE\n";
    RunResult r = vorna("-a", {"A", "B"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, created + count_lines(2, 10));
    r = vorna("-a", {"C"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(stored_names(), NameList({"A.QOB", "B.QOB", "C.QOB"}));
    EXPECT_EQ(library(dir + "/LIB.BAK").entries.size(), 2u);

    write(dir + "/B.QOB", full_module("NEWB", 9));
    r = vorna("-r", {"B"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(library(lib_file()).bodies[1], full_module("NEWB", 9));
    r = vorna("-d", {"A"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(stored_names(), NameList({"B.QOB", "C.QOB"}));
    expect_no_work_files_left();

    r = vorna("-l");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(read_text(listing()).find("Module_name: C.QOB"), std::string::npos);
    // Extract writes into the working directory, by the stored names or as named.
    r = vorna("-x");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read("B.QOB"), full_module("NEWB", 9));
    std::filesystem::remove(path("C.QOB"));
    r = vorna("-xv", {"C"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "EXTRACT FILE = C.QOB\n" + count_lines(2, 10));
    EXPECT_EQ(read("C.QOB"), full_module("C", 'C'));
}

INSTANTIATE_TEST_SUITE_P(
    Places, EveryCommandThere,
    ::testing::Values(Place{"DeepAbsolute", deep_dir(), Named::kAbsolute},
                      Place{"DeepRelative", deep_dir(), Named::kRelative},
                      Place{"DeepInLongForm", deep_dir(), Named::kLongForm},
                      Place{"DeepThroughVorna", deep_dir(), Named::kThroughVorna},
                      // Outside the ANSI code page, and inside it but not ASCII.
                      Place{"OtherScripts", "日本語/Café", Named::kAbsolute},
                      Place{"OtherScriptsRelative", "日本語/Café", Named::kRelative},
                      Place{"OtherScriptsThroughVorna", "日本語/Café", Named::kThroughVorna}),
    [](const ::testing::TestParamInfo<Place>& info) { return std::string(info.param.label); });

TEST_F(WindowsTest, ModuleNamesKeepTheBytesOfTheAnsiCodePage) {
    write_modules({"A"});
    write("Café.QOB", full_module("CAFE", 2));
    ASSERT_EQ(append("LIB", {"A", "Café"}).status, 0);
    EXPECT_EQ(library("LIB.LIB").entries[1].name, "Caf\xE9.QOB");
    const RunResult list = run({"-l", "-o", "LIB"});
    ASSERT_EQ(list.status, 0) << list.out;
    EXPECT_NE(read_text("LIB.LST").find("Module_name: Caf\xE9.QOB"), std::string::npos);
    // The listing shows the library's name in the same code page.
    std::filesystem::copy_file(path("LIB.LIB"), path("Café.LIB"));
    ASSERT_EQ(run({"-l", "-o", "Café"}).status, 0);
    EXPECT_NE(read_text("Café.LST").find("Library file name:       CAF\xE9.LIB\r\n"), std::string::npos);
    std::filesystem::remove(path("Café.QOB"));
    const RunResult extract = run({"-x", "-o", "LIB"});
    ASSERT_EQ(extract.status, 0) << extract.out;
    EXPECT_EQ(read("Café.QOB"), full_module("CAFE", 2));

    // A base name that the code page cannot hold is refused, and the library
    // stays as it was; a name given for a module is compared in that code page.
    write("日本.QOB", full_module("J", 3));
    const qob::ByteVec before = read("LIB.LIB");
    const RunResult refused = append("LIB", {"日本"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "\nInvarid module or library ??.QOB\n");
    EXPECT_EQ(read("LIB.LIB"), before);
    expect_no_work_files();
    const RunResult missing = run({"-d", "-o", "LIB", "-f", "日本"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "\n<??.QOB>module is not in the library\n");
    const RunResult deleted = run({"-dv", "-o", "LIB", "-f", "CAFé"});
    ASSERT_EQ(deleted.status, 0) << deleted.out;
    EXPECT_EQ(deleted.out, "DELETE FILE = CAF\xE9.QOB\n" + count_lines(1, 5));
}

// A command file as an editor, PowerShell or an older build wrote it, with
// the modules it names.
struct CommandFile {
    const char* label;
    std::string text;
    NameList modules;
};

void PrintTo(const CommandFile& file, std::ostream* os) { *os << file.label; }

class CommandFileNames : public WindowsTest, public ::testing::WithParamInterface<CommandFile> {};

TEST_P(CommandFileNames, NameFilesAsTheCommandLineDoes) {
    // Module X holds the data byte X - 'A' + 1.
    const std::pair<const char*, const char*> files[] = {
        {"日本語/My Projects/A.QOB", "A"}, {"日本語/My Projects/B.QOB", "B"},
        {"Café/C.QOB", "C"}, {"Café/with blank/D.QOB", "D"}};
    for (const auto& [file, module] : files) {
        write(file, full_module(module, static_cast<unsigned char>(module[0] - 'A' + 1)));
    }
    write_text("MODULES.RSP", GetParam().text);
    const RunResult r = run({"-a", "-o", "LIB", "-f", "@MODULES.RSP"});
    ASSERT_EQ(r.status, 0) << r.out;
    const lib::Library stored = library("LIB.LIB");
    ASSERT_EQ(stored.entries.size(), GetParam().modules.size());
    for (std::size_t i = 0; i < stored.entries.size(); ++i) {
        const std::string& name = GetParam().modules[i];
        EXPECT_EQ(stored.entries[i].name, name);
        EXPECT_EQ(stored.bodies[i], full_module(name.substr(0, 1), static_cast<unsigned char>(name[0] - 'A' + 1)));
    }
}

const std::string kUtf8Lines = "\"日本語\\My Projects\\A\" \"日本語\\My Projects\\B.QOB\"\r\nCafé\\C\r\n";

INSTANTIATE_TEST_SUITE_P(
    Encodings, CommandFileNames,
    ::testing::Values(CommandFile{"Utf8", kUtf8Lines, {"A.QOB", "B.QOB", "C.QOB"}},
                      CommandFile{"Utf8WithByteOrderMark", "\xEF\xBB\xBF" + kUtf8Lines, {"A.QOB", "B.QOB", "C.QOB"}},
                      // Not UTF-8: read in the ANSI code page.
                      CommandFile{"Ansi", "Caf\xE9\\C \"Caf\xE9\\with blank\\D\"\r\n", {"C.QOB", "D.QOB"}}),
    [](const ::testing::TestParamInfo<CommandFile>& info) { return std::string(info.param.label); });

// Under code page 932 (Japanese) the second byte of a character may be an
// ASCII letter or a '\'. .ci/windows.sh makes the locale that gives Wine
// that code page and names its directory in VORNA_JA_LOCPATH.
TEST_F(WindowsTest, ModuleNamesInACodePageOfTwoBytes) {
    const char* locales = std::getenv("VORNA_JA_LOCPATH");
    if (locales == nullptr || *locales == '\0') {
        GTEST_SKIP() << "no ja_JP.UTF-8 locale (VORNA_JA_LOCPATH)";
    }
    const EnvMap japanese{{"LOCPATH", locales}, {"LC_ALL", "ja_JP.UTF-8"}};
    write("ア.QOB", full_module("A", 1));   // 83 41
    write("ソ.QOB", full_module("SO", 2));  // 83 5C, a '\' as its second byte
    RunResult r = append("LIB", {"ア", "ソ"}, "-a", japanese);
    ASSERT_EQ(r.status, 0) << r.out;
    const lib::Library stored = library("LIB.LIB");
    ASSERT_EQ(stored.entries.size(), 2u);
    EXPECT_EQ(stored.entries[0].name, "\x83\x41.QOB");
    EXPECT_EQ(stored.entries[1].name, "\x83\x5C.QOB");

    // ヂ (83 61) differs from ア only in the case of a byte that is no letter.
    r = run({"-d", "-o", "LIB", "-f", "ヂ"}, japanese);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\n<\x83\x61.QOB>module is not in the library\n");
    std::filesystem::remove(path("ソ.QOB"));
    r = run({"-x", "-o", "LIB"}, japanese);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read("ソ.QOB"), full_module("SO", 2));

    // No look-alike stands in for a character that code page 932 lacks.
    write("Café.QOB", full_module("CAFE", 3));
    r = append("LIB", {"Café"}, "-a", japanese);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\nInvarid module or library Caf?.QOB\n");
}

}  // namespace
