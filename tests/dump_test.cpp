// vornadump: the libraries and modules it finds broken, and where.
//
// The 240-byte library of one 100-byte module (made by the librarian) is
// damaged one byte or one field at a time; each damage must be reported
// at its offset, with exit status 1. Modules that append or replace would
// refuse are reported the same way. Every library the other end-to-end
// tests make is checked clean in LibraryE2E::library.
#include <algorithm>
#include <functional>
#include <string>

#include "dump/diff_parts.h"
#include "format/stdfnc.h"
#include "support/library_e2e.h"

using qob::ByteVec;
using qob::Module;

namespace {

void put_long(ByteVec& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<unsigned char>(v >> (24 - 8 * i));
}

// Replaces every occurrence of `from` by `to`, of the same length, or only
// the first (which lies in the module table, before the bodies).
void replace_all(ByteVec& b, const std::string& from, const std::string& to, bool first_only = false) {
    for (auto it = b.begin(); (it = std::search(it, b.end(), from.begin(), from.end())) != b.end();) {
        it = std::copy(to.begin(), to.end(), it);
        if (first_only) return;
    }
}

std::string dump_hex(std::size_t v) {
    char text[20];
    std::snprintf(text, sizeof text, "%zx", v);
    return text;
}

struct Damage {
    const char* name;
    std::function<void(ByteVec&)> apply;
    const char* line;  // the violation's line after "D.LIB: ", or a start of it
};

// Test names show the damage's name, not its bytes.
void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

// Offsets in the 240-byte library: header 0-36 (F3 count at 26, F4 at 31),
// entry 37-137 (F1 at 44, F2 at 53, F4 at 58, F5 at 87, F8 at 103, F9 at
// 124, end mark 137), table end mark 138, body 139-238 (its F4 at 146, F8
// at 162), end mark 239.
const Damage kDamages[] = {
    {"ModuleCount", [](ByteVec& b) { put_long(b, 27, 2); }, "offset 0x1a: hdr_modules is 2 (1: the entries of the module table)"},
    {"SymbolCount", [](ByteVec& b) { put_long(b, 32, 5); }, "offset 0x1f: hdr_symbols is 5 (1: "},
    {"HeaderRecordTwice", [](ByteVec& b) { b[31] = 0xF3; }, "offset 0x1f: a second header F3 record (F0, F1, F2, F3 and F4 once each)"},
    {"Format", [](ByteVec& b) { b[16] = 'B'; }, "offset 0xb: the header's format is \"VER.B\" (VER.A, or empty when no module has an F0 record)"},
    {"Cpu", [](ByteVec& b) { b[24] = '1'; }, "offset 0x12: the header's CPU is \"VRN101\" (VRN100, in any case)"},
    {"EntryOrder", [](ByteVec& b) { std::rotate(b.begin() + 37, b.begin() + 44, b.begin() + 53); }, "offset 0x2e: entry record F0 out of order (F0, F1, F2, F4, F5..., F6, FA, F3..., F7, F8, F9 in this order)"},
    {"EntryLen", [](ByteVec& b) { put_long(b, 45, 86); }, "offset 0x2c: entry_len is 86 (85: the entry's bytes after its F1 record)"},
    {"TailLen", [](ByteVec& b) { put_long(b, 49, 36); }, "offset 0x2c: tail_len is 36 (35: "},
    {"PubCount", [](ByteVec& b) { put_long(b, 59, 2); }, "offset 0x3a: pub_count is 2 (1: the symbols of the F5 records)"},
    {"PubSize", [](ByteVec& b) { put_long(b, 63, 17); }, "offset 0x3a: pub_size is 17 (16: the bytes of the F5 records)"},
    {"ExtCount", [](ByteVec& b) { put_long(b, 83, 1); }, "offset 0x3a: ext_count is 1 (0: "},
    {"ModSize", [](ByteVec& b) { put_long(b, 54, 101); }, "offset 0x35: mod_size is 101 (100: the bytes of the module's body)"},
    {"ModOffset", [](ByteVec& b) { put_long(b, 104, 140); }, "offset 0x67: mod_offset is 140 (139: where the module's body starts)"},
    {"Offset1F7", [](ByteVec& b) { put_long(b, 108, 7); }, "offset 0x67: offset1_f7 is 7 (0: the body's first F7 record)"},
    {"AbsF7", [](ByteVec& b) { put_long(b, 112, 5); }, "offset 0x67: abs_f7 is 5 (0: none)"},
    {"Offset1F8", [](ByteVec& b) { put_long(b, 116, 24); }, "offset 0x67: offset1_f8 is 24 (23: "},
    {"AbsF8", [](ByteVec& b) { put_long(b, 120, 163); }, "offset 0x67: abs_f8 is 163 (162: mod_offset + offset1_f8)"},
    {"ModTime", [](ByteVec& b) { b[134] = 12; }, "offset 0x7c: mod_time's month is 12 (0 to 11)"},
    {"EntrySymbol", [](ByteVec& b) { b[91] = 0x11; }, "offset 0x25: the entry's symbols are not those of its body"},
    {"EntryEndMark", [](ByteVec& b) { b[137] = 0; }, "offset 0x89: byte 0x00 where an entry record belongs"},
    {"TableEndMark", [](ByteVec& b) { b[138] = 0; }, "offset 0x8a: byte 0x00 where an entry or the table's end mark belongs"},
    {"BodyTag", [](ByteVec& b) { b[146] = 0xE7; }, "offset 0x92: byte 0xE7 where a record tag belongs"},
    {"BodyFormat", [](ByteVec& b) { b[144] = 'B'; }, "offset 0x8b: the F0 record holds \"VER.B\": append refuses the module (VER.A)"},
    {"BodyCutOff", [](ByteVec& b) { b.resize(200); }, "offset 0xa2: the F8 record is cut off by the end of the file"},
    {"BodySectionEndMark", [](ByteVec& b) { b[239] = 0; }, "offset 0xef: byte 0x00 where the body section's end mark belongs (FF after the last body)"},
    {"LastByte", [](ByteVec& b) { b.push_back(0xFF); }, "offset 0xf0: 1 byte after the body section's end mark (the file ends with the end mark)"},
};

}  // namespace

class Dump : public LibraryE2E {
protected:
    // The 240-byte library: one module of 100 bytes with the public symbol
    // START and one F8 record of 65 bytes, appended by the librarian.
    ByteVec example() {
        ByteVec block(65, 0x5A);
        write_module("A.QOB", Module().f0().f4(1, {{0x1000, "START"}}).f8(1, {block}).end());
        set_mtime("A.QOB", 2024, 1, 5, 8, 30, 0);
        EXPECT_EQ(append("MYLIB", {"A"}).status, 0);
        ByteVec bytes = read("MYLIB.LIB");
        EXPECT_EQ(bytes.size(), 240u);
        return bytes;
    }

    // vornadump --check of `bytes` as `name`: its status, and its output.
    RunResult check(const std::string& name, const ByteVec& bytes) {
        write(name, bytes);
        return run_dump({"--check", name});
    }

    static bool has_line(const std::string& out, const std::string& line) {
        return ("\n" + out).find("\n" + line) != std::string::npos;
    }
};

class DumpDamage : public Dump, public ::testing::WithParamInterface<Damage> {};

TEST_P(DumpDamage, IsReportedAtItsOffset) {
    ByteVec bytes = example();
    GetParam().apply(bytes);
    const RunResult r = check("D.LIB", bytes);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(has_line(r.out, std::string("D.LIB: ") + GetParam().line)) << r.out;
    EXPECT_TRUE(has_line(r.out, "D.LIB: ") && r.out.find(" violation") != std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Library, DumpDamage, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Dump, TheExampleIsCleanAndShowsEveryPart) {
    write("MYLIB.LIB", example());
    const RunResult checked = run_dump({"--check", "MYLIB.LIB"});
    EXPECT_EQ(checked.status, 0);
    EXPECT_EQ(checked.out, "MYLIB.LIB: no violations\n");

    const RunResult shown = run_dump({"MYLIB.LIB"});
    EXPECT_EQ(shown.status, 0);
    for (const char* line : {"MYLIB.LIB: library, 240 bytes", "  0x0035  F2 body size: mod_size 0x00000064",
                             "  0x0057  F5 public symbols: block 0x0001", "          symbol: value 0x001000 name \"START\"",
                             "module table: end mark at 0x008a", "body 1 at 0x008b", "          0x00a5 length 0x00000041",
                             "          0x00a9 contents 65 bytes", "body section: end mark at 0x00ef",
                             "    public   \"START\" = 0x001000 (block 0x0001)"}) {
        EXPECT_TRUE(has_line(shown.out, line)) << line << "\n" << shown.out;
    }
}

// Two modules whose names or global symbols the damage makes alike.
TEST_F(Dump, NamesThatClashAreReported) {
    write_module("A.QOB", defining({"AAA"}));
    write_module("B.QOB", defining({"BBB"}));
    ASSERT_EQ(append("TWO", {"A", "B"}).status, 0);
    const ByteVec two = read("TWO.LIB");
    const std::size_t second = 37 + 7 + 9 + 5 + 29 + 14 + 21 + 13 + 1;  // the second entry, after one of 99 bytes

    ByteVec same_symbol = two;
    replace_all(same_symbol, "BBB", "AAA");
    RunResult r = check("S.LIB", same_symbol);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_line(r.out, "S.LIB: offset 0x" + dump_hex(second) +
                                    ": global name \"AAA\" of B.QOB is defined by A.QOB too")) << r.out;

    ByteVec case_only = two;
    replace_all(case_only, "B.QOB", "a.QOB");
    r = check("C.LIB", case_only);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_line(r.out, "C.LIB: offset 0x" + dump_hex(second) +
                                    ": module names \"a.QOB\" and \"A.QOB\" differ only in letter case")) << r.out;
}

struct ModuleCase {
    const char* name;
    ByteVec bytes;
    const char* line;  // after "M.QOB: "; empty for a clean module
};

void PrintTo(const ModuleCase& m, std::ostream* os) { *os << m.name; }

class DumpModule : public Dump, public ::testing::WithParamInterface<ModuleCase> {};

TEST_P(DumpModule, Check) {
    const RunResult r = check("M.QOB", GetParam().bytes);
    const std::string line = GetParam().line;
    if (line.empty()) {
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, "M.QOB: no violations\n");
    } else {
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_TRUE(has_line(r.out, "M.QOB: " + line)) << r.out;
    }
}

const qob::F7Entry kF7{0x10, 1, 2, 0x81, qob::item_f1("T"), {qob::item_byte(0xF4), qob::item_f3("S")}};
const qob::F7Entry kBadF7{0x10, 1, 2, std::nullopt, qob::item_f3("S"), {}};

INSTANTIATE_TEST_SUITE_P(
    Modules, DumpModule,
    ::testing::Values(
        ModuleCase{"EveryRecord",
                   Module().f0().f1("T").f2("A", {"B"}, {"C"}).f3(1, "SEG", 1, 2, 3, 4).f4(1, {{1, "P"}})
                       .f5({{2, "E"}}).f6({"X"}).f7(1, {kF7}).f8(1, {{1}}).e0({{1, 2, "BIT"}}).f9(1, {{1, "N"}})
                       .fa({{1, "N"}}).e1({{1, 2, "N"}}).e2(1, "T", {1, 2, 3, 4, 5, 6, 7, 8}).e3(1, {{1, 2}})
                       .e4(1, {{"G", {{1, 2}}}}).e5("T").e6(1).end().bytes(),
                   ""},
        ModuleCase{"OnlyFF", Module().end().bytes(), "offset 0x0: the module begins with FF, so replace refuses it (an F0 record first)"},
        ModuleCase{"OtherFormat", Module().f0("VER.B").end().bytes(), "offset 0x0: the F0 record holds \"VER.B\": append refuses the module (VER.A)"},
        ModuleCase{"SymbolsAfterF9", Module().f0().f9(1, {}).f4(1, {{1, "P"}}).end().bytes(),
                   "offset 0xe: F4 record after the first F9, FA or E1 to E6 record"},
        ModuleCase{"BytesAfterFF", Module().f0().end().raw({1, 2}).bytes(), "offset 0x8: 2 bytes after the module's FF (the file ends with its FF)"},
        ModuleCase{"NoTag", Module().f0().raw({0xE7}).end().bytes(), "offset 0x7: byte 0xE7 where a record tag belongs"},
        ModuleCase{"NoFF", Module().f0().bytes(), "offset 0x7: the module ends before its FF (an FF record)"},
        ModuleCase{"CutOff", Module().f0().raw({0xF4, 0, 1, 0}).bytes(), "offset 0x7: the F4 record is cut off by the end of the file"},
        ModuleCase{"BadFirstF7Item", Module().f0().f7(0, {kBadF7}).end().bytes(),
                   "offset 0xf: an F7 entry's first item is 0xF3 (an item F0, F1 or F2)"},
        ModuleCase{"F2WithoutF0", Module().f0().raw({0xF2, 0xF1, 0}).end().bytes(),
                   "offset 0x7: the F2 record does not begin with its F0 sub-record (F0)"},
        ModuleCase{"HugeF8Block", Module().f0().raw({0xF8, 0, 1, 0x7F, 0xFF, 0xFF, 0xFF}).end().bytes(),
                   "offset 0x7: the F8 record is cut off by the end of the file"},
        ModuleCase{"LongString", Module().f0().raw({0xF1}).raw(ByteVec(300, 'x')).raw({0}).end().bytes(),
                   "offset 0x7: a string of the F1 record is longer than 255 characters"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Dump, ExitStatusesForUsageAndUnreadableFiles) {
    EXPECT_EQ(run_dump({}).status, 2);
    EXPECT_EQ(run_dump({"--bogus", "X.LIB"}).status, 2);
    const RunResult missing = run_dump({"--check", "NONE.LIB"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.err.find("NONE.LIB"), std::string::npos) << missing.err;
    // A file that cannot be read outweighs a broken one, which outweighs a clean one.
    write("M.QOB", Module().end().bytes());
    EXPECT_EQ(run_dump({"--check", "M.QOB", "NONE.LIB"}).status, 3);
    EXPECT_EQ(run_dump({"--check", "M.QOB"}).status, 1);
    EXPECT_EQ(run_dump({"M.QOB"}).status, 0);  // without --check only a file that cannot be read through is broken
}

TEST_F(Dump, ReadingIsForcedOrTakenFromTheContent) {
    write("A.BIN", Module().f0().end().bytes());
    EXPECT_EQ(run_dump({"A.BIN"}).out.rfind("A.BIN: module, 8 bytes\n", 0), 0u);
    EXPECT_EQ(run_dump({"--lib", "A.BIN"}).out.rfind("A.BIN: library, 8 bytes\n", 0), 0u);
    // Read as a library, the module ends where its module table should begin.
    const RunResult forced = run_dump({"--lib", "--check", "A.BIN"});
    EXPECT_EQ(forced.status, 1);
    EXPECT_TRUE(has_line(forced.out, "A.BIN: offset 0x8: the file ends where an entry or the table's end mark belongs")) << forced.out;
    write("L.BIN", example());
    EXPECT_EQ(run_dump({"L.BIN"}).out.rfind("L.BIN: library, 240 bytes\n", 0), 0u);
    EXPECT_EQ(run_dump({"--qob", "L.BIN"}).out.rfind("L.BIN: module, 240 bytes\n", 0), 0u);
}

// Replace collects nothing from a module's records after its first F9, FA or
// E1 to E6 record, append collects everything: an entry made either way
// agrees with its body.
TEST_F(Dump, EntriesOfAppendAndOfReplaceAgreeWithTheirBodies) {
    const Module late = Module().f0().f4(1, {{1, "EARLY"}}).f9(1, {}).f4(2, {{2, "LATE"}}).f8(1, {{1}}).end();
    write_module("L.QOB", late);
    set_mtime("L.QOB", 2024, 1, 1, 0, 0, 0);
    ASSERT_EQ(append("LIB", {"L"}).status, 0);
    EXPECT_EQ(library("LIB.LIB").entries.at(0).publics.size(), 2u);  // checked there too

    set_mtime("L.QOB", 2025, 1, 1, 0, 0, 0);
    ASSERT_EQ(run({"-r", "-o", "LIB", "-f", "L"}).status, 0);
    const lib::Library replaced = library("LIB.LIB");
    EXPECT_EQ(replaced.entries.at(0).publics.size(), 1u);
    EXPECT_EQ(replaced.entries.at(0).f8[lib::kOffset1F8], 0u);  // the F8 record follows the F9 record

    // An entry that holds neither view is reported.
    ByteVec bytes = read("LIB.LIB");
    replace_all(bytes, "EARLY", "EARLZ", true);
    const RunResult r = check("D.LIB", bytes);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_line(r.out, "D.LIB: offset 0x25: the entry's symbols are not those of its body")) << r.out;
}

// vornadump --diff: a library of three modules against another made of the
// same or of changed modules, each library appended by the librarian.
struct Mod {
    const char* name;  // without its extension
    Module module;
};

const Module kOne = Module().f0().f4(1, {{0x1000, "START"}}).f8(1, {{1, 2, 3}}).end();
const Module kTwo = Module().f0().f4(1, {{0x2000, "TWO"}}).f6({"START"}).end();
const Module kThree = Module().f0().f5({{7, "SEVEN"}}).end();
const std::vector<Mod> kBase = {{"ONE", kOne}, {"TWO", kTwo}, {"THREE", kThree}};

struct DiffCase {
    const char* name;
    std::vector<Mod> b;  // B's modules
    int hour_b;          // the hour of B's module times (A's: 8)
    NameList options;
    int status;
    std::string out;  // before the count line
    int count;        // differences
};

void PrintTo(const DiffCase& d, std::ostream* os) { *os << d.name; }

class DumpDiff : public Dump, public ::testing::WithParamInterface<DiffCase> {
protected:
    // The library NAME.LIB of `modules`, each written at 5 January 2024, hour:30.
    void make_library(const std::string& name, const std::vector<Mod>& modules, int hour) {
        NameList names;
        for (const Mod& m : modules) {
            write_module(std::string(m.name) + ".QOB", m.module);
            set_mtime(std::string(m.name) + ".QOB", 2024, 1, 5, hour, 30, 0);
            names.push_back(m.name);
        }
        ASSERT_EQ(append(name, names).status, 0);
    }
};

TEST_P(DumpDiff, TellsWhatDiffers) {
    const DiffCase& c = GetParam();
    make_library("A", kBase, 8);
    make_library("B", c.b, c.hour_b);
    NameList args = {"--diff"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {"A.LIB", "B.LIB"});
    const RunResult r = run_dump(args);
    EXPECT_EQ(r.status, c.status) << r.err;
    const std::string count = c.count == 0 ? "no differences" : std::to_string(c.count) + (c.count == 1 ? " difference" : " differences");
    const std::string times = c.options.empty() ? "" : ", module times left out";
    EXPECT_EQ(r.out, c.out + "A.LIB (A) and B.LIB (B): " + count + times + "\n");
}

const Module kOneMoved = Module().f0().f4(1, {{0x1010, "START"}}).f8(1, {{1, 2, 3}}).end();

INSTANTIATE_TEST_SUITE_P(
    Libraries, DumpDiff,
    ::testing::Values(
        DiffCase{"Identical", kBase, 8, {}, 0, "", 0},
        // The same modules put in by a run nine hours ahead of the first.
        DiffCase{"TimesOnly", kBase, 17, {}, 1,
                 "ONE.QOB: mod_time: 2024-01-05 08:30:00 in A, 2024-01-05 17:30:00 in B\n"
                 "TWO.QOB: mod_time: 2024-01-05 08:30:00 in A, 2024-01-05 17:30:00 in B\n"
                 "THREE.QOB: mod_time: 2024-01-05 08:30:00 in A, 2024-01-05 17:30:00 in B\n",
                 3},
        DiffCase{"TimesIgnored", kBase, 17, {"--ignore-times"}, 0, "", 0},
        // Every body and entry moves, and none of that is a difference.
        DiffCase{"AddedAtTheStart", {{"NEW", Module().f0().f4(1, {{0x3000, "NEW"}}).end()}, kBase[0], kBase[1], kBase[2]}, 8, {}, 1,
                 "header modules: 3 in A, 4 in B\nheader symbols: 4 in A, 5 in B\nonly in B: NEW.QOB (module 1 of B)\n", 3},
        DiffCase{"Removed", {kBase[0], kBase[2]}, 8, {}, 1,
                 "header modules: 3 in A, 2 in B\nheader symbols: 4 in A, 2 in B\nonly in A: TWO.QOB (module 2 of A)\n", 3},
        // Paired in any letter case, as the librarian selects modules.
        DiffCase{"NameCase", {{"one", kOne}, kBase[1], kBase[2]}, 8, {}, 1,
                 "ONE.QOB: mod_name: \"ONE.QOB\" in A, \"one.QOB\" in B\n", 1},
        DiffCase{"Reordered", {kBase[2], kBase[0], kBase[1]}, 8, {}, 1,
                 "order: 1 of the 3 modules both hold moved among them: THREE.QOB (number 3 in A, 1 in B)\n", 1},
        // The value's last byte, in the F4 record's one entry.
        DiffCase{"SymbolValue", {{"ONE", kOneMoved}, kBase[1], kBase[2]}, 8, {}, 1,
                 "ONE.QOB: public START: 0x001000 in A, 0x001010 in B\n"
                 "ONE.QOB: body: first difference at offset 0x000c, in its F4 record (public symbols) at 0x0007: 0x00 in A, 0x10 in B\n",
                 2},
        // The F6 record's names end at 0x1c in A; B names PUTS there.
        DiffCase{"ExternalAdded", {kBase[0], {"TWO", Module().f0().f4(1, {{0x2000, "TWO"}}).f6({"START", "PUTS"}).end()}, kBase[2]}, 8, {}, 1,
                 "header symbols: 4 in A, 5 in B\nTWO.QOB: mod_size: 30 in A, 35 in B\nTWO.QOB: ext_count: 1 in A, 2 in B\n"
                 "TWO.QOB: external PUTS: only in B\n"
                 "TWO.QOB: body: first difference at offset 0x001c, in its F6 record (external symbols) at 0x0015: 0x00 in A, 0x50 in B\n",
                 5},
        DiffCase{"BodyByte", {{"ONE", Module().f0().f4(1, {{0x1000, "START"}}).f8(1, {{1, 9, 3}}).end()}, kBase[1], kBase[2]}, 8, {}, 1,
                 "ONE.QOB: body: first difference at offset 0x001f, in its F8 record (contents) at 0x0017, field contents: 0x02 in A, 0x09 in B\n",
                 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DumpDiff, ComparesTwoModules) {
    write_module("A.QOB", kOne);
    write_module("B.QOB", kOneMoved);
    const RunResult r = run_dump({"--diff", "A.QOB", "B.QOB"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "public START: 0x001000 in A, 0x001010 in B\n"
                     "body: first difference at offset 0x000c, in its F4 record (public symbols) at 0x0007: 0x00 in A, 0x10 in B\n"
                     "A.QOB (A) and B.QOB (B): 2 differences\n");
    EXPECT_EQ(run_dump({"--diff", "A.QOB", "A.QOB"}).status, 0);
}

// Status 2 for a library against a module and for a file that is neither
// (with what --check finds in it), 3 for one that cannot be opened; none
// of them writes a comparison.
TEST_F(DumpDiff, RefusesWhatItCannotCompare) {
    make_library("A", kBase, 8);
    write_module("ONE.QOB", kOne);
    ByteVec cut = read("A.LIB");
    cut.resize(cut.size() - 20);
    write("CUT.LIB", cut);
    write("JUNK.LIB", ByteVec{0xF0, 'V', '.', 0, 0x12, 0x34});
    // 1001 entries of empty modules: more than a library holds, and more
    // than a comparison keeps.
    qob::Bytes big;
    big.u8(0xF0).str("V.4.00.00").u8(0xF1).str("VER.A").u8(0xF2).str("VRN100").u8(0xF3).u32(1001).u8(0xF4).u32(0).u8(0xFF);
    for (int i = 0; i < 1001; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "M%04d.QOB", i);
        big.u8(0xF0).str(name).u8(0xF1).u32(69).u32(35).u8(0xF2).u32(1);
        big.u8(0xF4).raw(ByteVec(28)).u8(0xF8).raw(ByteVec(20)).u8(0xF9).raw(ByteVec(12)).u8(0xFF);
    }
    big.u8(0xFF).raw(ByteVec(1002, 0xFF));
    write("BIG.LIB", big.bytes());
    struct Refusal {
        NameList args;
        int status;
        const char* err;
    };
    for (const Refusal& c : {Refusal{{"A.LIB", "ONE.QOB"}, 2, "A.LIB is a library, ONE.QOB a module"},
                             Refusal{{"A.LIB", "CUT.LIB"}, 2, "CUT.LIB: not a readable library; vornadump --check finds:\nCUT.LIB: offset 0x"},
                             Refusal{{"JUNK.LIB", "A.LIB"}, 2, "JUNK.LIB: offset 0x4: byte 0x12 where a header record belongs"},
                             Refusal{{"BIG.LIB", "BIG.LIB"}, 2, "BIG.LIB: offset 0x15c26: the module table holds 1001 entries (1 to 1000 modules)"},
                             Refusal{{"A.LIB", "NONE.LIB"}, 3, "NONE.LIB: cannot be read"},
                             Refusal{{"A.LIB"}, 2, "usage: vornadump"},
                             Refusal{{"--check", "A.LIB", "A.LIB"}, 2, "usage: vornadump"}}) {
        NameList args = {"--diff"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = run_dump(args);
        EXPECT_EQ(r.status, c.status) << c.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(run_dump({"--ignore-times", "A.LIB"}).status, 2);  // only a comparison leaves times out
}

// The bytes of two bodies are compared a block of each side at a time; the
// blocks of the two sides (7 and 5 bytes here) end in different places, and
// a difference is found wherever it lies.
TEST(DiffBytes, FindsTheFirstDifferenceAcrossBlocks) {
    ByteVec a(60);
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<unsigned char>(i);
    auto first_difference = [&a](const ByteVec& b, int64_t n, int64_t m) {
        std::FILE* fa = std::tmpfile();
        std::FILE* fb = std::tmpfile();
        std::fwrite(a.data(), 1, a.size(), fa);
        std::fwrite(b.data(), 1, b.size(), fb);
        std::rewind(fa);
        std::rewind(fb);
        InputFile in_a(7), in_b(5);
        in_a.attach(fa, "A");
        in_b.attach(fb, "B");
        RecIn ra(in_a), rb(in_b);
        const int64_t at = dump::first_difference(ra, n, rb, m);
        std::fclose(fa);
        std::fclose(fb);
        return at;
    };
    EXPECT_EQ(first_difference(a, 60, 60), -1);
    EXPECT_EQ(first_difference(a, 60, 41), 41);  // B is the first 41 bytes of A
    for (int64_t at : {0, 4, 5, 6, 7, 34, 35, 59}) {
        ByteVec b = a;
        b[static_cast<std::size_t>(at)] ^= 0x80;
        EXPECT_EQ(first_difference(b, 60, 60), at);
    }
    // A side whose file ends before its size is a broken input.
    EXPECT_THROW(first_difference(ByteVec(a.begin(), a.begin() + 30), 60, 60), FormatError);
}
