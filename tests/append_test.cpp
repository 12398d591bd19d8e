// End-to-end tests of the append command: the library it creates or extends,
// byte for byte where the layout is fixed, the entries it makes of each
// module, the duplicate-definition check (and, on its own, the index it keeps),
// the module limit, and the refusals, each of which must leave the library
// exactly as it was.

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "core/def_index.h"
#include "support/library_e2e.h"

using qob::ByteVec;
using qob::Module;

namespace {

class Append : public LibraryE2E {};

// ---- the index of the duplicate check ----

// The index against the rule it stands for: the clash reported for a module
// is the earliest definition in table order of any global name the module
// defines again, externals never counting. Many modules of names that share
// long prefixes, from an index made far too small, so that it grows often.
TEST(DefIndexTest, FindsTheEarliestDefinitionAsAScanFromTheStartWould) {
    struct First {
        std::size_t place;
        std::string module;
    };
    std::map<std::string, First> defined;  // the model: each name's first definition
    DefIndex index;
    index.reserve(4);
    uint32_t r = 11;
    auto next = [&r](uint32_t n) {
        r = r * 1103515245 + 12345;
        return (r >> 8) % n;
    };
    std::size_t clashes = 0;
    for (int m = 0; m < 400; ++m) {
        const std::string module = std::string("M").append(std::to_string(m));
        SymbolTables t;
        std::vector<std::string> definitions;
        for (uint32_t i = 0, n = 1 + next(6); i < n; ++i) {
            std::string name = next(2) ? "A_LONG_SHARED_PREFIX_" : "";
            name += std::to_string(next(3000));
            const NameRef ref = t.keep(name);
            switch (next(4)) {
            case 0: t.pub_syms.push_back(PubSym{0, ref}); definitions.push_back(name); break;
            case 1: t.equ_list.push_back(EquSym{0, ref}); definitions.push_back(name); break;
            case 2: t.bit_list.push_back(BitSym{0, 0, ref}); definitions.push_back(name); break;
            default: t.ext_list.push_back(ref); break;
            }
        }
        const First* earliest = nullptr;
        std::string clashing;
        for (const std::string& name : definitions) {
            auto it = defined.find(name);
            if (it != defined.end() && (earliest == nullptr || it->second.place < earliest->place)) {
                earliest = &it->second;
                clashing = name;
            }
        }
        DefIndex::Clash clash;
        ASSERT_EQ(index.find_clash(t, clash), earliest != nullptr) << module;
        if (earliest != nullptr) {
            EXPECT_EQ(clash.name, clashing) << module;
            EXPECT_EQ(clash.module, earliest->module) << module;
            ++clashes;
            continue;  // a refused module never joins the table
        }
        index.add_tables(module, t);
        t.for_each_definition([&](std::string_view name) {
            defined.try_emplace(std::string(name), First{defined.size(), module});
        });
    }
    EXPECT_GT(clashes, 50u);
    EXPECT_GT(defined.size(), 300u);
}

// A block of F8 contents: n bytes whose values include the record tags.
ByteVec contents(std::size_t n) {
    ByteVec block(n);
    for (std::size_t i = 0; i < n; ++i) block[i] = static_cast<unsigned char>(0xF0 + 7 * i);
    return block;
}

// What appending `module` as A.QOB to a new library gives, for a module whose
// only table records are one F4 record (block 1, START = 0x1000) and whose
// first F8 record is at offset 23. The header takes 37 bytes, the entry 101.
ByteVec start_library(const ByteVec& module, const std::array<std::uint32_t, 6>& time) {
    qob::Bytes b;
    b.u8(0xF0).str("V.4.00.00").u8(0xF1).str("VER.A").u8(0xF2).str("VRN100");
    b.u8(0xF3).u32(1).u8(0xF4).u32(1).u8(0xFF);
    EXPECT_EQ(b.offset(), 37u);
    b.u8(0xF0).str("A.QOB");
    b.u8(0xF1).u32(85).u32(35);
    b.u8(0xF2).u32(static_cast<std::uint32_t>(module.size()));
    b.u8(0xF4).u32(1).u32(16).u32(0).u32(0).u32(0).u32(0).u32(0);
    b.u8(0xF5).word(1).tri(0x1000).str("START").tri(0).str("");
    b.u8(0xF8).u32(139).u32(0).u32(0).u32(23).u32(139 + 23);
    b.u8(0xF9);
    for (std::uint32_t field : time) b.word(field);
    b.u8(0xFF);
    EXPECT_EQ(b.offset(), 138u);
    b.u8(0xFF).raw(module).u8(0xFF);
    return b.bytes();
}

// ---- the worked examples ----

TEST_F(Append, ThirtyEightByteModuleGivesTheExactLibrary) {
    Module m;
    m.f0().f4(1, {{0x1000, "START"}}).f8(1, {{1, 2, 3}}).end();
    ASSERT_EQ(m.bytes().size(), 38u);
    write_module("A.QOB", m);
    set_mtime("A.QOB", 2026, 12, 31, 23, 59, 58);

    const RunResult r = append("MYLIB", {"A"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "<MYLIB.LIB> CREATE\n" + count_lines(1, 1));
    const ByteVec got = read("MYLIB.LIB");
    EXPECT_EQ(got.size(), 178u);
    EXPECT_EQ(got, start_library(m.bytes(), {58, 59, 23, 31, 11, 126})) << hex(got);
    EXPECT_TRUE(working_files().empty());
    EXPECT_FALSE(exists("MYLIB.BAK"));
}

TEST_F(Append, HundredByteModuleGivesThe240ByteLibrary) {
    Module m;
    m.f0().f4(1, {{0x1000, "START"}}).f8(1, {contents(65)}).end();
    ASSERT_EQ(m.bytes().size(), 100u);
    write_module("A.QOB", m);
    set_mtime("A.QOB", 2024, 1, 5, 8, 30, 0);

    const RunResult r = append("MYLIB", {"A"});
    EXPECT_EQ(r.status, 0) << r.out;
    const ByteVec got = read("MYLIB.LIB");
    EXPECT_EQ(got.size(), 240u);
    EXPECT_EQ(got, start_library(m.bytes(), {0, 30, 8, 5, 0, 124})) << hex(got);
}

// ---- reproducible builds: SOURCE_DATE_EPOCH ----

using Fields = std::array<std::uint32_t, 6>;

// The epoch 2023-11-14 22:13:20 UTC, and an earlier time, 2020-09-13 12:26:40 UTC.
constexpr std::time_t kEpoch = 1700000000;
constexpr std::time_t kBefore = 1600000000;

class Reproducible : public LibraryE2E {
protected:
    // Appends NEW1 and NEW2, written `later` and 10 * `later` seconds after
    // the epoch, and OLD, written before it, to R.LIB and lists it, in the
    // time zone `tz` and with SOURCE_DATE_EPOCH `epoch`. Returns the library
    // and the listing, which are removed again.
    std::pair<ByteVec, ByteVec> build(const std::string& tz, const std::string& epoch, std::time_t later) {
        const EnvMap env{{"TZ", tz}, {"SOURCE_DATE_EPOCH", epoch}};
        for (const std::string name : {"NEW1", "NEW2", "OLD"}) write_module(name + ".QOB", defining({name}));
        set_mtime("NEW1.QOB", kEpoch + later);
        set_mtime("NEW2.QOB", kEpoch + 10 * later);
        set_mtime("OLD.QOB", kBefore);
        EXPECT_EQ(append("R", {"NEW1", "NEW2", "OLD"}, "-a", env).status, 0);
        EXPECT_EQ(run({"-l", "-o", "R"}, env).status, 0);
        std::pair built{read("R.LIB"), read("R.LST")};
        for (const char* name : {"R.LIB", "R.LST"}) std::filesystem::remove(path(name));
        return built;
    }
};

TEST_F(Reproducible, SameModulesGiveTheSameLibraryAndListingInAnyZoneAtAnyTime) {
    const auto [lib, listing] = build("UTC0", "1700000000", 60);
    const auto [lib2, listing2] = build("JST-9", "1700000000", 86400);
    EXPECT_TRUE(lib2 == lib) << hex(lib2);
    EXPECT_TRUE(listing2 == listing);
    const lib::Library l = lib::parse(lib);
    ASSERT_EQ(l.entries.size(), 3u);
    EXPECT_EQ(l.entries[0].f9, (Fields{20, 13, 22, 14, 10, 123}));
    EXPECT_EQ(l.entries[1].f9, (Fields{20, 13, 22, 14, 10, 123}));
    // Older than the epoch: the module's own time, in UTC.
    EXPECT_EQ(l.entries[2].f9, (Fields{40, 26, 12, 13, 8, 120}));
    // The page headers show the epoch, "Last update time" the library's time clamped to it.
    const std::string text(listing.begin(), listing.end());
    EXPECT_NE(text.find("date 2023-Nov-14 22:13 page    5"), std::string::npos) << text;
    EXPECT_NE(text.find("Last update time:        2023-Nov-14 22:13"), std::string::npos) << text;
}

// An empty SOURCE_DATE_EPOCH is none: times are local, here nine hours ahead of UTC.
TEST_F(Reproducible, EmptyValueCountsAsNotSet) {
    const lib::Library l = lib::parse(build("JST-9", "", 60).first);
    ASSERT_EQ(l.entries.size(), 3u);
    EXPECT_EQ(l.entries[0].f9, (Fields{20, 14, 7, 15, 10, 123}));
    EXPECT_EQ(l.entries[2].f9, (Fields{40, 26, 21, 13, 8, 120}));
}

// ---- the header of a new or an existing library ----

TEST_F(Append, NewLibraryTakesItsFormatFromTheFirstModuleWithAnF0) {
    write_module("NOF0.QOB", Module().f4(1, {{1, "A1"}}).end());
    write_module("WITH.QOB", defining({"B1"}));

    const RunResult r = append("NEW", {"NOF0", "WITH"});
    ASSERT_EQ(r.status, 0) << r.out;
    const lib::Library l = library("NEW.LIB");
    EXPECT_EQ(l.header.version, "V.4.00.00");
    EXPECT_EQ(l.header.format, "VER.A");
    EXPECT_EQ(l.header.cpu, "VRN100");
    EXPECT_EQ(l.header.modules, 2u);
    EXPECT_EQ(l.header.symbols, 2u);
    EXPECT_EQ(lib::inconsistencies(l), "");
}

TEST_F(Append, NewLibraryWithoutAnyF0HasAnEmptyFormat) {
    write_module("A.QOB", Module().f4(1, {{1, "A1"}}).end());
    write_module("B.QOB", Module().f6({"A1"}).end());

    ASSERT_EQ(append("NEW", {"A", "B"}).status, 0);
    const lib::Library l = library("NEW.LIB");
    EXPECT_EQ(l.header.format, "");
    EXPECT_EQ(l.header.size, 32u);
    EXPECT_EQ(lib::inconsistencies(l), "");
}

class AppendToHeader : public LibraryE2E {
protected:
    // MYLIB.LIB with the one module BASE.QOB and the given header section.
    void make_library(const ByteVec& header) {
        write_module("BASE.QOB", defining({"BASE1"}));
        ASSERT_EQ(append("MYLIB", {"BASE"}).status, 0);
        write("MYLIB.LIB", lib::with_header(read("MYLIB.LIB"), header));
        write_module("NEW.QOB", defining({"NEW1"}));
    }
    void make_library(const std::string& version, const std::string& cpu) {
        make_library(lib::header_bytes(version, "VER.A", cpu, 1, 1));
    }
};

TEST_F(AppendToHeader, HeaderRecordsInAnyOrderAndRepeatedAreRead) {
    make_library(qob::Bytes()
                     .u8(0xF4).u32(1)
                     .u8(0xF1).str("VER.B")
                     .u8(0xF2).str("VRN100")
                     .u8(0xF3).u32(1)
                     .u8(0xF0).str("V.4.00.01")
                     .u8(0xF1).str("VER.A")
                     .u8(0xFF)
                     .bytes());
    const RunResult r = append("MYLIB", {"NEW"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, count_lines(2, 2));
    const lib::Library l = library("MYLIB.LIB");
    EXPECT_EQ(l.header.version, "V.4.00.01");
    EXPECT_EQ(l.header.format, "VER.A");
    EXPECT_EQ(lib::inconsistencies(l), "");
}

TEST_F(AppendToHeader, CpuNameDifferingOnlyInCaseIsAcceptedAndKept) {
    make_library("V.4.00.00", "vrn100");
    const RunResult r = append("MYLIB", {"NEW"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, count_lines(2, 2));
    const lib::Library l = library("MYLIB.LIB");
    EXPECT_EQ(l.header.cpu, "vrn100");
    EXPECT_EQ(lib::inconsistencies(l), "");
}

TEST_F(AppendToHeader, OtherVersionIsKeptAndOffsetsFollowItsLength) {
    const std::string version = "V.5.12.34-EXTENDED-RELEASE-0031";
    ASSERT_EQ(version.size(), 31u);
    make_library(version, "VRN100");
    ASSERT_EQ(append("MYLIB", {"NEW"}).status, 0);
    const lib::Library l = library("MYLIB.LIB");
    EXPECT_EQ(l.header.version, version);
    EXPECT_EQ(l.header.size, 17u + 31 + 5 + 6);
    ASSERT_EQ(l.entries.size(), 2u);
    const std::size_t table = l.table_end - l.header.size;
    EXPECT_EQ(l.entries[0].f8[lib::kModOffset], l.header.size + table + 1);
    EXPECT_EQ(lib::inconsistencies(l), "");
}

// ---- extending a library ----

// ---- a library made anew: --new ----

// --new makes the library as append makes a new one, from the given files
// alone, whatever stands at its name; the old library is replaced only at
// the commit and kept as the backup, and a failed run leaves it as it was.
TEST_F(Append, NewMakesTheLibraryFromTheGivenFilesAloneKeepingTheOldAsBackup) {
    const EnvMap env{{"SOURCE_DATE_EPOCH", "1700000000"}};
    write_module("A.QOB", defining({"ALPHA"}));
    write_module("B.QOB", defining({"BETA"}));
    write_module("C.QOB", defining({"ALPHA", "GAMMA"}));  // clashes with A
    write("BAD.QOB", Module().f0().raw({0xE7}).end().bytes());
    ASSERT_EQ(append("LIB", {"A", "B"}, "-a", env).status, 0);
    ASSERT_EQ(append("FRESH", {"C", "B"}, "-a", env).status, 0);
    if (!windows_target()) {
        ASSERT_EQ(::chmod(path("LIB.LIB").c_str(), 0640), 0);
    }
    const ByteVec old = read("LIB.LIB");

    const RunResult failed = run({"-a", "--new", "-o", "LIB", "-f", "C", "BAD"}, env);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "\nInvarid module or library BAD.QOB\n");
    EXPECT_EQ(read("LIB.LIB"), old);
    EXPECT_FALSE(exists("LIB.BAK"));

    const RunResult r = run({"-a", "-o", "LIB", "-f", "C", "B", "--new"}, env);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, count_lines(2, 3));
    EXPECT_EQ(read("LIB.LIB"), read("FRESH.LIB"));
    EXPECT_EQ(read("LIB.BAK"), old);
    library("LIB.LIB");
    if (!windows_target()) {
        struct stat st {};
        ASSERT_EQ(::stat(path("LIB.LIB").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
    }
    EXPECT_TRUE(working_files().empty());

    // No library yet, or a file at its name that is none (a build's stale
    // output): made as append makes a new library, the first announced.
    write_text("CMD", "--new -a -o NEWLIB -f C B\n");
    const RunResult created = run({"@CMD"}, env);
    EXPECT_EQ(created.out, "<NEWLIB.LIB> CREATE\n" + count_lines(2, 3));
    EXPECT_EQ(read("NEWLIB.LIB"), read("FRESH.LIB"));
    write_text("JUNK.LIB", "not a library");
    EXPECT_EQ(run({"--new", "-a", "-o", "JUNK", "-f", "C", "B"}, env).status, 0);
    EXPECT_EQ(read("JUNK.LIB"), read("FRESH.LIB"));
    EXPECT_EQ(read_text("JUNK.BAK"), "not a library");
}

TEST_F(Append, SecondAppendPutsItsBodyAfterTheFirstAndKeepsABackup) {
    const Module a = Module().f0().f4(1, {{0x10, "ALPHA"}}).f8(0, {contents(10)}).end();
    const Module b = Module().f0().f4(1, {{0x20, "BETA"}, {0x21, "GAMMA"}})
                         .f5({{7, "EQ1"}}).f6({"ALPHA"}).f8(0, {contents(20)}).end();
    write_module("A.QOB", a);
    write_module("B.QOB", b);
    ASSERT_EQ(append("LIB", {"A"}).status, 0);
    const ByteVec first = read("LIB.LIB");

    const RunResult r = append("LIB", {"B"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, count_lines(2, 5));
    EXPECT_EQ(read("LIB.BAK"), first);
    const lib::Library l = library("LIB.LIB");
    ASSERT_EQ(l.entries.size(), 2u);
    EXPECT_NE(l.entries[0].size, l.entries[1].size);
    const std::size_t table = l.table_end - l.header.size;
    EXPECT_EQ(l.entries[1].f8[lib::kModOffset],
              l.header.size + table + 1 + a.bytes().size());
    EXPECT_EQ(l.bodies[0], a.bytes());
    EXPECT_EQ(l.bodies[1], b.bytes());
    // The old entry comes over unchanged but for its body offset.
    const lib::Library before = lib::parse(first);
    const lib::Entry& old = before.entries[0];
    EXPECT_EQ(l.entries[0].name, old.name);
    EXPECT_EQ(l.entries[0].f4, old.f4);
    EXPECT_EQ(l.entries[0].f9, old.f9);
    EXPECT_EQ(lib::inconsistencies(l), "");
    EXPECT_TRUE(working_files().empty());
}

TEST_F(Append, EmptyModuleStaysWholeThroughLaterAppends) {
    write("E.QOB", {0xFF});
    write_module("X.QOB", defining({"X1"}));
    write_module("Y.QOB", defining({"Y1"}));
    ASSERT_EQ(append("LIB", {"X", "E"}).status, 0);
    ASSERT_EQ(append("LIB", {"E"}).status, 0);
    ASSERT_EQ(append("LIB", {"Y"}).status, 0);

    const lib::Library l = library("LIB.LIB");
    ASSERT_EQ(l.entries.size(), 4u);
    EXPECT_EQ(l.bodies[1], ByteVec{0xFF});
    EXPECT_EQ(l.bodies[2], ByteVec{0xFF});
    EXPECT_EQ(l.bodies[3], read("Y.QOB"));
    const lib::Entry& e = l.entries[1];
    EXPECT_EQ(e.size, 80u + e.name.size());
    EXPECT_EQ(e.entry_len, 69u);
    EXPECT_EQ(e.tail_len, 35u);
    EXPECT_EQ(e.f4, (std::array<std::uint32_t, 7>{}));
    EXPECT_EQ(e.f8[lib::kOffset1F7], 0u);
    EXPECT_EQ(e.f8[lib::kOffset1F8], 0u);
    EXPECT_EQ(lib::inconsistencies(l), "");
}

TEST_F(Append, ModuleNameIsTheFileNameWithoutItsDirectory) {
    write_module("SUB/DEEP/A.QOB", defining({"A1"}));
    write_module("SUB/B.QOB", defining({"B1"}));
    write_module("SUB.DIR/M.QOB", defining({"M1"}));
    NameList files{"SUB/DEEP/A.QOB", "SUB\\B", "SUB.DIR\\M"};
    NameList names{windows_target() ? "SUB/DEEP/A.QOB" : "A.QOB", "B.QOB", "M.QOB"};
    if (!windows_target()) {
        // A drive prefix without a directory: on a POSIX host the file simply
        // has a ':' in its name.
        write_module("C:X.QOB", defining({"X1"}));
        files.push_back("C:X.QOB");
        names.push_back("X.QOB");
    }

    const RunResult r = append("LIB", files);
    ASSERT_EQ(r.status, 0) << r.out;
    const lib::Library l = library("LIB.LIB");
    NameList got;
    for (const lib::Entry& e : l.entries) got.push_back(e.name);
    EXPECT_EQ(got, names);
}

TEST_F(Append, BytesAfterTheEndMarkAreNotPartOfTheModule) {
    const Module m = defining({"T1"});
    Module file = m;
    file.raw({0x00, 0xF0, 0xFF, 0x12});
    write_module("T.QOB", file);

    ASSERT_EQ(append("LIB", {"T"}).status, 0);
    const lib::Library l = library("LIB.LIB");
    ASSERT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(l.entries[0].mod_size, m.bytes().size());
    EXPECT_EQ(l.bodies[0], m.bytes());
    EXPECT_EQ(lib::inconsistencies(l), "");
}

// Modules whose records do not map one to one onto the entry's records: the
// lengths and sizes must still be those of the bytes written.
TEST_F(Append, EntryLengthsAreThoseOfTheWrittenRecords) {
    struct Shape {
        std::string file;
        Module module;
        std::uint32_t entry_len;
        std::uint32_t tail_len;
    };
    const std::vector<Shape> shapes{
        // Two F5 records: 7 + 6 and 7 + 2 * 6 bytes.
        {"TWOF4.QOB", Module().f4(1, {{1, "P1"}}).f4(1, {{2, "P2"}, {3, "P3"}}).end(), 69 + 32, 35},
        // An F5 record of its number and terminator alone.
        {"EMPTYF4.QOB", Module().f4(2, {}).end(), 69 + 7, 35},
        // No symbol, no F7 record.
        {"EMPTYF6.QOB", Module().f6({}).end(), 69, 35},
        // One F6 record for both: 1 + 2 * 7 + 5 bytes.
        {"TWOF5.QOB", Module().f5({{1, "E1"}}).f5({{2, "E2"}}).f5({}).end(), 69 + 20, 35},
        // One FA record: 1 + 8 + 6 bytes.
        {"TWOE0.QOB", Module().e0({{1, 2, "B1"}}).e0({}).end(), 69 + 15, 35},
        // F3 (17 bytes) and one F7 record for three names (11 bytes).
        {"TAIL.QOB",
         Module().f3(5, "DESC", 1, 2, 0x030405, 0x06070809).f6({"X1", "X2"}).f6({"X3"}).end(),
         69 + 28, 35 + 28},
    };
    NameList files;
    for (const Shape& s : shapes) {
        write_module(s.file, s.module);
        files.push_back(s.file);
    }

    ASSERT_EQ(append("LIB", files).status, 0);
    const lib::Library l = library("LIB.LIB");
    ASSERT_EQ(l.entries.size(), shapes.size());
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        EXPECT_EQ(l.entries[i].entry_len, shapes[i].entry_len) << shapes[i].file;
        EXPECT_EQ(l.entries[i].tail_len, shapes[i].tail_len) << shapes[i].file;
    }
    EXPECT_EQ(lib::inconsistencies(l), "");
}

TEST_F(Append, EntryListsTheModulesSymbolsInTheirOrder) {
    write_module("ALL.QOB", Module()
                                .f0()
                                .f4(3, {{0x30, "P3"}})
                                .f6({"EXT1"})
                                .e0({{9, 0x90, "BIT9"}})
                                .f3(1, "D1", 0xA1, 0xA2, 0xA3A4A5, 0xA6A7A8A9)
                                .f5({{0x50, "EQU5"}, {0x51, "EQU6"}})
                                .f4(1, {{0x10, "P1"}, {0x11, "P0"}})
                                .f3(2, "D2", 1, 2, 3, 4)
                                .f6({"EXT0"})
                                .end());

    ASSERT_EQ(append("LIB", {"ALL"}).status, 0);
    const lib::Library l = library("LIB.LIB");
    ASSERT_EQ(l.entries.size(), 1u);
    const lib::Entry& e = l.entries[0];
    ASSERT_EQ(e.publics.size(), 2u);
    EXPECT_EQ(e.publics[0].number, 3u);
    ASSERT_EQ(e.publics[0].symbols.size(), 1u);
    EXPECT_EQ(e.publics[0].symbols[0].name, "P3");
    EXPECT_EQ(e.publics[0].symbols[0].value, 0x30u);
    EXPECT_EQ(e.publics[1].number, 1u);
    ASSERT_EQ(e.publics[1].symbols.size(), 2u);
    EXPECT_EQ(e.publics[1].symbols[1].name, "P0");
    EXPECT_EQ(e.publics[1].symbols[1].value, 0x11u);
    ASSERT_EQ(e.equs.size(), 2u);
    EXPECT_EQ(e.equs[1].name, "EQU6");
    EXPECT_EQ(e.equs[1].value, 0x51u);
    ASSERT_EQ(e.bits.size(), 1u);
    EXPECT_EQ(e.bits[0].number, 9u);
    EXPECT_EQ(e.bits[0].value, 0x90u);
    EXPECT_EQ(e.bits[0].name, "BIT9");
    ASSERT_EQ(e.descriptors.size(), 2u);
    EXPECT_EQ(e.descriptors[0].name, "D1");
    EXPECT_EQ(e.descriptors[0].byte1, 0xA1u);
    EXPECT_EQ(e.descriptors[0].byte2, 0xA2u);
    EXPECT_EQ(e.descriptors[0].tri, 0xA3A4A5u);
    EXPECT_EQ(e.descriptors[0].value, 0xA6A7A8A9u);
    EXPECT_EQ(e.descriptors[1].number, 2u);
    EXPECT_EQ(e.externals, (NameList{"EXT1", "EXT0"}));
    EXPECT_EQ(l.header.symbols, 3u + 2 + 1 + 2);
    EXPECT_EQ(lib::inconsistencies(l), "");
}

TEST_F(Append, FirstF7AndF8PositionsAreRemembered) {
    const qob::F7Entry item{1, 0, 0, std::nullopt, qob::item_f0({1, 2, 3, 4, 5}),
                            {qob::item_byte(0xF4), qob::item_f3("N")}};
    // A record at offset 0 reads as "none": the next one of its kind counts.
    Module f7_first;
    f7_first.f7(0, {item}).f0();
    const std::size_t second_f7 = f7_first.offset();
    f7_first.f7(0, {item}).end();
    Module f8_first;
    f8_first.f8(0, {}).f0();
    const std::size_t second_f8 = f8_first.offset();
    f8_first.f8(1, {{1}}).end();
    // Of two records, the first counts.
    Module two;
    two.f0();
    const std::size_t first_f7 = two.offset();
    two.f7(0, {item}).f7(1, {item});
    const std::size_t first_f8 = two.offset();
    two.f8(0, {{2}}).f8(0, {}).end();
    write_module("F7FIRST.QOB", f7_first);
    write_module("F8FIRST.QOB", f8_first);
    write_module("TWO.QOB", two);
    write_module("NONE.QOB", defining({"N1"}));

    ASSERT_EQ(append("LIB", {"F7FIRST", "F8FIRST", "TWO", "NONE"}).status, 0);
    const lib::Library l = library("LIB.LIB");
    ASSERT_EQ(l.entries.size(), 4u);
    EXPECT_EQ(l.entries[0].f8[lib::kOffset1F7], second_f7);
    EXPECT_EQ(l.entries[0].f8[lib::kOffset1F8], 0u);
    EXPECT_EQ(l.entries[1].f8[lib::kOffset1F7], 0u);
    EXPECT_EQ(l.entries[1].f8[lib::kOffset1F8], second_f8);
    EXPECT_EQ(l.entries[2].f8[lib::kOffset1F7], first_f7);
    EXPECT_EQ(l.entries[2].f8[lib::kOffset1F8], first_f8);
    EXPECT_EQ(l.entries[3].f8[lib::kOffset1F7], 0u);
    EXPECT_EQ(l.entries[3].f8[lib::kAbsF7], 0u);
    EXPECT_EQ(lib::inconsistencies(l), "");
}

// ---- duplicate definitions ----

// MYLIB.LIB holds OLD.QOB, which defines P1 (public), E1 (EQU) and B1 (BIT),
// refers to X1 and carries the descriptor D1.
class AppendDuplicates : public LibraryE2E {
protected:
    void SetUp() override {
        LibraryE2E::SetUp();
        write_module("OLD.QOB", Module()
                                    .f0()
                                    .f4(1, {{1, "P1"}})
                                    .f5({{2, "E1"}})
                                    .e0({{3, 4, "B1"}})
                                    .f6({"X1"})
                                    .f3(1, "D1", 0, 0, 0, 0)
                                    .end());
        ASSERT_EQ(append("MYLIB", {"OLD"}).status, 0);
        before_ = read("MYLIB.LIB");
    }

    void expect_refused(const Module& module, const std::string& symbol) {
        write_module("NEW.QOB", module);
        const RunResult r = append("MYLIB", {"NEW"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "\n<" + symbol + ">is multiple defined in NEW. others is OLD\n");
        expect_unchanged();
    }

    void expect_accepted(const Module& module) {
        write_module("NEW.QOB", module);
        const RunResult r = append("MYLIB", {"NEW"});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(library("MYLIB.LIB").entries.size(), 2u);
    }

    void expect_unchanged() const {
        EXPECT_EQ(read("MYLIB.LIB"), before_);
        EXPECT_FALSE(exists("MYLIB.BAK"));
        EXPECT_TRUE(working_files().empty());
    }

private:
    ByteVec before_;
};

TEST_F(AppendDuplicates, PublicEquAndBitNamesShareOneNameSpace) {
    expect_refused(Module().f4(1, {{9, "E1"}}).end(), "E1");
    expect_refused(Module().f4(1, {{9, "B1"}}).end(), "B1");
    expect_refused(Module().f5({{9, "P1"}}).end(), "P1");
    expect_refused(Module().f5({{9, "B1"}}).end(), "B1");
    expect_refused(Module().e0({{9, 9, "P1"}}).end(), "P1");
    expect_refused(Module().e0({{9, 9, "E1"}}).end(), "E1");
}

TEST_F(AppendDuplicates, ClashInALaterBlockIsFound) {
    expect_refused(Module().f4(1, {{9, "Q1"}}).f4(2, {{9, "Q2"}, {9, "P1"}}).end(), "P1");
}

TEST_F(AppendDuplicates, NamesDifferingInCaseDoNotClash) {
    expect_accepted(Module().f4(1, {{9, "p1"}}).f5({{9, "e1"}}).e0({{9, 9, "b1"}}).end());
}

TEST_F(AppendDuplicates, ExternalAndDescriptorNamesNeverClash) {
    expect_accepted(Module()
                        .f4(1, {{9, "X1"}})
                        .f5({{9, "D1"}})
                        .f6({"P1", "E1"})
                        .f3(1, "B1", 0, 0, 0, 0)
                        .end());
}

TEST_F(AppendDuplicates, NameDefinedTwiceInTheNewModuleIsNotAClash) {
    expect_accepted(Module().f4(1, {{9, "N1"}}).f4(1, {{9, "N1"}}).f5({{9, "N1"}}).end());
}

class AppendClash : public LibraryE2E {};

TEST_F(AppendClash, SecondModuleOfOneRunIsRefusedNamingTheFirst) {
    write_module("A.QOB", defining({"S"}));
    write_module("B.QOB", defining({"T", "S"}));
    const RunResult r = append("RUN", {"A", "B"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "<RUN.LIB> CREATE\n\n<S>is multiple defined in B. others is A\n");
    EXPECT_FALSE(exists("RUN.LIB"));
    EXPECT_TRUE(working_files().empty());
}

TEST_F(AppendClash, FirstClashingNameInTableOrderIsReported) {
    write_module("M1.QOB", defining({"XX"}));
    write_module("M2.QOB", defining({"YY"}));
    ASSERT_EQ(append("LIB", {"M1", "M2"}).status, 0);
    write_module("N.QOB", Module().f4(1, {{1, "YY"}}).f5({{2, "XX"}}).end());
    const RunResult r = append("LIB", {"N"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\n<XX>is multiple defined in N. others is M1\n");
}

TEST_F(AppendClash, FirstDefiningModuleInTableOrderIsNamed) {
    write_module("M1.QOB", defining({"SAME"}));
    write_module("M2.QOB", defining({"OTHR"}));
    write_module("M3.QOB", defining({"ZZ"}));
    ASSERT_EQ(append("LIB", {"M3", "M1", "M2"}).status, 0);
    // Make M2 define SAME as well: a library this program would not write,
    // but one that others may.
    ByteVec bytes = read("LIB.LIB");
    const lib::Entry m2 = lib::parse(bytes).entries[2];
    const std::string from = "OTHR";
    auto first = bytes.begin() + static_cast<std::ptrdiff_t>(m2.offset);
    auto at = std::search(first, first + static_cast<std::ptrdiff_t>(m2.size), from.begin(),
                          from.end());
    ASSERT_NE(at, first + static_cast<std::ptrdiff_t>(m2.size));
    const std::string to = "SAME";
    std::copy(to.begin(), to.end(), at);
    write("LIB.LIB", bytes);

    write_module("N.QOB", defining({"SAME"}));
    const RunResult r = append("LIB", {"N"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\n<SAME>is multiple defined in N. others is M1\n");
}

TEST_F(AppendClash, SameFileTwiceIsRefusedOnlyWhenItDefinesSomething) {
    write_module("D.QOB", defining({"DS"}));
    const RunResult refused = append("LIB", {"D", "D"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "<LIB.LIB> CREATE\n\n<DS>is multiple defined in D. others is D\n");

    write_module("U.QOB", Module().f0().f6({"DS"}).f3(1, "U1", 0, 0, 0, 0).end());
    ASSERT_EQ(append("LIB", {"U", "U"}).status, 0);
    const RunResult again = append("LIB", {"U"});
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_EQ(again.out, count_lines(3, 3));
}

// The index of global names grows as modules come (all in one run) or is
// sized from the library's header (a library that exists): either way a
// clash with names indexed long before is found, and the earliest of them
// in table order is the one reported.
class AppendClashAmongMany : public LibraryE2E, public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(AppendClashAmongMany, EarliestClashIsFound) {
    const auto [modules, in_one_run] = GetParam();
    auto name = [](const char* format, int i, int j = 0) {
        char text[32];
        std::snprintf(text, sizeof text, format, i, j);
        return std::string(text);
    };
    NameList files;
    for (int i = 0; i < modules; ++i) {
        NameList names;
        for (int j = 0; j < 100; ++j) names.push_back(name("N%d_%d", i, j));
        files.push_back(name("D%d", i));
        write_module(files.back() + ".QOB", defining(names));
    }
    write_module("LATE.QOB", defining({"FRESH", name("N%d_50", modules - 1), "N0_7"}));
    if (in_one_run) {
        files.push_back("LATE");
    } else {
        ASSERT_EQ(append("LIB", files).status, 0);
        files = {"LATE"};
    }

    const RunResult r = append("LIB", files);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, std::string(in_one_run ? "<LIB.LIB> CREATE\n" : "") +
                         "\n<N0_7>is multiple defined in LATE. others is D0\n");
}

INSTANTIATE_TEST_SUITE_P(Append, AppendClashAmongMany,
                         ::testing::Combine(::testing::Values(1, 20, 90), ::testing::Bool()));

// ---- the module limit ----

TEST_F(Append, ThousandModulesAtMost) {
    // A module that defines nothing may be appended any number of times.
    write_module("E.QOB", Module().f0().end());
    ASSERT_EQ(append("BIG", NameList(999, "E")).status, 0);
    const ByteVec full = read("BIG.LIB");

    const RunResult two = append("BIG", {"E", "E"}, "-av");
    EXPECT_EQ(two.status, 1);
    EXPECT_EQ(two.out, "APPEND FILE = E.QOB,E.QOB\nToo many object module\n");
    EXPECT_EQ(read("BIG.LIB"), full);
    EXPECT_FALSE(exists("BIG.BAK"));
    EXPECT_TRUE(working_files().empty());

    const RunResult one = append("BIG", {"E"});
    EXPECT_EQ(one.status, 0) << one.out;
    EXPECT_EQ(one.out, count_lines(1000, 0));
    const ByteVec thousand = read("BIG.LIB");
    EXPECT_EQ(lib::parse(thousand).entries.size(), 1000u);

    const RunResult more = append("BIG", {"E"});
    EXPECT_EQ(more.status, 1);
    EXPECT_EQ(more.out, "\nToo many object module\n");
    EXPECT_EQ(read("BIG.LIB"), thousand);
    EXPECT_EQ(read("BIG.BAK"), full);
}

// ---- refusals: nothing of the run reaches the library ----

// MYLIB.LIB holds GOOD.QOB; each run appends GOOD2.QOB first, then the file
// under test, so a refusal comes after a module was already taken in.
class AppendRefusal : public LibraryE2E {
protected:
    void SetUp() override {
        LibraryE2E::SetUp();
        write_module("GOOD.QOB", defining({"G1"}));
        write_module("GOOD2.QOB", defining({"G2"}));
        ASSERT_EQ(append("MYLIB", {"GOOD"}).status, 0);
    }

    void expect_refused(const NameList& files, const std::string& message, int status) {
        const ByteVec before = read("MYLIB.LIB");
        const RunResult r = append("MYLIB", files);
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.out, message);
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.back(), '\a');
        EXPECT_EQ(read("MYLIB.LIB"), before);
        EXPECT_FALSE(exists("MYLIB.BAK"));
        EXPECT_TRUE(working_files().empty());
    }

    void expect_module_refused(const ByteVec& bad, const std::string& message) {
        write("BAD.QOB", bad);
        expect_refused({"GOOD2", "BAD"}, message, 1);
    }

    void expect_library_refused(const ByteVec& library, const std::string& message,
                                int status = 1) {
        write("MYLIB.LIB", library);
        expect_refused({"GOOD2"}, message, status);
    }

    ByteVec with_header(const std::string& version, const std::string& format,
                        const std::string& cpu, std::uint32_t modules) const {
        return lib::with_header(read("MYLIB.LIB"),
                                lib::header_bytes(version, format, cpu, modules, 1));
    }
};

const std::string kBadFile = "\nInvarid module or library BAD.QOB\n";
const std::string kBadLibrary = "\nInvarid module or library MYLIB.LIB\n";

TEST_F(AppendRefusal, FileThatCannotBeOpened) {
    expect_refused({"GOOD2", "NOSUCH"}, "\nCan't open <NOSUCH.QOB>\n", 3);
}

TEST_F(AppendRefusal, ByteThatIsNoRecordTag) {
    for (unsigned char tag : ByteVec{0xE7, 0xEF, 0xFB, 0xFE, 0x00, 0xDF}) {
        SCOPED_TRACE(static_cast<int>(tag));
        expect_module_refused(Module().f0().f4(1, {{1, "Q1"}}).raw({tag}).end().bytes(),
                              kBadFile);
    }
}

TEST_F(AppendRefusal, FileEndingBeforeItsEndMark) {
    expect_module_refused(Module().f0().f4(1, {{1, "Q1"}}).bytes(), kBadFile);
    expect_module_refused(Module().f0().raw({0xF4, 0x00, 0x01, 0x00, 0x00}).bytes(), kBadFile);
    expect_module_refused(Module().f0().raw({0xF1, 'A', 'B'}).bytes(), kBadFile);
    expect_module_refused({}, kBadFile);
}

TEST_F(AppendRefusal, StringLongerThan255Characters) {
    expect_module_refused(Module().f0().f1(std::string(256, 'L')).end().bytes(), kBadFile);
}

TEST_F(AppendRefusal, FormatOtherThanVerA) {
    expect_module_refused(Module().f0("VER.B").end().bytes(),
                          "\nInvarid module or library A0002\n");
    expect_module_refused(Module().f0().f4(1, {}).f0("ver.a").end().bytes(),
                          "\nInvarid module or library A0002\n");
}

TEST_F(AppendRefusal, F7EntryWhoseFirstItemIsNotF0F1OrF2) {
    for (const ByteVec& item : {qob::item_f3("N"), qob::item_byte(0x10)}) {
        const qob::F7Entry entry{1, 2, 3, 0x81, item, {}};
        expect_module_refused(Module().f0().f7(0, {entry}).end().bytes(), kBadFile);
    }
}

TEST_F(AppendRefusal, LibraryOfAnotherFormat) {
    expect_library_refused(with_header("V.4.00.00", "VER.B", "VRN100", 1),
                           "\nInvarid module or library A0001\n");
}

TEST_F(AppendRefusal, LibraryForAnotherCpu) {
    expect_library_refused(with_header("V.4.00.00", "VER.A", "VRN200", 1),
                           "\nCPU number error\n");
}

TEST_F(AppendRefusal, HeaderStringLongerThan31Characters) {
    expect_library_refused(with_header(std::string(32, 'V'), "VER.A", "VRN100", 1), kBadLibrary);
}

TEST_F(AppendRefusal, WrongTagInTheHeader) {
    ByteVec bytes = read("MYLIB.LIB");
    bytes.insert(bytes.begin(), {0xF5, 0x00});
    expect_library_refused(bytes, kBadLibrary);
}

TEST_F(AppendRefusal, LibraryEndingInItsHeaderOrTable) {
    expect_library_refused({0xF0, 'V', 0x00, 0xF1, 'V', 'E'}, kBadLibrary);
    expect_library_refused(lib::header_bytes("V.4.00.00", "VER.A", "VRN100", 0, 0), kBadLibrary);
}

TEST_F(AppendRefusal, WrongTagInTheModuleTable) {
    ByteVec bytes = read("MYLIB.LIB");
    const lib::Entry entry = lib::parse(bytes).entries[0];
    bytes[entry.f8_offset + 21] = 0xFB;  // the F9 tag
    expect_library_refused(bytes, kBadLibrary);
}

TEST_F(AppendRefusal, HeaderCountThatDisagreesWithTheTable) {
    expect_library_refused(with_header("V.4.00.00", "VER.A", "VRN100", 2), kBadLibrary);
    expect_library_refused(with_header("V.4.00.00", "VER.A", "VRN100", 0), kBadLibrary);
}

TEST_F(AppendRefusal, LibraryCutInsideABody) {
    ByteVec bytes = read("MYLIB.LIB");
    bytes.resize(bytes.size() - 3);
    expect_library_refused(bytes, "\nInvarid module or library S0004\n");
}

}  // namespace
