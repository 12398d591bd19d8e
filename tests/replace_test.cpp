// End-to-end tests of replace: a module takes the body, size, symbols,
// first-record positions and time of its new file while keeping its place
// and stored name; the update check replaces only strictly newer files; the
// duplicate check runs over the whole new table; and every refusal leaves
// the library as it was.

#include <algorithm>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/edit_fixture.h"

using edit::ByteVec;
using edit::cat;
using edit::invalid;
using edit::message;
using edit::sep;
using qob::Module;

namespace {

struct Stamp {
    int year, month, day, hour, minute, second;
};

// The time as the module table stores it.
std::array<std::uint32_t, 6> as_f9(const Stamp& t) {
    return {static_cast<std::uint32_t>(t.second), static_cast<std::uint32_t>(t.minute),
            static_cast<std::uint32_t>(t.hour),   static_cast<std::uint32_t>(t.day),
            static_cast<std::uint32_t>(t.month - 1), static_cast<std::uint32_t>(t.year - 1900)};
}

// The time of every file at append.
constexpr Stamp kStored{2023, 6, 15, 12, 30, 30};
constexpr Stamp kOlder{2020, 1, 2, 3, 4, 5};
constexpr Stamp kNewer{2023, 6, 16, 12, 30, 30};

std::string clash(const std::string& symbol, const std::string& module, const std::string& other) {
    return message("<" + symbol + ">is multiple defined in " + module + ". others is " + other);
}

}  // namespace

class ReplaceTest : public EditTest {
protected:
    static constexpr std::size_t kIo = 1;  // IO.QOB stands second

    // A.QOB (SA), IO.QOB (IO_OLD) and C.QOB (SC), all of time kStored.
    void SetUp() override {
        EditTest::SetUp();
        files_ = {{"A.QOB", edit::small_module("SA", 1)},
                  {"IO.QOB", edit::small_module("IO_OLD", 2)},
                  {"C.QOB", edit::small_module("SC", 3)}};
        NameList names;
        for (const auto& [name, bytes] : files_) {
            write_version(name, bytes, kStored);
            names.push_back(name);
        }
        const RunResult r = append(kLib, names);
        ASSERT_EQ(r.status, 0) << r.out;
        old_bytes_ = read(kLib);
        old_ = library(kLib);
    }

    void write_version(const std::string& name, const ByteVec& bytes, const Stamp& t) const {
        write(edit::host_path(name), bytes);
        set_mtime(edit::host_path(name), t.year, t.month, t.day, t.hour, t.minute, t.second);
    }

    // The entry that append makes of `file`, without its offsets.
    ByteVec appended_entry(const std::string& file) {
        const RunResult r = append("REF.LIB", {file});
        EXPECT_EQ(r.status, 0) << r.out;
        const ByteVec bytes = read("REF.LIB");
        remove("REF.LIB");
        return edit::without_offsets(bytes, lib::parse(bytes).entries.at(0));
    }

    // Module i of the library is still the old one: entry and body.
    void expect_unchanged(const lib::Library& now, std::size_t i) const {
        EXPECT_EQ(edit::without_offsets(read(kLib), now.entries.at(i)),
                  edit::without_offsets(old_bytes_, old_.entries.at(i)))
            << now.entries.at(i).name;
        EXPECT_EQ(now.bodies.at(i), files_.at(i).second) << now.entries.at(i).name;
    }

    // The library's bytes with its header's symbol count set to `count`:
    // the long after the header's three strings and its F3 record.
    ByteVec patched_symbol_count(std::uint32_t count) const {
        ByteVec b = read(kLib);
        std::size_t at = 0;
        for (int s = 0; s < 3; ++s) at = static_cast<std::size_t>(std::find(b.begin() + at + 1, b.end(), 0) - b.begin()) + 1;
        at += 6;  // F3, its long and F4
        for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(count >> (24 - 8 * i));
        return b;
    }

    void expect_backup_and_no_working_file() const {
        EXPECT_TRUE(read("LIB.BAK") == old_bytes_) << "the backup is not the old library";
        EXPECT_EQ(working_files(), NameList{});
    }

    std::vector<edit::ModFile> files_;
    ByteVec old_bytes_;
    lib::Library old_;
};

TEST_F(ReplaceTest, WithoutUpdateCheckAnOlderFileReplacesTheModule) {
    const ByteVec fresh = edit::rich_module("IO");
    write_version("IO.QOB", cat(fresh, {0x12, 0xFF}), kOlder);

    const RunResult r = edit_run("-Rv", {"IO"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "REPLASE FILE = IO.QOB\n" + count_lines(3, 7));
    const lib::Library now = parsed();
    EXPECT_EQ(now.header.modules, 3u);
    EXPECT_EQ(now.header.symbols, 7u);
    ASSERT_EQ(now.entries.size(), 3u);
    expect_unchanged(now, 0);
    expect_unchanged(now, 2);
    // Exactly the entry append makes of the file: sizes, symbols, positions, time.
    EXPECT_EQ(edit::without_offsets(read(kLib), now.entries[kIo]), appended_entry("IO.QOB"));
    EXPECT_EQ(now.entries[kIo].f9, as_f9(kOlder));
    EXPECT_EQ(now.bodies[kIo], fresh);
    expect_backup_and_no_working_file();

    for (const auto& file : files_) remove(file.first);
    ASSERT_EQ(edit_run("-x").status, 0);
    EXPECT_EQ(read("A.QOB"), files_[0].second);
    EXPECT_EQ(read("IO.QOB"), fresh);
    EXPECT_EQ(read("C.QOB"), files_[2].second);
}

TEST_F(ReplaceTest, StoredNameIsKeptWhateverTheFileIsCalled) {
    remove("IO.QOB");
    // The new version defines the old version's name again: no clash with itself.
    const ByteVec fresh = edit::small_module("IO_OLD", 9);
    write_version("io.qob", fresh, kOlder);

    const RunResult r = edit_run("-rv", {"io.qob"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "REPLASE FILE = io.qob\n" + count_lines(3, 3));
    const lib::Library now = parsed();
    EXPECT_EQ(now.entries.at(kIo).name, "IO.QOB");
    EXPECT_EQ(now.bodies.at(kIo), fresh);
}

TEST_F(ReplaceTest, SymbolCountFollowsEveryReplacedModule) {
    const ByteVec rich = edit::rich_module("A");
    const ByteVec bare = Module().f0().end().bytes();
    write_version("A.QOB", rich, kOlder);
    write_version("IO.QOB", bare, kOlder);

    const RunResult r = edit_run("-rv", {"IO", "A"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "REPLASE FILE = A.QOB,IO.QOB\n" + count_lines(3, 6));
    const lib::Library now = parsed();
    EXPECT_EQ(now.header.modules, 3u);
    EXPECT_EQ(now.header.symbols, 6u);
    EXPECT_EQ(now.bodies.at(0), rich);
    EXPECT_EQ(now.bodies.at(kIo), bare);
    expect_unchanged(now, 2);
    expect_backup_and_no_working_file();
}

// A header may hold any symbol count: replace and delete move it as its
// 32-bit field wraps, here from the least count down by one.
TEST_F(ReplaceTest, HeaderSymbolCountWrapsAsItsField) {
    write_version("IO.QOB", Module().f0().end().bytes(), kOlder);
    const ByteVec lowest = patched_symbol_count(0x80000000u);
    for (const char* command : {"-r", "-d"}) {
        write(kLib, lowest);
        const RunResult r = edit_run(command, {std::string(command) == "-r" ? "IO" : "A"});
        EXPECT_EQ(r.status, 0) << command << r.out;
        EXPECT_EQ(lib::parse(read(kLib)).header.symbols, 0x7FFFFFFFu) << command;
    }
}

TEST_F(ReplaceTest, VerboseLineListsOnlyModulesActuallyReplaced) {
    write_version("A.QOB", edit::rich_module("A"), kNewer);
    write_version("C.QOB", edit::small_module("SC2", 4), kStored);

    const RunResult r = edit_run("-ruv", {"C", "A"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "REPLASE FILE = A.QOB\n" + count_lines(3, 7));
    const lib::Library now = parsed();
    EXPECT_EQ(now.bodies.at(0), edit::rich_module("A"));
    EXPECT_EQ(now.entries.at(0).f9, as_f9(kNewer));
    expect_unchanged(now, kIo);
    expect_unchanged(now, 2);
}

TEST_F(ReplaceTest, SymbolsAfterTheFirstStopRecordStayOutOfTheEntry) {
    const std::vector<std::pair<const char*, std::function<void(Module&)>>> stops{
        {"F9", [](Module& m) { m.f9(1, {{1, "N9"}}); }},
        {"FA", [](Module& m) { m.fa({{1, "NA"}}); }},
        {"E1", [](Module& m) { m.e1({{1, 2, "N1"}}); }},
        {"E2", [](Module& m) { m.e2(1, "n2", {1, 2, 3, 4, 5, 6, 7, 8}); }},
        {"E3", [](Module& m) { m.e3(1, {{1, 2}}); }},
        {"E4", [](Module& m) { m.e4(1, {{"N4", {{1, 2}}}}); }},
        {"E5", [](Module& m) { m.e5("n5"); }},
        {"E6", [](Module& m) { m.e6(6); }},
    };
    const qob::F7Entry item{1, 2, 3, std::nullopt, qob::item_f1("i"), {}};
    for (const auto& [kind, stop] : stops) {
        SCOPED_TRACE(kind);
        Module m;
        m.f0().f4(1, {{1, "P1"}});
        const std::size_t f8_at = m.offset();
        m.f8(0, {{1}});
        stop(m);
        m.f4(2, {{2, "P2"}}).f5({{3, "Q1"}}).e0({{1, 2, "B1"}}).f6({"X1"});
        m.f3(1, "D1", 0, 0, 0, 0).f7(0, {item}).end();
        write_version("IO.QOB", m.bytes(), kOlder);

        const RunResult r = edit_run("-r", {"IO"});
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, count_lines(3, 3));
        const lib::Library now = parsed();
        const lib::Entry& e = now.entries.at(kIo);
        ASSERT_EQ(e.publics.size(), 1u);
        ASSERT_EQ(e.publics[0].symbols.size(), 1u);
        EXPECT_EQ(e.publics[0].symbols[0].name, "P1");
        EXPECT_TRUE(e.equs.empty() && e.bits.empty() && e.externals.empty());
        EXPECT_TRUE(e.descriptors.empty());
        EXPECT_EQ(e.f8[lib::kOffset1F8], f8_at);
        EXPECT_EQ(e.f8[lib::kOffset1F7], 0u);
        EXPECT_EQ(now.bodies.at(kIo), m.bytes());

        remove("IO.QOB");
        ASSERT_EQ(edit_run("-x", {"IO"}).status, 0);
        EXPECT_EQ(read("IO.QOB"), m.bytes());
    }
}

// ---- the update check ----

struct UpdateCase {
    const char* name;
    Stamp file_time;
    bool replaced;
};

class UpdateCheck : public ReplaceTest, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(UpdateCheck, ReplacesOnlyAStrictlyNewerFile) {
    const UpdateCase& c = GetParam();
    const ByteVec fresh = edit::rich_module("IO");
    write_version("IO.QOB", fresh, c.file_time);

    const RunResult r = edit_run("-ruv", {"IO"});
    EXPECT_EQ(r.status, 0) << r.out;
    if (c.replaced) {
        EXPECT_EQ(r.out, "REPLASE FILE = IO.QOB\n" + count_lines(3, 7));
        const lib::Library now = parsed();
        EXPECT_EQ(now.entries.at(kIo).f9, as_f9(c.file_time));
        EXPECT_EQ(now.bodies.at(kIo), fresh);
    } else {
        EXPECT_EQ(r.out, "REPLASE FILE = \n" + count_lines(3, 3));
        EXPECT_TRUE(read(kLib) == old_bytes_) << "a kept module was rewritten";
    }
    expect_backup_and_no_working_file();
}

INSTANTIATE_TEST_SUITE_P(
    ReplaceTimes, UpdateCheck,
    ::testing::Values(UpdateCase{"EqualTime", kStored, false},
                      UpdateCase{"OneSecondNewer", {2023, 6, 15, 12, 30, 31}, true},
                      UpdateCase{"OneSecondOlder", {2023, 6, 15, 12, 30, 29}, false},
                      UpdateCase{"EarlierYearLaterMonth", {2022, 12, 15, 12, 30, 30}, false},
                      UpdateCase{"LaterYearEarlierMonth", {2024, 1, 15, 12, 30, 30}, true},
                      UpdateCase{"EarlierMonthLaterDay", {2023, 5, 28, 12, 30, 30}, false},
                      UpdateCase{"LaterDayEarlierHour", {2023, 6, 16, 1, 30, 30}, true},
                      UpdateCase{"EarlierHourLaterMinute", {2023, 6, 15, 11, 59, 30}, false},
                      UpdateCase{"LaterMinuteEarlierSecond", {2023, 6, 15, 12, 31, 0}, true}),
    [](const ::testing::TestParamInfo<UpdateCase>& info) { return std::string(info.param.name); });

// Under SOURCE_DATE_EPOCH a file changed after the epoch is stored at the
// epoch; the update check compares each file's own time, in UTC, with that.
TEST_F(ReplaceTest, UpdateCheckUnderSourceDateEpochComparesTheFilesOwnTime) {
    constexpr std::time_t kEpoch = 1700000000;
    constexpr Stamp kEpochUtc{2023, 11, 14, 22, 13, 20};
    const EnvMap env{{"SOURCE_DATE_EPOCH", "1700000000"}, {"TZ", "JST-9"}};
    remove(kLib);
    NameList names;
    for (const auto& file : files_) {
        set_mtime(edit::host_path(file.first), kEpoch + 3600);
        names.push_back(file.first);
    }
    ASSERT_EQ(append(kLib, names, "-a", env).status, 0);
    old_bytes_ = read(kLib);
    old_ = library(kLib);
    ASSERT_EQ(old_.entries.at(kIo).f9, as_f9(kEpochUtc));
    // IO.QOB is a second newer than the stored time, A.QOB a second older
    // (nine hours newer, were it read as local time).
    const ByteVec fresh = edit::rich_module("IO");
    write(edit::host_path("IO.QOB"), fresh);
    set_mtime(edit::host_path("IO.QOB"), kEpoch + 1);
    write(edit::host_path("A.QOB"), edit::rich_module("A"));
    set_mtime(edit::host_path("A.QOB"), kEpoch - 1);

    const RunResult r = edit_run("-ruv", {"A", "IO"}, env);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "REPLASE FILE = IO.QOB\n" + count_lines(3, 7));
    const lib::Library now = parsed();
    expect_unchanged(now, 0);
    EXPECT_EQ(now.entries.at(kIo).f9, as_f9(kEpochUtc));
    EXPECT_EQ(now.bodies.at(kIo), fresh);
}

// ---- duplicate definitions ----

TEST_F(ReplaceTest, ClashWithAnEarlierModuleFailsAtTheReplacedModule) {
    write_version("IO.QOB", edit::small_module("SA", 5), kOlder);
    const Snapshot before = snapshot();
    expect_refused(edit_run("-r", {"IO"}), 1, clash("SA", "IO", "A"), before);
}

TEST_F(ReplaceTest, ClashWithALaterModuleFailsAtTheLaterModule) {
    write_version("A.QOB", edit::small_module("SC", 5), kOlder);
    const Snapshot before = snapshot();
    expect_refused(edit_run("-r", {"A"}), 1, clash("SC", "C", "A"), before);
}

TEST_F(ReplaceTest, LibraryHoldingAClashRefusesEveryReplace) {
    // C's entry defines SA as A's does, and so does C's file.
    write(kLib, edit::patched(old_bytes_, "SC", "SA"));
    write_version("C.QOB", edit::small_module("SA", 3), kStored);
    const Snapshot before = snapshot();
    for (const char* name : {"A", "IO", "C"}) {
        SCOPED_TRACE(name);
        expect_refused(edit_run("-r", {name}), 1, clash("SA", "C", "A"), before);
    }
}

// ---- refusals ----

TEST_F(ReplaceTest, RefusedFilesLeaveTheLibraryAsItWas) {
    const qob::F7Entry bad_item{1, 2, 3, std::nullopt, qob::item_f3("x"), {}};
    // `first_record`: a fault of the first record, found before the update
    // check, so even a file older than its module is refused.
    const struct {
        const char* what;
        ByteVec file;
        std::string out;
        bool first_record;
    } cases[] = {
        {"first byte not F0", Module().f1("x").f0().end().bytes(), invalid("io.QOB"), true},
        {"empty file", {}, invalid("io.QOB"), true},
        {"format VER.B", Module().f0("VER.B").end().bytes(), invalid("R0002"), true},
        {"format in lower case", Module().f0("ver.a").end().bytes(), invalid("R0002"), true},
        {"tag E7", Module().f0().f4(1, {{1, "P"}}).raw({0xE7}).end().bytes(), invalid("R0005"),
         false},
        {"no end mark", Module().f0().f4(1, {{1, "P"}}).bytes(), invalid("R0005"), false},
        {"F7 entry starting with F3", Module().f0().f7(0, {bad_item}).end().bytes(),
         invalid("io.QOB"), false},
        {"damage after a stop record", Module().f0().e5("s").raw({0xE7}).end().bytes(),
         invalid("S0004"), false},
    };
    std::filesystem::create_directory(path("sub"));
    for (const auto& c : cases) {
        for (const char* command : {"-r", "-ru"}) {
            if (!c.first_record && std::string(command) == "-ru") continue;
            SCOPED_TRACE(std::string(c.what) + " " + command);
            write_version("sub" + sep() + "io.QOB", c.file, kOlder);
            const Snapshot before = snapshot();
            expect_refused(edit_run(command, {"sub" + sep() + "io"}), 1, c.out, before);
        }
    }
}

// A fault that only copying a replacing body meets (E7 after a stop record)
// comes after everything the table pass checks, for every entry: the first
// record of a later file, or a clash of the replaced module's symbols.
TEST_F(ReplaceTest, FaultsComeInTheOrderOfThePasses) {
    const ByteVec stop_then_e7 = Module().f0().e5("x").raw({0xE7}).end().bytes();
    const struct {
        const char* what;
        std::vector<edit::ModFile> library;
        std::vector<edit::ModFile> files;
        std::string out;
    } cases[] = {
        {"first record of a later file",
         {{"A.QOB", edit::small_module("ASYM", 1)}, {"B.QOB", edit::small_module("BSYM", 2)}},
         {{"A.QOB", stop_then_e7}, {"B.QOB", Module().f4(1, {{3, "BNEW"}}).end().bytes()}},
         "REPLASE FILE = A.QOB" + invalid("B.QOB")},
        {"clash", {{"B.QOB", edit::small_module("BSYM", 1)}, {"A2.QOB", edit::small_module("ASYM", 2)}},
         {{"A2.QOB", Module().f0().f4(1, {{1, "BSYM"}}).e5("x").raw({0xE7}).end().bytes()}},
         "REPLASE FILE = A2.QOB" + clash("BSYM", "A2", "B")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        remove(kLib);
        make_library(c.library);
        NameList names;
        for (const auto& [name, bytes] : c.files) {
            write(name, bytes);
            names.push_back(name);
        }
        const Snapshot before = snapshot();
        expect_refused(edit_run("-rv", names), 1, c.out, before);
    }
}

TEST_F(ReplaceTest, MissingFileIsNamedAsGiven) {
    const Snapshot before = snapshot();
    const std::string name = "gone" + sep() + "io.QOB";
    expect_refused(edit_run("-r", {name}), 3, message("Can't open <" + name + ">"), before);
}

TEST_F(ReplaceTest, RefusedLibraryHeaders) {
    const struct {
        std::string from, to, out;
    } cases[] = {
        {"VER.A", "VER.B", invalid("R0001")},
        {"VER.A", "ver.a", invalid("R0001")},
        {"VRN100", "VRN200", message("CPU number error")},
    };
    for (const auto& c : cases) {
        for (const char* command : {"-r", "-ru"}) {
            SCOPED_TRACE(c.to + " " + command);
            write(kLib, edit::patched(old_bytes_, c.from, c.to));
            const Snapshot before = snapshot();
            expect_refused(edit_run(command, {"IO"}), 1, c.out, before);
        }
    }
}
