// End-to-end tests of delete: the named modules leave the library, the others
// keep their entries and bodies byte for byte at recomputed offsets, the
// header counts follow, the previous library is kept as the backup, and a
// refused delete leaves everything as it was.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/edit_fixture.h"

using edit::ByteVec;
using edit::invalid;
using edit::sep;

namespace {

// Public U1 and three externals: 4 symbols in the library's count.
ByteVec util_module() {
    return qob::Module().f0().f4(1, {{1, "U1"}}).f6({"X1", "X2", "X3"}).end().bytes();
}

}  // namespace

class DeleteTest : public EditTest {
protected:
    void SetUp() override {
        EditTest::SetUp();
        files_ = {{"A.QOB", edit::small_module("SA", 1)},
                  {"IO.QOB", edit::rich_module("IO")},
                  {"B.QOB", edit::small_module("SB", 2)},
                  {"UTIL.QOB", util_module()}};
        ASSERT_NO_FATAL_FAILURE(make_library(files_));
        old_bytes_ = read(kLib);
        old_ = library(kLib);
    }

    // The new library holds exactly the modules `kept` (indexes into the
    // original library), their entries and bodies unchanged, and the
    // previous library is the backup.
    void expect_library_of(const std::vector<std::size_t>& kept, int symbols) {
        const lib::Library now = parsed();
        const ByteVec now_bytes = read(kLib);
        EXPECT_EQ(now.header.modules, kept.size());
        EXPECT_EQ(now.header.symbols, static_cast<std::uint32_t>(symbols));
        EXPECT_EQ(now.header.version, old_.header.version);
        EXPECT_EQ(now.header.format, old_.header.format);
        ASSERT_EQ(now.entries.size(), kept.size());
        for (std::size_t n = 0; n < kept.size(); ++n) {
            const std::size_t k = kept[n];
            EXPECT_EQ(edit::without_offsets(now_bytes, now.entries[n]),
                      edit::without_offsets(old_bytes_, old_.entries[k]))
                << now.entries[n].name;
            EXPECT_EQ(now.bodies[n], files_[k].second) << now.entries[n].name;
        }
        EXPECT_TRUE(read("LIB.BAK") == old_bytes_) << "the backup is not the old library";
        EXPECT_EQ(working_files(), NameList{});
    }

    std::vector<edit::ModFile> files_;
    ByteVec old_bytes_;
    lib::Library old_;
};

TEST_F(DeleteTest, OneModuleGoesTheOthersStayByteForByte) {
    const RunResult r = edit_run("-Dv", {"io"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "DELETE FILE = io.QOB\n" + count_lines(3, 6));
    expect_library_of({0, 2, 3}, 6);
}

TEST_F(DeleteTest, SeveralModulesAreShownInLibraryOrderWithoutTheirDirectory) {
    const RunResult r = edit_run("-dv", {".." + sep() + "src" + sep() + "util", "io"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "DELETE FILE = io.QOB,util.QOB\n" + count_lines(2, 2));
    // The public, EQU, BIT and external symbols of both modules leave the count.
    expect_library_of({0, 2}, 2);
}

TEST_F(DeleteTest, FirstAndLastModule) {
    const RunResult r = edit_run("-d", {"UTIL.QOB", "a"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, count_lines(2, 6));
    expect_library_of({1, 2}, 6);
}

TEST_F(DeleteTest, EveryModuleRemovesTheLibraryAndKeepsTheBackup) {
    const RunResult r = edit_run("-dv", {"UTIL", "B", "IO", "A"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "DELETE FILE = A.QOB,IO.QOB,B.QOB,UTIL.QOB\n" + count_lines(0, 0));
    EXPECT_FALSE(exists(kLib));
    EXPECT_TRUE(read("LIB.BAK") == old_bytes_) << "the backup is not the old library";
    EXPECT_EQ(working_files(), NameList{});
}

TEST_F(DeleteTest, ExtractAfterDeleteReturnsTheRemainingModules) {
    ASSERT_EQ(edit_run("-d", {"IO", "A"}).status, 0);
    for (const auto& file : files_) remove(file.first);
    const RunResult r = edit_run("-x");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(list_dir(), (NameList{"B.QOB", "LIB.BAK", kLib, "UTIL.QOB"}));
    EXPECT_EQ(read("B.QOB"), files_[2].second);
    EXPECT_EQ(read("UTIL.QOB"), files_[3].second);
}

// ---- hand-made libraries ----

class DeleteCrafted : public EditTest {
protected:
    static edit::Crafted module_a() { return edit::crafted("A.QOB", edit::small_module("", 1)); }
    static edit::Crafted module_b() { return edit::crafted("B.QOB", edit::small_module("", 2)); }

    // Deleting A from the library fails with `out` and changes nothing.
    void expect_delete_refused(const std::vector<edit::Crafted>& modules, const std::string& out) {
        write(kLib, edit::craft_library(modules));
        const Snapshot before = snapshot();
        expect_refused(edit_run("-d", {"A"}), 1, out, before);
    }
};

TEST_F(DeleteCrafted, LibraryOfAnotherFormatCanStillBeEdited) {
    const ByteVec old_bytes = edit::craft_library({module_a(), module_b()}, "VER.B");
    check_libraries_ = false;  // the header's format is not VER.A
    write(kLib, old_bytes);
    const lib::Library old = library(kLib);

    const RunResult r = edit_run("-d", {"A"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, count_lines(1, 0));
    const lib::Library now = parsed();
    EXPECT_EQ(now.header.format, "VER.B");
    ASSERT_EQ(now.entries.size(), 1u);
    EXPECT_EQ(edit::without_offsets(read(kLib), now.entries[0]),
              edit::without_offsets(old_bytes, old.entries[1]));
    EXPECT_EQ(now.bodies[0], module_b().body);
}

TEST_F(DeleteCrafted, DamagedKeptModuleIsRefused) {
    edit::Crafted bad_tag = module_b();
    bad_tag.body = qob::Module().f0().raw({0xE7}).end().bytes();
    expect_delete_refused({module_a(), bad_tag}, invalid("S0004"));

    for (int change : {1, -1}) {
        SCOPED_TRACE(change);
        edit::Crafted wrong_size = module_b();
        wrong_size.mod_size = static_cast<std::int32_t>(wrong_size.body.size()) + change;
        expect_delete_refused({module_a(), wrong_size}, invalid(kLib));
    }

    // A record the table reader does not know, stepped over by the selection.
    edit::Crafted odd_record = module_b();
    odd_record.after_f4 = {0xE0};
    expect_delete_refused({module_a(), odd_record}, invalid("R0003"));
}

TEST_F(DeleteCrafted, DeletedModuleWhoseSizeLeavesTheLibraryIsRefused) {
    for (std::int32_t size : {-5, 100000}) {
        SCOPED_TRACE(size);
        edit::Crafted bad = module_a();
        bad.mod_size = size;
        expect_delete_refused({module_b(), bad}, invalid(kLib));
    }
}

// ---- more modules than the historic 256-entry table ----

class DeleteMany : public EditTest {};

TEST_F(DeleteMany, OneOfThreeHundredNearTheEnd) {
    ASSERT_NO_FATAL_FAILURE(make_numbered_library(300));
    const RunResult r = edit_run("-dv", {"m290"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "DELETE FILE = m290.QOB\n" + count_lines(299, 0));
    const lib::Library now = parsed();
    ASSERT_EQ(now.entries.size(), 299u);
    for (int n = 0; n < 299; ++n) {
        const int i = n < 290 ? n : n + 1;
        ASSERT_EQ(now.entries[n].name, numbered_name(i));
        ASSERT_EQ(now.bodies[n], numbered_body(i)) << numbered_name(i);
    }
}
