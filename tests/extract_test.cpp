// End-to-end tests of extract and of the module selection that extract,
// delete and replace share: modules come back byte for byte under bare
// names in the current directory, every given name is checked against the
// module table before anything is written, and hostile libraries are refused
// without writing outside the current directory.

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/edit_fixture.h"

using edit::ByteVec;
using edit::cat;
using edit::Crafted;
using edit::invalid;
using edit::message;
using edit::sep;

namespace {

const ByteVec kEmptyModule{0xFF};
const ByteVec kTrailer{0x12, 0xFF, 0x00};

// A.QOB with every record kind, B.QOB empty, C.QOB with bytes after its FF:
// 5 + 0 + 1 global symbols.
std::vector<edit::ModFile> three_files() {
    return {{"A.QOB", edit::rich_module("A")},
            {"B.QOB", kEmptyModule},
            {"C.QOB", cat(edit::small_module("C_S", 3), kTrailer)}};
}

std::string not_in_library(const std::string& name) {
    return message("<" + name + ">module is not in the library");
}

}  // namespace

class ExtractTest : public EditTest {};

TEST_F(ExtractTest, WithoutNamesEveryModuleComesBackThroughItsEndMark) {
    ASSERT_NO_FATAL_FAILURE(make_library(three_files()));
    const ByteVec lib = read(kLib);
    for (const auto& file : three_files()) remove(file.first);

    const RunResult r = edit_run("-Xv");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "EXTRACT FILE = A.QOB,B.QOB,C.QOB\n" + count_lines(3, 6));
    EXPECT_EQ(read("A.QOB"), edit::rich_module("A"));
    EXPECT_EQ(read("B.QOB"), kEmptyModule);
    EXPECT_EQ(read("C.QOB"), edit::small_module("C_S", 3));
    EXPECT_EQ(list_dir(), (NameList{"A.QOB", "B.QOB", "C.QOB", kLib}));
    EXPECT_TRUE(read(kLib) == lib) << "the library was changed";
}

TEST_F(ExtractTest, NamedModulesAreWrittenInLibraryOrderUnderTheGivenSpelling) {
    ASSERT_NO_FATAL_FAILURE(make_library(three_files()));
    const ByteVec lib = read(kLib);
    for (const auto& file : three_files()) remove(file.first);

    const RunResult r = edit_run("-xv", {"c", "A"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "EXTRACT FILE = A.QOB,c.QOB\n" + count_lines(3, 6));
    EXPECT_EQ(list_dir(), (NameList{"A.QOB", kLib, "c.QOB"}));
    EXPECT_EQ(read("A.QOB"), edit::rich_module("A"));
    EXPECT_EQ(read("c.QOB"), edit::small_module("C_S", 3));
    EXPECT_TRUE(read(kLib) == lib) << "the library was changed";
}

TEST_F(ExtractTest, WithoutVerboseOnlyTheCountsArePrinted) {
    ASSERT_NO_FATAL_FAILURE(make_library(three_files()));
    const RunResult r = edit_run("-x", {"B"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, count_lines(3, 6));
    EXPECT_EQ(read("B.QOB"), kEmptyModule);
}

TEST_F(ExtractTest, OutputNameReplacesOnlyTheLastExtension) {
    ASSERT_NO_FATAL_FAILURE(make_library({{"A.B.QOB", edit::small_module("AB", 1)},
                                          {"IO.X", edit::small_module("IO", 2)}}));
    remove("A.B.QOB");
    const RunResult r = edit_run("-xv");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "EXTRACT FILE = A.B.QOB,IO.QOB\n" + count_lines(2, 2));
    EXPECT_EQ(list_dir(), (NameList{"A.B.QOB", "IO.QOB", "IO.X", kLib}));
    EXPECT_EQ(read("A.B.QOB"), edit::small_module("AB", 1));
    EXPECT_EQ(read("IO.QOB"), edit::small_module("IO", 2));
}

TEST_F(ExtractTest, StoredNameWithoutExtensionGetsQob) {
    write(kLib, edit::craft_library({edit::crafted("IO", edit::small_module("", 7))}));
    const RunResult r = edit_run("-xv");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "EXTRACT FILE = IO.QOB\n" + count_lines(1, 0));
    EXPECT_EQ(read("IO.QOB"), edit::small_module("", 7));
}

TEST_F(ExtractTest, ModulesDifferingOnlyInExtensionEndInOneFileTheLaterWins) {
    ASSERT_NO_FATAL_FAILURE(make_library({{"A.QOB", edit::small_module("S1", 1)},
                                          {"A.ABC", edit::small_module("S2", 2)}}));
    remove("A.QOB");
    const RunResult r = edit_run("-x");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read("A.QOB"), edit::small_module("S2", 2));
}

TEST_F(ExtractTest, GivenDirectoryIsDroppedFromTheOutputName) {
    ASSERT_NO_FATAL_FAILURE(make_library({{"IO.QOB", edit::rich_module("IO")}}));
    remove("IO.QOB");
    std::filesystem::create_directory(path("sub"));
    NameList names{"sub\\io"};
    if (!windows_target()) names.push_back("sub/io");
    for (const std::string& name : names) {
        const RunResult r = edit_run("-xv", {name});
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.out, "EXTRACT FILE = io.QOB\n" + count_lines(1, 5)) << name;
        EXPECT_EQ(list_dir(), (NameList{kLib, "io.QOB", "sub"})) << name;
        EXPECT_TRUE(std::filesystem::is_empty(path("sub"))) << name;
        EXPECT_EQ(read("io.QOB"), edit::rich_module("IO")) << name;
        remove("io.QOB");
    }
}

TEST_F(ExtractTest, OutputThatCannotBeCreatedStopsTheRunAndKeepsEarlierFiles) {
    ASSERT_NO_FATAL_FAILURE(make_library(three_files()));
    for (const auto& file : three_files()) remove(file.first);
    std::filesystem::create_directory(path("B.QOB"));

    const RunResult r = edit_run("-x");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, message("Can't open <B.QOB>"));
    EXPECT_EQ(read("A.QOB"), edit::rich_module("A"));
    EXPECT_FALSE(exists("C.QOB"));
}

TEST_F(ExtractTest, LibraryWithoutModules) {
    write(kLib, edit::craft_library({}));
    const RunResult all = edit_run("-xv");
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.out, "EXTRACT FILE = \n" + count_lines(0, 0));
    EXPECT_EQ(list_dir(), NameList{kLib});

    const RunResult named = edit_run("-x", {"A"});
    EXPECT_EQ(named.status, 1);
    EXPECT_EQ(named.out, not_in_library("A.QOB"));
}

// ---- a library of more modules than the historic 256-entry table ----

class ExtractMany : public EditTest {
protected:
    static constexpr int kCount = 300;
    void SetUp() override {
        EditTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(make_numbered_library(kCount));
    }
};

TEST_F(ExtractMany, ExtractWritesEveryModule) {
    const RunResult r = edit_run("-x");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, count_lines(kCount, 0));
    ASSERT_EQ(list_dir().size(), static_cast<std::size_t>(kCount + 1));
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(read(numbered_name(i)), numbered_body(i)) << numbered_name(i);
    }
}

TEST_F(ExtractMany, ExtractOneNearTheEnd) {
    const RunResult r = edit_run("-xv", {"m297"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "EXTRACT FILE = m297.QOB\n" + count_lines(kCount, 0));
    EXPECT_EQ(list_dir(), (NameList{kLib, "m297.QOB"}));
    EXPECT_EQ(read("m297.QOB"), numbered_body(297));
}

// ---- selection, alike in extract, delete and replace ----

class EditSelection : public EditTest {
protected:
    // A refusal of every editing command, verbose, before its heading.
    void expect_all_refuse(const NameList& names, const std::string& out) {
        const auto before = snapshot();
        for (const char* command : {"-xv", "-dv", "-rv"}) {
            SCOPED_TRACE(command);
            expect_refused(edit_run(command, names), 1, out, before);
        }
    }
};

TEST_F(EditSelection, NameMatchingNothingIsNamedWithItsDefaultExtension) {
    ASSERT_NO_FATAL_FAILURE(make_library(three_files()));
    expect_all_refuse({"A", "zz"}, not_in_library("zz.QOB"));
    expect_all_refuse({"A", "B.X"}, not_in_library("B.X"));
}

TEST_F(EditSelection, NameGivenTwiceFailsOnItsSecondOccurrence) {
    ASSERT_NO_FATAL_FAILURE(make_library(three_files()));
    expect_all_refuse({"C", "a", "B", sep() + "x" + sep() + "A"},
                      not_in_library(sep() + "x" + sep() + "A.QOB"));
}

TEST_F(EditSelection, TwoModulesMatchingOneNameNameTheLibrary) {
    ASSERT_NO_FATAL_FAILURE(make_library({{"d1" + sep() + "IO.QOB", edit::small_module("S1", 1)},
                                          {"d2" + sep() + "io.QOB", edit::small_module("S2", 2)}}));
    expect_all_refuse({"io"}, not_in_library(kLib));
}

TEST_F(EditSelection, CaseAndDirectoryOfAGivenNameAreIgnored) {
    ASSERT_NO_FATAL_FAILURE(make_library(three_files()));
    for (const auto& file : three_files()) remove(file.first);
    const RunResult r = edit_run("-xv", {".." + sep() + "src" + sep() + "b", "c:a.qob"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "EXTRACT FILE = a.qob,b.QOB\n" + count_lines(3, 6));
    EXPECT_EQ(read("a.qob"), edit::rich_module("A"));
    EXPECT_EQ(read("b.QOB"), kEmptyModule);
}

// ---- hostile and damaged libraries ----

class EditHostileLibrary : public EditTest {
protected:
    // Every editing command refuses the library with `out`, leaving everything.
    void expect_all_refuse(const ByteVec& lib, const std::string& out) {
        write(kLib, lib);
        write("A.QOB", edit::small_module("SA", 1));
        const auto before = snapshot();
        for (const char* command : {"-x", "-d", "-r"}) {
            SCOPED_TRACE(command);
            expect_refused(edit_run(command, {"A"}), 1, out, before);
        }
    }
    static Crafted module_a() { return edit::crafted("A.QOB", edit::small_module("SA", 1)); }
    static Crafted module_b() { return edit::crafted("B.QOB", edit::small_module("SB", 2)); }
    // Files next to the working directory, apart from the captured output.
    NameList outside_files() const {
        NameList names;
        for (const auto& entry : std::filesystem::directory_iterator(dir().parent_path())) {
            const std::string name = entry.path().filename().string();
            if (name != "work" && name.rfind("run", 0) != 0) names.push_back(name);
        }
        return names;
    }
    // A public-symbol record of the module table.
    static ByteVec f5_record() {
        return qob::Bytes().u8(0xF5).word(1).tri(0x10).str("SA").tri(0).str("").bytes();
    }
};

TEST_F(EditHostileLibrary, TableRecordOutOfPlace) {
    Crafted hidden = module_a();
    hidden.after_f4 = f5_record();
    hidden.entry_len = 69;  // does not cover the F5 record
    expect_all_refuse(edit::craft_library({module_b(), hidden}), invalid("R0004"));

    Crafted late = module_a();
    late.after_f8 = f5_record();
    expect_all_refuse(edit::craft_library({late, module_b()}), invalid("R0004"));

    Crafted foreign = module_a();
    foreign.after_f4 = {0xE0};  // a body tag in the table
    foreign.entry_len = 69;
    expect_all_refuse(edit::craft_library({foreign}), invalid("R0004"));
}

TEST_F(EditHostileLibrary, TableCutShort) {
    const ByteVec whole = edit::craft_library({module_a(), module_b()});
    const std::size_t header = 37;
    for (std::size_t keep : {header, header + 5, header + 100, header + 161}) {
        SCOPED_TRACE(keep);
        expect_all_refuse(ByteVec(whole.begin(), whole.begin() + keep), invalid("R0004"));
    }
}

TEST_F(EditHostileLibrary, EntryLengthBelowTheFixedRecordsOrPastTheEnd) {
    for (std::int32_t len : {68, 0, -1, 0x7FFFFFFF, 100000}) {
        SCOPED_TRACE(len);
        Crafted bad = module_b();
        bad.entry_len = len;
        expect_all_refuse(edit::craft_library({module_a(), bad}), invalid("R0004"));
    }
}

TEST_F(EditHostileLibrary, ExtractRefusesABodySizeThatLeavesTheLibrary) {
    for (std::int32_t size : {-1, -1000, 1000, 0x7FFFFFFF}) {
        SCOPED_TRACE(size);
        Crafted bad = module_a();
        bad.mod_size = size;
        write(kLib, edit::craft_library({bad, module_b()}));
        const RunResult r = edit_run("-x");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, invalid(kLib));
        for (const std::string& name : list_dir()) {
            EXPECT_TRUE(name == kLib || name == "A.QOB") << name;
        }
        remove("A.QOB");
    }
    EXPECT_EQ(outside_files(), NameList{});
}

TEST_F(EditHostileLibrary, StoredDirectoriesAndDrivesNeverLeaveTheCurrentDirectory) {
    // Up a directory, an absolute path (the test's own directory), a drive.
    const std::string absolute = (dir().parent_path() / "evil2.QOB").string();
    write(kLib, edit::craft_library(
                    {edit::crafted(".." + sep() + "evil1.QOB", edit::small_module("", 1)),
                     edit::crafted(absolute, edit::small_module("", 2)),
                     edit::crafted("C:evil3.QOB", edit::small_module("", 3))}));
    const RunResult r = edit_run("-xv");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "EXTRACT FILE = evil1.QOB,evil2.QOB,evil3.QOB\n" + count_lines(3, 0));
    EXPECT_EQ(list_dir(), (NameList{kLib, "evil1.QOB", "evil2.QOB", "evil3.QOB"}));
    EXPECT_EQ(read("evil2.QOB"), edit::small_module("", 2));
    EXPECT_EQ(outside_files(), NameList{});
}

TEST_F(EditHostileLibrary, StoredNameDotOrDotDotIsRefused) {
    for (const char* name : {".", ".."}) {
        SCOPED_TRACE(name);
        write(kLib, edit::craft_library({edit::crafted(name, edit::small_module("", 1))}));
        const auto before = snapshot();
        expect_refused(edit_run("-x", {name}), 1, invalid(kLib), before);
    }
}
