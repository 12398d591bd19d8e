// End-to-end tests of the library commit: the count lines that end every
// run, where the new library and its backup go and under which names, the
// offsets only the commit can fill in (also in F8 records cut by the end of
// a table block), every body of an edited library copied into its place,
// the copy between files it uses, and the safe replacement of the old
// library (its permissions kept, working files never followed through links,
// the old library untouched when the replacement cannot be made).

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/host.h"
#include "support/library_e2e.h"

namespace fs = std::filesystem;
using qob::ByteVec;
using qob::Module;

namespace {

class Commit : public LibraryE2E {
protected:
    // LIB.LIB holding A.QOB, and the bytes it holds.
    ByteVec make_library(const std::string& library = "LIB") {
        write_module("A.QOB", defining({"A1"}));
        const RunResult r = append(library, {"A"});
        EXPECT_EQ(r.status, 0) << r.out;
        write_module("B.QOB", defining({"B1"}));
        return read(library + ".LIB");
    }

    unsigned mode_of(const std::string& name) const {
        struct stat st {};
        EXPECT_EQ(::stat(path(name).c_str(), &st), 0) << name;
        return st.st_mode & 07777;
    }
};

std::string indexed(std::string prefix, int i) { return prefix += std::to_string(i); }

std::vector<qob::TriSym> numbered(const std::string& prefix, int n) {
    std::vector<qob::TriSym> symbols;
    for (int i = 0; i < n; ++i) {
        symbols.push_back({static_cast<std::uint32_t>(i), indexed(prefix, i)});
    }
    return symbols;
}

// ---- the count lines ----

TEST_F(Commit, CountLinesGiveModulesAndGlobalSymbolsInSixDigits) {
    std::vector<qob::LongSym> equs;
    for (int i = 0; i < 10; ++i) equs.push_back({1, indexed("E", i)});
    std::vector<qob::BitSym> bits;
    for (int i = 0; i < 5; ++i) bits.push_back({1, 2, indexed("B", i)});
    write_module("P.QOB", Module().f0().f4(1, numbered("P", 12)).f4(2, numbered("Q", 8)).end());
    write_module("E.QOB", Module().f0().f5(equs).e0(bits).end());
    // Externals count as global symbols too.
    write_module("X.QOB", Module().f0().f6({"P0", "P1", "P2", "E0", "E1", "B0", "Z"}).end());

    const RunResult r = append("C3", {"P", "E", "X"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "<C3.LIB> CREATE\n"
              "MODULE COUNT         000003\n"
              "GLOBAL SYMBOL COUNT  000042\n");
    const lib::Library l = library("C3.LIB");
    EXPECT_EQ(l.header.modules, 3u);
    EXPECT_EQ(l.header.symbols, 42u);
}

TEST_F(Commit, VerboseShowsTheFilesThenAnEmptyLineBeforeTheCounts) {
    write_module("A.QOB", defining({"A1"}));
    write_module("SUB/B.QOB", defining({"B1"}));
    const RunResult lower = append("V1", {"A", "SUB\\B"}, "-av");
    EXPECT_EQ(lower.status, 0);
    EXPECT_EQ(lower.out, "<V1.LIB> CREATE\nAPPEND FILE = A.QOB,SUB\\B.QOB\n" + count_lines(2, 2));
    const RunResult upper = append("V2", {"A"}, "-AV");
    EXPECT_EQ(upper.status, 0);
    EXPECT_EQ(upper.out, "<V2.LIB> CREATE\nAPPEND FILE = A.QOB\n" + count_lines(1, 1));
}

TEST_F(Commit, ExtractPrintsTheCountsAndRewritesNothing) {
    const ByteVec before = make_library();
    ASSERT_EQ(append("LIB", {"B"}).status, 0);
    const ByteVec library = read("LIB.LIB");
    const ByteVec backup = read("LIB.BAK");
    const RunResult r = run({"-x", "-o", "LIB", "-f", "A.QOB"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, count_lines(2, 2));
    EXPECT_EQ(read("LIB.LIB"), library);
    EXPECT_EQ(read("LIB.BAK"), backup);
    EXPECT_EQ(backup, before);
    EXPECT_TRUE(working_files().empty());
}

// ---- names and places of the library and its backup ----

TEST_F(Commit, OlderBackupIsReplacedByThePreviousLibrary) {
    const ByteVec before = make_library();
    write("LIB.BAK", {1, 2, 3});
    ASSERT_EQ(append("LIB", {"B"}).status, 0);
    EXPECT_EQ(read("LIB.BAK"), before);
}

TEST_F(Commit, CreatingALibraryRemovesAnOlderBackup) {
    write("LIB.BAK", {1, 2, 3});
    make_library();
    EXPECT_FALSE(exists("LIB.BAK"));
    EXPECT_TRUE(exists("LIB.LIB"));
}

TEST_F(Commit, LibraryKeepsTheExtensionItWasTypedWith) {
    write_module("A.QOB", defining({"A1"}));
    write_module("B.QOB", defining({"B1"}));
    ASSERT_EQ(append("X.LB", {"A"}).status, 0);
    const ByteVec first = read("X.LB");
    ASSERT_EQ(append("X.LB", {"B"}).status, 0);
    EXPECT_EQ(read("X.BAK"), first);
    EXPECT_EQ(library("X.LB").entries.size(), 2u);
    EXPECT_EQ(list_dir(), (NameList{"A.QOB", "B.QOB", "X.BAK", "X.LB"}));
}

TEST_F(Commit, WorkingFilesGoToTmpAndTheLibraryStaysInTheVornaDirectory) {
    fs::create_directory(dir() / "tmp");
    fs::create_directory(dir() / "libs");
    const EnvMap env{{"TMP", path("tmp")}, {"VORNA", path("libs")}};
    write_module("A.QOB", defining({"A1"}));
    write_module("B.QOB", defining({"B1"}));
    ASSERT_EQ(append("V", {"A"}, "-a", env).status, 0);
    const ByteVec first = read("libs/V.LIB");

    const RunResult r = append("V", {"B"}, "-a", env);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, count_lines(2, 2));
    EXPECT_EQ(read("libs/V.BAK"), first);
    EXPECT_EQ(library("libs/V.LIB").entries.size(), 2u);
    EXPECT_TRUE(fs::is_empty(dir() / "tmp"));
    EXPECT_TRUE(working_files("libs").empty());
    EXPECT_EQ(list_dir(), (NameList{"A.QOB", "B.QOB", "libs", "tmp"}));
}

// ---- offsets ----

TEST_F(Commit, BodyOffsetsFollowHeaderTableAndEarlierBodies) {
    const qob::F7Entry item{0, 1, 0, 0x82, qob::item_f1("T"), {qob::item_f2({1, 2, 3, 4})}};
    const Module a = Module().f0().f4(1, {{1, "A1"}}).f7(0, {item}).f8(0, {{9, 9}}).end();
    const Module b = Module().f0().f6({"A1", "B2"}).f3(1, "DB", 1, 1, 1, 1).end();
    const Module c = Module().f0().f8(3, {ByteVec(300, 0xFF)}).f5({{5, "C5"}}).end();
    write_module("A.QOB", a);
    write_module("B.QOB", b);
    write_module("C.QOB", c);

    ASSERT_EQ(append("LIB", {"A", "B", "C"}).status, 0);
    const lib::Library l = library("LIB.LIB");
    ASSERT_EQ(l.entries.size(), 3u);
    const std::size_t start = l.table_end + 1;  // H + T + 1
    EXPECT_EQ(l.entries[0].f8[lib::kModOffset], start);
    EXPECT_EQ(l.entries[1].f8[lib::kModOffset], start + a.bytes().size());
    EXPECT_EQ(l.entries[2].f8[lib::kModOffset], start + a.bytes().size() + b.bytes().size());
    // B has neither F7 nor F8: both absolute positions stay 0.
    EXPECT_EQ(l.entries[1].f8[lib::kAbsF7], 0u);
    EXPECT_EQ(l.entries[1].f8[lib::kAbsF8], 0u);
    EXPECT_NE(l.entries[0].f8[lib::kAbsF7], 0u);
    EXPECT_EQ(lib::inconsistencies(l), "");
    EXPECT_EQ(l.bodies, (std::vector<ByteVec>{a.bytes(), b.bytes(), c.bytes()}));
}

// The commit copies the table working file in blocks of 64 KiB and writes
// each F8 record into its place; a record that a block's end cuts gets its
// bytes on both sides. The parameter is how many of its bytes lie before
// the cut (0: it begins just after it, 21: it ends just before it).
class F8AcrossBlocks : public Commit, public ::testing::WithParamInterface<std::size_t> {
protected:
    static constexpr std::size_t kBlock = 65536;
    static constexpr std::size_t kModules = 900;  // about 80 KB of table

    // A library of kModules modules, the first with a public symbol of
    // `padding` characters that moves every later entry on by as many bytes.
    lib::Library build(const std::string& name, std::size_t padding) {
        NameList files;
        modules_.clear();
        for (std::size_t i = 0; i < kModules; ++i) {
            std::vector<qob::TriSym> publics{{1, indexed("S", static_cast<int>(i))}};
            if (i == 0) publics.push_back({2, std::string(padding, 'P')});
            modules_.push_back(Module().f0().f4(1, publics).f8(0, {ByteVec(3, static_cast<unsigned char>(i))}).end());
            files.push_back(indexed("M", static_cast<int>(i)));
            write_module(files.back() + ".QOB", modules_.back());
        }
        EXPECT_EQ(append(name, files).status, 0);
        return library(name + ".LIB");
    }

    std::vector<Module> modules_;
};

TEST_P(F8AcrossBlocks, RecordCutByABlocksEndGetsItsOffsetsOnBothSides) {
    const std::size_t before_cut = GetParam();
    // Where the F8 records lie in the table without padding tells how much
    // padding brings one of them to the cut.
    const lib::Library plain = build("PLAIN", 1);
    const std::size_t target = kBlock - before_cut;
    std::size_t entry = 0, at = 0;
    for (std::size_t i = 1; i < plain.entries.size(); ++i) {
        const std::size_t in_table = plain.entries[i].f8_offset - plain.header.size;
        if (in_table <= target) entry = i, at = in_table;
    }
    ASSERT_GT(entry, 0u);
    const std::size_t padding = 1 + target - at;
    ASSERT_LE(padding, 255u);

    const lib::Library l = build("CUT", padding);
    ASSERT_EQ(l.entries.size(), kModules);
    EXPECT_EQ(l.entries[entry].f8_offset - l.header.size, target);
    EXPECT_EQ(lib::inconsistencies(l), "");
    std::vector<ByteVec> bodies;
    for (const Module& m : modules_) bodies.push_back(m.bytes());
    EXPECT_TRUE(l.bodies == bodies);
}

INSTANTIATE_TEST_SUITE_P(Commit, F8AcrossBlocks, ::testing::Values(0, 1, 10, 20, 21));

// ---- the bodies of an edited library ----

// The commit copies each run of bodies that lie back to back in the old
// library at once, and each body staged from a file on its own. The plan
// is one letter per module of a library of six: '.' keeps it, 'R' replaces
// it by a new version of another size, 'D' deletes it.
class BodyPlan : public Commit, public ::testing::WithParamInterface<std::string> {};

TEST_P(BodyPlan, EveryBodyLandsInItsPlace) {
    const std::string plan = GetParam();
    auto version = [](std::size_t i, bool fresh) {
        const ByteVec contents(fresh ? 50 + i * 11 : 100 + i * 37, static_cast<unsigned char>(fresh ? 0x80 + i : i));
        return Module().f0().f4(1, {{1, indexed("S", static_cast<int>(i))}}).f8(0, {contents}).end();
    };
    NameList all, named;
    std::vector<ByteVec> expected;
    fs::create_directories(path("new"));
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const std::string name = indexed("M", static_cast<int>(i));
        write_module(name + ".QOB", version(i, false));
        write_module("new/" + name + ".QOB", version(i, true));
        all.push_back(name);
        // Every host takes a backslash between a directory and a file name.
        if (plan[i] != '.') named.push_back(plan[i] == 'R' ? "new\\" + name : name);
        if (plan[i] != 'D') expected.push_back(version(i, plan[i] == 'R').bytes());
    }
    ASSERT_EQ(append("LIB", all).status, 0);

    NameList args{plan.find('R') != std::string::npos ? "-r" : "-d", "-o", "LIB", "-f"};
    args.insert(args.end(), named.begin(), named.end());
    const RunResult r = run(args);
    ASSERT_EQ(r.status, 0) << r.out;
    const lib::Library l = library("LIB.LIB");
    EXPECT_TRUE(l.bodies == expected);
    EXPECT_EQ(lib::inconsistencies(l), "");
}

INSTANTIATE_TEST_SUITE_P(Commit, BodyPlan,
                         ::testing::Values("R.....", ".....R", "..RR..", "R.R.R.", ".RRRRR", "RRRRRR", "D.....",
                                           ".....D", "..DD..", "D.D.D.", ".DDDDD"));

// ---- copying bodies from file to file ----

// The commit copies bodies with host::copy_range: by the system where it
// can (a source on the target's file system), else by reading and writing
// (a source on another one, a tmpfs, where the system may decline). Either way
// the bytes land where the target stream stands, and a source that ends
// early or a target that cannot be written is told apart.
class CopyRange : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        source_dir_ = GetParam().empty() ? ::testing::TempDir() : GetParam();
        if (!fs::is_directory(source_dir_)) GTEST_SKIP() << source_dir_ << " is not there";
    }
    void TearDown() override {
        for (std::FILE* fp : streams_) std::fclose(fp);
        for (const std::string& name : names_) fs::remove(name);
    }
    // The file `name` in `dir`, holding `bytes`, open in `mode` at its end.
    std::FILE* file(const std::string& dir, const std::string& name, const ByteVec& bytes, const char* mode) {
        // Named after the process: ctest runs the parameters side by side.
        names_.push_back(dir + "/vorna_copy_range_" + std::to_string(::getpid()) + "_" + name);
        std::FILE* fp = std::fopen(names_.back().c_str(), "wb");
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), fp);
        std::fclose(fp);
        streams_.push_back(std::fopen(names_.back().c_str(), mode));
        std::setvbuf(streams_.back(), nullptr, _IONBF, 0);
        std::fseek(streams_.back(), 0, SEEK_END);
        return streams_.back();
    }
    ByteVec contents(std::size_t i) const {
        std::ifstream in(names_[i], std::ios::binary);
        return ByteVec(std::istreambuf_iterator<char>(in), {});
    }

    std::string source_dir_;
    std::vector<std::string> names_;
    std::vector<std::FILE*> streams_;
};

TEST_P(CopyRange, BytesLandWhereTheTargetStandsAndFaultsAreToldApart) {
    ByteVec source(3 * 1048576 + 7);  // more than one block of the copy by reading
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 31 + i / 4096);
    std::FILE* from = file(source_dir_, "from", source, "rb");
    const ByteVec head{'H', 'E', 'A', 'D'};
    std::FILE* to = file(::testing::TempDir(), "to", head, "r+b");

    ASSERT_EQ(host::copy_range(from, 1000, source.size() - 2000, to), host::Copy::kDone);
    std::fflush(to);
    ByteVec expected = head;
    expected.insert(expected.end(), source.begin() + 1000, source.end() - 1000);
    EXPECT_TRUE(contents(1) == expected);

    EXPECT_EQ(host::copy_range(from, source.size() - 10, 20, to), host::Copy::kReadFailed);
    std::FILE* read_only = file(::testing::TempDir(), "read_only", head, "rb");
    EXPECT_EQ(host::copy_range(from, 0, 100, read_only), host::Copy::kWriteFailed);
}

// Positions past 2 GiB reach the system whole (a sparse source, whose bytes
// there are the only ones it holds).
TEST_P(CopyRange, PositionsPast2GiB) {
    const std::int64_t far = (std::int64_t{1} << 31) + 4096 + 3;
    ByteVec tail(5000);
    for (std::size_t i = 0; i < tail.size(); ++i) tail[i] = static_cast<unsigned char>(i * 7 + 1);
    std::FILE* from = file(source_dir_, "far", {}, "r+b");
    ASSERT_EQ(::pwrite(::fileno(from), tail.data(), tail.size(), static_cast<off_t>(far)),
              static_cast<ssize_t>(tail.size()));
    std::FILE* to = file(::testing::TempDir(), "to", {}, "r+b");
    ASSERT_EQ(host::copy_range(from, far, static_cast<std::int64_t>(tail.size()), to), host::Copy::kDone);
    std::fflush(to);
    EXPECT_TRUE(contents(1) == tail);
}

INSTANTIATE_TEST_SUITE_P(Commit, CopyRange, ::testing::Values("", "/dev/shm"),
                         [](const auto& info) { return info.param.empty() ? "SameFileSystem" : "Tmpfs"; });

// ---- safe replacement ----

TEST_F(Commit, NewLibraryKeepsTheOldLibrarysPermissions) {
    if (windows_target()) GTEST_SKIP() << "POSIX file modes and links";
    make_library();
    ASSERT_EQ(::chmod(path("LIB.LIB").c_str(), 0640), 0);
    ASSERT_EQ(append("LIB", {"B"}).status, 0);
    EXPECT_EQ(mode_of("LIB.LIB"), 0640u);
    EXPECT_EQ(mode_of("LIB.BAK"), 0640u);
}

TEST_F(Commit, CreatedLibraryGetsTheModeOfANewFile) {
    if (windows_target()) GTEST_SKIP() << "POSIX file modes and links";
    const mode_t mask = ::umask(0);
    ::umask(mask);
    make_library();
    EXPECT_EQ(mode_of("LIB.LIB"), 0666u & ~static_cast<unsigned>(mask));
}

// Stale working files that are links must be replaced, never written through.
TEST_F(Commit, WorkingFileNamesThatAreLinksAreNotFollowed) {
    if (windows_target()) GTEST_SKIP() << "POSIX file modes and links";
    const ByteVec before = make_library();
    for (const char* ext : {"1", "2", "3"}) {
        const std::string victim = std::string("VICTIM") + ext;
        write(victim, {0x55});
        fs::create_symlink(victim, dir() / (std::string("LIB.$$") + ext));
    }
    const RunResult r = append("LIB", {"B"});
    EXPECT_EQ(r.status, 0) << r.out;
    for (const char* victim : {"VICTIM1", "VICTIM2", "VICTIM3"}) {
        EXPECT_EQ(read(victim), ByteVec{0x55}) << victim;
    }
    EXPECT_TRUE(working_files().empty());
    EXPECT_EQ(read("LIB.BAK"), before);
    EXPECT_EQ(lib::inconsistencies(library("LIB.LIB")), "");
}

// When the backup cannot be made (a non-empty directory holds its name), the
// new library must not take the old one's place either.
TEST_F(Commit, FailedReplacementLeavesTheOldLibrary) {
    const ByteVec before = make_library();
    write("LIB.BAK/KEEP", {7});
    const RunResult r = append("LIB", {"B"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "\nCan't open <LIB.LIB>\n");
    EXPECT_EQ(read("LIB.LIB"), before);
    EXPECT_EQ(read("LIB.BAK/KEEP"), ByteVec{7});
    EXPECT_TRUE(working_files().empty());
}

}  // namespace
