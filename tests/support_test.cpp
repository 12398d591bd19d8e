// Tests of the test support itself: the module writer must produce exactly the
// bytes of each record layout, since every other test reads its expectations
// through it, and the process harness must hand the program the directory,
// environment and arguments it claims to.

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "support/harness.h"
#include "support/qob_writer.h"

using qob::ByteVec;
using qob::Module;

namespace {

ByteVec cat(ByteVec a, const ByteVec& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

// ---- field encoding ----

TEST(QobBytes, FieldsAreBigEndian) {
    const ByteVec got =
        qob::Bytes().u8(0xAB).word(0x1234).tri(0x123456).u32(1).u32(0xFFFFFFFF).bytes();
    EXPECT_EQ(got, (ByteVec{0xAB, 0x12, 0x34, 0x12, 0x34, 0x56, 0, 0, 0, 1, 0xFF, 0xFF,
                            0xFF, 0xFF}))
        << hex(got);
}

TEST(QobBytes, StringsEndInOneNul) {
    const ByteVec got = qob::Bytes().str("AB").str("").raw({0x7F}).bytes();
    EXPECT_EQ(got, (ByteVec{'A', 'B', 0, 0, 0x7F})) << hex(got);
}

TEST(QobBytes, OffsetCountsBytesWritten) {
    qob::Bytes b;
    EXPECT_EQ(b.offset(), 0u);
    b.word(1).str("XYZ");
    EXPECT_EQ(b.offset(), 6u);
}

TEST(QobBytes, RefusesValuesThatDoNotFit) {
    qob::Bytes b;
    EXPECT_THROW(b.u8(0x100), std::out_of_range);
    EXPECT_THROW(b.word(0x10000), std::out_of_range);
    EXPECT_THROW(b.tri(0x1000000), std::out_of_range);
    EXPECT_THROW(b.str(std::string("A\0B", 3)), std::invalid_argument);
    EXPECT_EQ(b.offset(), 0u);
}

// ---- whole modules ----

TEST(QobModule, WorkedExampleIsExact) {
    Module m;
    m.f0();
    EXPECT_EQ(m.offset(), 7u);
    m.f4(1, {{0x1000, "START"}});
    EXPECT_EQ(m.offset(), 23u);
    m.f8(1, {{1, 2, 3}}).end();
    const ByteVec expected{0xF0, 0x56, 0x45, 0x52, 0x2E, 0x41, 0x00,  // F0 "VER.A"
                           0xF4, 0x00, 0x01,                          // F4 block 1
                           0x00, 0x10, 0x00, 0x53, 0x54, 0x41, 0x52, 0x54, 0x00,
                           0x00, 0x00, 0x00, 0x00,  // terminating entry
                           0xF8, 0x00, 0x01,        // F8 word 1
                           0x00, 0x00, 0x00, 0x03, 0x01, 0x02, 0x03,
                           0x00, 0x00, 0x00, 0x00,  // length 0
                           0xFF};
    ASSERT_EQ(expected.size(), 38u);
    EXPECT_EQ(m.bytes(), expected) << hex(m.bytes());
    EXPECT_EQ(Module().f0().f4(1, {{0x1000, "START"}}).f8(1, {{1, 2, 3}}).end().bytes(),
              expected);
}

TEST(QobModule, EmptyListsStillWriteTheirTerminator) {
    EXPECT_EQ(Module().f4(2, {}).bytes(), (ByteVec{0xF4, 0, 2, 0, 0, 0, 0}));
    EXPECT_EQ(Module().f5({}).bytes(), (ByteVec{0xF5, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Module().e0({}).bytes(), (ByteVec{0xE0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Module().f6({}).bytes(), (ByteVec{0xF6, 0}));
    EXPECT_EQ(Module().f7(5, {}).bytes(), (ByteVec{0xF7, 0, 5, 0, 0, 0, 0}));
    EXPECT_EQ(Module().f8(9, {}).bytes(), (ByteVec{0xF8, 0, 9, 0, 0, 0, 0}));
    EXPECT_EQ(Module().e3(1, {}).bytes(), (ByteVec{0xE3, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(Module().e4(1, {}).bytes(), (ByteVec{0xE4, 0, 1, 0}));
}

TEST(QobModule, SymbolListsEndWithZeroedEntry) {
    const ByteVec f5 = Module().f5({{0x01020304, "EQ"}, {7, "X"}}).bytes();
    EXPECT_EQ(f5, (ByteVec{0xF5, 1, 2, 3, 4, 'E', 'Q', 0, 0, 0, 0, 7, 'X', 0, 0, 0, 0, 0, 0}))
        << hex(f5);
    const ByteVec e0 = Module().e0({{0x0102, 0x030405, "B"}}).bytes();
    EXPECT_EQ(e0, (ByteVec{0xE0, 1, 2, 3, 4, 5, 'B', 0, 0, 0, 0, 0, 0, 0})) << hex(e0);
    const ByteVec f6 = Module().f6({"EXT1", "E2"}).bytes();
    EXPECT_EQ(f6, (ByteVec{0xF6, 'E', 'X', 'T', '1', 0, 'E', '2', 0, 0})) << hex(f6);
}

TEST(QobModule, UncollectedListsShareTheLayoutsUnderTheirOwnTags) {
    ByteVec f4 = Module().f4(3, {{0xABCDEF, "N"}}).bytes();
    ByteVec f9 = Module().f9(3, {{0xABCDEF, "N"}}).bytes();
    ASSERT_EQ(f9.front(), 0xF9);
    f9.front() = 0xF4;
    EXPECT_EQ(f9, f4);

    ByteVec fa = Module().fa({{5, "N"}}).bytes();
    ASSERT_EQ(fa.front(), 0xFA);
    fa.front() = 0xF5;
    EXPECT_EQ(fa, Module().f5({{5, "N"}}).bytes());

    ByteVec e1 = Module().e1({{1, 2, "N"}}).bytes();
    ASSERT_EQ(e1.front(), 0xE1);
    e1.front() = 0xE0;
    EXPECT_EQ(e1, Module().e0({{1, 2, "N"}}).bytes());
}

TEST(QobModule, FixedLayoutRecords) {
    EXPECT_EQ(Module().f0("VER.B").bytes(), (ByteVec{0xF0, 'V', 'E', 'R', '.', 'B', 0}));
    EXPECT_EQ(Module().f1("c").bytes(), (ByteVec{0xF1, 'c', 0}));
    const ByteVec f3 = Module().f3(0x0102, "D", 3, 4, 0x050607, 0x08090A0B).bytes();
    EXPECT_EQ(f3, (ByteVec{0xF3, 1, 2, 'D', 0, 3, 4, 5, 6, 7, 8, 9, 10, 11})) << hex(f3);
    const ByteVec e2 = Module().e2(0x0A0B, "S", {1, 2, 3, 4, 5, 6, 7, 8}).bytes();
    EXPECT_EQ(e2, (ByteVec{0xE2, 10, 11, 'S', 0, 1, 2, 3, 4, 5, 6, 7, 8})) << hex(e2);
    EXPECT_EQ(Module().e5("Q").bytes(), (ByteVec{0xE5, 'Q', 0}));
    EXPECT_EQ(Module().e6(0x42).bytes(), (ByteVec{0xE6, 0x42}));
    EXPECT_EQ(Module().end().bytes(), (ByteVec{0xFF}));
    EXPECT_THROW(Module().e2(0, "S", {1, 2, 3}), std::invalid_argument);
}

TEST(QobModule, F2HoldsThreeSubRecordsInOrder) {
    const ByteVec got = Module().f2("A", {"B", "C"}, {}).bytes();
    EXPECT_EQ(got, (ByteVec{0xF2, 0xF0, 'A', 0, 0xF1, 'B', 0, 'C', 0, 0, 0xF2, 0})) << hex(got);
}

TEST(QobModule, F7EntryWithPrefixAndOneByteItems) {
    qob::F7Entry entry;
    entry.tri = 0x000102;
    entry.byte1 = 0;  // a zero first byte with a non-zero tri is an ordinary entry
    entry.byte2 = 0x33;
    entry.prefix = 0x81;
    entry.first = qob::item_f1("L");
    entry.items = {qob::item_byte(0xF4), qob::item_byte(0xFE), qob::item_f3("Z"),
                   qob::item_f0({1, 2, 3, 4, 5}), qob::item_f2({6, 7, 8, 9}),
                   qob::item_byte(0x00)};
    const ByteVec got = Module().f7(0x0203, {entry}).bytes();
    const ByteVec expected{0xF7, 0x02, 0x03,        // tag, word
                           0x00, 0x01, 0x02, 0x00,  // tri, first byte
                           0x33, 0x81,              // second byte, prefix
                           0xF1, 'L', 0x00,         // first item
                           0xF4, 0xFE,              // one-byte items
                           0xF3, 'Z', 0x00,
                           0xF0, 1, 2, 3, 4, 5,
                           0xF2, 6, 7, 8, 9,
                           0x00,
                           0xFF,                    // end of the entry
                           0x00, 0x00, 0x00, 0x00}; // end of the record
    EXPECT_EQ(got, expected) << hex(got);
}

TEST(QobModule, F7EntriesWithoutPrefixFollowEachOther) {
    qob::F7Entry a{0, 1, 2, std::nullopt, qob::item_f2({0xFF, 0xFF, 0xFF, 0xFF}), {}};
    qob::F7Entry b{5, 0, 0, 0x82, qob::item_f0({0, 0, 0, 0, 0}), {}};
    const ByteVec got = Module().f7(0, {a, b}).bytes();
    const ByteVec expected{0xF7, 0, 0,
                           0, 0, 0, 1, 2, 0xF2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                           0, 0, 5, 0, 0, 0x82, 0xF0, 0, 0, 0, 0, 0, 0xFF,
                           0, 0, 0, 0};
    EXPECT_EQ(got, expected) << hex(got);
}

TEST(QobModule, F7FirstItemIsWrittenAsGiven) {
    // Readers must refuse an F3 first item; the writer has to be able to make one.
    qob::F7Entry bad{1, 1, 1, std::nullopt, qob::item_f3("X"), {}};
    const ByteVec got = Module().f7(0, {bad}).bytes();
    EXPECT_EQ(got, (ByteVec{0xF7, 0, 0, 0, 0, 1, 1, 1, 0xF3, 'X', 0, 0xFF, 0, 0, 0, 0}))
        << hex(got);
}

TEST(QobModule, F8BlocksCarryAnyByteValues) {
    ByteVec data;
    for (unsigned v = 0xF0; v <= 0xFF; ++v) {
        data.push_back(static_cast<unsigned char>(v));
    }
    const ByteVec got = Module().f8(0x0102, {data, {0xFF}}).bytes();
    ByteVec expected{0xF8, 0x01, 0x02, 0, 0, 0, 16};
    expected = cat(expected, data);
    expected = cat(expected, {0, 0, 0, 1, 0xFF, 0, 0, 0, 0});
    EXPECT_EQ(got, expected) << hex(got);
}

TEST(QobModule, E3GroupsEndWithZeroGroup) {
    const ByteVec got = Module().e3(7, {{0x010203, 0}, {0, 4}}).bytes();
    EXPECT_EQ(got, (ByteVec{0xE3, 0, 7, 1, 2, 3, 0, 0, 0, 0, 4, 0, 0, 0, 0})) << hex(got);
}

TEST(QobModule, E4PairListEndsWithWordZeroWithoutTri) {
    const ByteVec got =
        Module().e4(0x0001, {{"G", {{0x0203, 0x040506}, {7, 8}}}, {"H", {}}}).bytes();
    const ByteVec expected{0xE4, 0x00, 0x01,
                           'G', 0x00,
                           0x02, 0x03, 0x04, 0x05, 0x06,
                           0x00, 0x07, 0x00, 0x00, 0x08,
                           0x00, 0x00,  // word 0: end of G's pairs, no tri
                           'H', 0x00,
                           0x00, 0x00,  // H has no pairs
                           0x00};       // empty name: end of the record
    EXPECT_EQ(got, expected) << hex(got);
}

TEST(QobModule, RefusesEntriesThatWouldEndTheirListEarly) {
    EXPECT_THROW(Module().f4(1, {{1, ""}}), std::invalid_argument);
    EXPECT_THROW(Module().f5({{1, ""}}), std::invalid_argument);
    EXPECT_THROW(Module().e0({{1, 1, ""}}), std::invalid_argument);
    EXPECT_THROW(Module().f6({"A", ""}), std::invalid_argument);
    EXPECT_THROW(Module().f2("A", {""}, {}), std::invalid_argument);
    EXPECT_THROW(Module().f8(1, {{}}), std::invalid_argument);
    EXPECT_THROW(Module().e3(1, {{0, 0}}), std::invalid_argument);
    EXPECT_THROW(Module().e4(1, {{"", {}}}), std::invalid_argument);
    EXPECT_THROW(Module().e4(1, {{"G", {{0, 5}}}}), std::invalid_argument);
    qob::F7Entry stop{0, 0, 1, std::nullopt, qob::item_f1("A"), {}};
    EXPECT_THROW(Module().f7(1, {stop}), std::invalid_argument);
    qob::F7Entry bad_prefix{1, 1, 1, 0x80, qob::item_f1("A"), {}};
    EXPECT_THROW(Module().f7(1, {bad_prefix}), std::invalid_argument);
    EXPECT_THROW(qob::item_byte(0xFF), std::out_of_range);
    EXPECT_THROW(qob::item_f0({1, 2, 3, 4}), std::invalid_argument);
    EXPECT_THROW(qob::item_f2({1, 2, 3, 4, 5}), std::invalid_argument);
}

TEST(QobModule, RawAppendsUnchecked) {
    const ByteVec got = Module().f0().raw({0xE7, 0xFF, 0xFF}).bytes();
    EXPECT_EQ(got, (ByteVec{0xF0, 'V', 'E', 'R', '.', 'A', 0, 0xE7, 0xFF, 0xFF}));
}

TEST(Hex, ShortAndLongForms) {
    EXPECT_EQ(hex({0xF0, 0x0A}), "F0 0A");
    EXPECT_EQ(hex({}), "");
    ByteVec seventeen(17, 0x11);
    EXPECT_EQ(hex(seventeen),
              "0000: 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11\n0010: 11");
}

// ---- the process harness ----

// Points the harness at /bin/sh for one test, so its plumbing can be checked
// without the librarian.
class HarnessTest : public E2E {
protected:
    void SetUp() override {
        if (std::getenv("VORNA_RUNNER") != nullptr) {
            GTEST_SKIP() << "harness self-tests run the host shell directly";
        }
        E2E::SetUp();
        if (const char* exe = std::getenv("VORNA_EXE")) saved_ = exe;
        swapped_ = true;
        ::setenv("VORNA_EXE", "/bin/sh", 1);
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("VORNA_EXE", saved_->c_str(), 1);
        } else if (swapped_) {
            ::unsetenv("VORNA_EXE");
        }
        E2E::TearDown();
    }

private:
    bool swapped_ = false;
    std::optional<std::string> saved_;
};

TEST_F(HarnessTest, CapturesStatusOutputAndWorkingDirectory) {
    write_text("in.txt", "data\n");
    const RunResult r =
        run({"-c", "cat in.txt; pwd; cat; echo 'to err' >&2; exit 7"});
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.out, "data\n" + std::filesystem::canonical(dir()).string() + "\n");
    EXPECT_EQ(r.err, "to err\n");
}

TEST_F(HarnessTest, ArgumentsReachTheProgramVerbatim) {
    const RunResult r = run({"-c", "printf '[%s]' \"$@\"", "sh", "a b", "*", "$X", ""});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "[a b][*][$X][]");
}

TEST_F(HarnessTest, EnvironmentIsOverriddenAndCleared) {
    ::setenv("TMP", "/should/not/leak", 1);
    const RunResult r = run({"-c", "echo \"${TMP-unset}|${VORNA-unset}|$EXTRA\""},
                            {{"EXTRA", "x y"}, {"VORNA", "/lib dir"}});
    ::unsetenv("TMP");
    EXPECT_EQ(r.out, "unset|/lib dir|x y\n");
}

TEST_F(HarnessTest, SignalDeathIsReportedLikeAShell) {
    EXPECT_EQ(run({"-c", "kill -TERM $$"}).status, 128 + SIGTERM);
}

TEST_F(HarnessTest, MissingProgramIsAnError) {
    ::setenv("VORNA_EXE", (dir() / "no-such-program").c_str(), 1);
    EXPECT_THROW(run({}), std::runtime_error);
}

TEST_F(HarnessTest, InterruptArrivesWhileTheFifoIsBeingRead) {
    // The shell defers its trap until cat has read the whole pipe, so the
    // interrupt is seen after the data and the status comes from the trap.
    const RunResult r = run_interrupted(
        {"-c", "trap 'echo break; exit 3' INT; cat SLOW.QOB > copy; echo not reached"},
        "SLOW.QOB", {1, 2, 3}, {4, 5});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "break\n");
    EXPECT_EQ(read("copy"), (ByteVec{1, 2, 3, 4, 5}));
}

TEST_F(HarnessTest, SpawnWaitAndHandlerDetection) {
    // The shell catches the interrupt before its trap is set; its output
    // tells when the trap is there.
    const pid_t pid = spawn({"-c", "trap 'exit 4' INT; echo ready; while :; do sleep 0.01; done"});
    ASSERT_TRUE(wait_for_output(pid, "ready\n"));
    ASSERT_TRUE(wait_until_catching(pid));
    interrupt(pid);
    EXPECT_EQ(wait(pid).status, 4);
}

TEST_F(HarnessTest, FilesOfTheWorkingDirectory) {
    write("sub/A.QOB", Module().end().bytes());
    write_text("B.TXT", "x");
    EXPECT_TRUE(exists("sub/A.QOB"));
    EXPECT_FALSE(exists("C"));
    EXPECT_EQ(read("sub/A.QOB"), (ByteVec{0xFF}));
    EXPECT_EQ(list_dir(), (NameList{"B.TXT", "sub"}));
    EXPECT_EQ(path("B.TXT"), (dir() / "B.TXT").string());
}

TEST_F(HarnessTest, SetMtimeUsesLocalTime) {
    write_text("T", "");
    set_mtime("T", 1999, 12, 31, 23, 58, 7);
    struct stat st {};
    ASSERT_EQ(::stat(path("T").c_str(), &st), 0);
    std::tm local{};
    ASSERT_NE(::localtime_r(&st.st_mtime, &local), nullptr);
    EXPECT_EQ(local.tm_year, 99);
    EXPECT_EQ(local.tm_mon, 11);
    EXPECT_EQ(local.tm_mday, 31);
    EXPECT_EQ(local.tm_hour, 23);
    EXPECT_EQ(local.tm_min, 58);
    EXPECT_EQ(local.tm_sec, 7);
}
