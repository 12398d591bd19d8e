// Tests of failing runs: what the error reporter prints for each code, that
// a failure removes the working files and a partial listing (and the trace
// flag keeps them), that the library is left as it was, and that an
// interrupt ends the run the same way.

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "core/errors.h"
#include "driver/driver.h"
#include "driver/run_state.h"
#include "driver_e2e.h"
#include "support/library_view.h"
#include "format/error.h"

namespace {

using drv::expect_failure;

// ---- the reporter's message for every code ----

struct Report {
    int status;
    std::string out;
    std::string err;
};

Report report(const RunAbort& abort) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Report result;
    {
        RunState rs(out, err);
        rs.files.cur_file = "CUR.LIB";
        result.status = report_error(rs, abort);
    }
    for (auto [fp, text] : {std::pair{out, &result.out}, std::pair{err, &result.err}}) {
        std::rewind(fp);
        for (int c = std::fgetc(fp); c != EOF; c = std::fgetc(fp)) text->push_back(static_cast<char>(c));
        std::fclose(fp);
    }
    return result;
}

TEST(ReportError, EveryCodePrintsItsMessageAndRingsTheBell) {
    struct Case {
        int code;
        std::optional<std::string> name;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {kCantOpen, "X.LIB", 3, "\nCan't open <X.LIB>\n"},
        {kCantOpen, std::nullopt, 3, "\nCan't open <CUR.LIB>\n"},
        {kCantCreate, "IGNORED", 3, "\nCan't create <TMP_FILE>\n"},
        {kDiskFull, std::nullopt, 3, "\nOut of disk space \n"},
        {kReadError, std::nullopt, 3, "\nInput file read error <CUR.LIB>\n"},
        {kCloseFailed, std::nullopt, 3, "\nOut of disk space \n"},
        {kListWriteFailed, std::nullopt, 3, "\nOut of disk space \n"},
        {kSeekError, "TMP_FILE", 3, "\nFile seek error TMP_FILE\n"},
        {kNoHeap, std::nullopt, 3, "\nOut of heap space\n"},
        {kBreak, "--Break-- !", 3, "\n--Break-- !\n"},
        {kBadSourceDate, "1.5", 2, "\nSOURCE_DATE_EPOCH <1.5> is not decimal seconds up to 253402300799\n"},
        {kMultipleDefined, "SYM", 1, "\n<SYM>is multiple defined in NEW. others is OLD.X\n"},
        {kNotInLibrary, "M.QOB", 1, "\n<M.QOB>module is not in the library\n"},
        {kInvalid, "S0004", 1, "\nInvarid module or library S0004\n"},
        {kInvalid, std::nullopt, 1, "\nInvarid module or library CUR.LIB\n"},
        {kCmdFileNotFound, "CMD", 1, "\n<CMD>command file not found\n"},
        {kNoHeapContent, std::nullopt, 1, "\nOut of heap space\n"},
        {kTooManyModules, std::nullopt, 1, "\nToo many object module\n"},
        {kCpuError, std::nullopt, 1, "\nCPU number error\n"},
        {kInternal, std::nullopt, 3, "\nInternal error \n"},
        {9, std::nullopt, 3, "\nInternal error \n"},
        {10, std::nullopt, 3, "\nInternal error \n"},
        {13, std::nullopt, 3, "\nInternal error \n"},
        {20, std::nullopt, 3, "\nInternal error \n"},
        {28, std::nullopt, 3, "\nInternal error \n"},
        {33, std::nullopt, 3, "\nInternal error \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const Report r = report(RunAbort{c.code, c.name, "NEW.QOB", "OLD.X.QOB"});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "\a");
    }
    // A quote left open: a usage error with a message of its own, naming the line.
    const Report quote = report(RunAbort{kOpenQuote, "CMD", {}, "3"});
    EXPECT_EQ(quote.status, 2);
    EXPECT_EQ(quote.out, "\n<CMD>unclosed quote in line 3\n");
    EXPECT_EQ(quote.err, "\a");
}

// A fault of a format reader or writer ends the run as the fault it is.
TEST(ReportError, FormatFaults) {
    using Kind = FormatError::Kind;
    using Rule = FormatError::Rule;
    const struct {
        FormatError fault;
        int status;
        const char* out;
    } cases[] = {
        // A malformed input is named as its reader's owner calls it, not by its file.
        {{Kind::kMalformed, Rule::kRecord, "L.LIB", "R0004"}, 1, "\nInvarid module or library R0004\n"},
        {{Kind::kMalformed, Rule::kTooLarge, "", "A.QOB"}, 1, "\nInvarid module or library A.QOB\n"},
        {{Kind::kReadFailed, Rule::kNone, "A.QOB"}, 3, "\nInput file read error <A.QOB>\n"},
        {{Kind::kWriteFailed}, 3, "\nOut of disk space \n"},
        {{Kind::kSeekFailed, Rule::kNone, "L.LIB"}, 3, "\nFile seek error L.LIB\n"},
        {{Kind::kInterrupted, Rule::kNone, "L.LIB"}, 3, "\n--Break-- !\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        const Report r = report(abort_of(c.fault));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(ReportError, UsageGoesToStandardError) {
    const Report r = report(RunAbort{kUsage, std::nullopt, {}, {}});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, drv::kUsage + "\a");
}

// ---- failing runs ----

class Errors : public drv::DriverE2E {
protected:
    void SetUp() override {
        DriverE2E::SetUp();
        make_library("LIB", {"A"});
        library_ = read("LIB.LIB");
    }

    // The library is as it was before the test's runs, and no backup was made.
    void expect_library_unchanged() const {
        EXPECT_EQ(read("LIB.LIB"), library_);
        EXPECT_FALSE(exists("LIB.BAK"));
    }

    // Runs `args`, which must fail with `status` and the message `message`
    // and change no file. Then the same with the trace flag, which must leave
    // exactly the files `kept` behind (removed again afterwards).
    void expect_clean_failure(const NameList& args, int status, const std::string& message,
                              const NameList& kept, const EnvMap& env = {}) {
        const NameList before = list_dir();
        expect_failure(run(args, env), status, message);
        expect_library_unchanged();
        EXPECT_EQ(list_dir(), before);

        NameList traced = args;
        traced.insert(traced.begin(), "-k");
        const RunResult r = run(traced, env);
        EXPECT_EQ(r.status, status);
        EXPECT_TRUE(r.out.ends_with(message)) << r.out;
        expect_library_unchanged();
        NameList added;
        for (const std::string& name : list_dir()) {
            if (std::find(before.begin(), before.end(), name) == before.end()) added.push_back(name);
        }
        EXPECT_EQ(added, kept);
        for (const std::string& name : added) remove(name);
    }

    // Writes LIB.LIB with the header string at `offset` changed to `text`
    // (same length).
    void patch_library(std::size_t offset, const std::string& text) {
        qob::ByteVec bytes = library_;
        ASSERT_LE(offset + text.size(), bytes.size());
        std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
        write("LIB.LIB", bytes);
        library_ = bytes;
    }

    qob::ByteVec library_;
};

// Header: F0 "V.4.00.00" at 0, F1 "VER.A" at 11, F2 "VRN100" at 18.
constexpr std::size_t kFormatAt = 12;
constexpr std::size_t kCpuAt = 19;

TEST_F(Errors, FailedAppendRemovesTheWorkingFiles) {
    write_modules({"B"});
    write("BAD.QOB", qob::Module().f0("VER.B").end().bytes());
    expect_clean_failure({"-a", "-o", "LIB", "-f", "B", "BAD"}, 1,
                         "\nInvarid module or library A0002\n", {"LIB.$$1", "LIB.$$2"});
}

// The working files that the trace flag keeps hold what the run wrote up to
// its failure, though it was still in the writers' blocks: the old table and
// B's entry in the table file, B's body and the start of BAD in the bodies.
TEST_F(Errors, TraceFlagKeepsWhatTheFailedRunWrote) {
    write_modules({"B"});
    const qob::ByteVec bad = qob::Module().f0("VER.B").end().bytes();
    write("BAD.QOB", bad);
    const RunResult r = run({"-ak", "-o", "LIB", "-f", "B", "BAD"});
    EXPECT_EQ(r.status, 1) << r.out;

    const lib::Library old = lib::parse(library_);
    ASSERT_EQ(old.bodies.size(), 1u);
    const std::size_t table_at = 37;  // after the header of this library
    const std::size_t table_size = library_.size() - table_at - 2 - old.bodies[0].size();
    const qob::ByteVec table = read("LIB.$$1");
    ASSERT_GT(table.size(), table_size);
    EXPECT_TRUE(std::equal(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(table_size),
                           library_.begin() + static_cast<std::ptrdiff_t>(table_at)));
    const std::string b_entry = "\xF0" "B.QOB";  // the F0 record that opens B's entry
    EXPECT_TRUE(std::equal(b_entry.begin(), b_entry.end(), table.begin() + static_cast<std::ptrdiff_t>(table_size),
                           [](char c, unsigned char byte) { return static_cast<unsigned char>(c) == byte; }));

    const qob::ByteVec bodies = read("LIB.$$2");
    const qob::ByteVec b = read("B.QOB");
    ASSERT_GT(bodies.size(), b.size());
    EXPECT_TRUE(std::equal(b.begin(), b.end(), bodies.begin()));
    EXPECT_TRUE(std::equal(bodies.begin() + static_cast<std::ptrdiff_t>(b.size()), bodies.end(), bad.begin()));
}

TEST_F(Errors, FailedCommitRemovesTheNewLibrary) {
    if (windows_target()) GTEST_SKIP() << "relies on POSIX rename rules";
    write_modules({"B"});
    // A directory in the way of the backup makes putting the library in place fail.
    make_dir("LIB.BAK");
    const NameList before = list_dir();
    expect_failure(run({"-a", "-o", "LIB", "-f", "B"}), 3, "\nCan't open <LIB.LIB>\n");
    EXPECT_EQ(read("LIB.LIB"), library_);
    EXPECT_EQ(list_dir(), before);

    const RunResult r = run({"-ak", "-o", "LIB", "-f", "B"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(read("LIB.LIB"), library_);
    EXPECT_EQ(work_files(), NameList({"LIB.$$1", "LIB.$$2", "LIB.$$3"}));
}

TEST_F(Errors, FailedListRemovesTheListing) {
    expect_clean_failure({"-l", "-o", "LIB", "-f", "NOPE"}, 1,
                         "\n<NOPE.QOB>module is not in the library\n", {"LIB.LST"});
}

TEST_F(Errors, FailedExtractTouchesNoOtherFile) {
    // No working file was named by extract, so a stale one is left alone,
    // like a listing of an earlier run.
    write_text("LIB.LST", "old listing\n");
    write_text("LIB.$$1", "stale\n");
    expect_failure(run({"-x", "-o", "LIB", "-f", "NOPE"}), 1,
                   "\n<NOPE.QOB>module is not in the library\n");
    EXPECT_EQ(read_text("LIB.LST"), "old listing\n");
    EXPECT_EQ(read_text("LIB.$$1"), "stale\n");
    expect_library_unchanged();
}

TEST_F(Errors, ListOfAMissingLibraryKeepsAnOldListing) {
    write_text("NOLIB.LST", "old listing\n");
    expect_failure(run({"-l", "-o", "NOLIB"}), 3, "\nCan't open <NOLIB.LIB>\n");
    EXPECT_EQ(read_text("NOLIB.LST"), "old listing\n");
}

TEST_F(Errors, MissingModuleFile) {
    expect_clean_failure({"-a", "-o", "LIB", "-f", "NOFILE"}, 3, "\nCan't open <NOFILE.QOB>\n",
                         {"LIB.$$1", "LIB.$$2"});
}

TEST_F(Errors, InvalidModuleNamesTheFile) {
    write("STRAY.QOB", qob::Module().f0().raw({0xE7}).end().bytes());
    write("CUT.QOB", qob::Module().f0().f4(1, {{1, "S"}}).bytes());
    expect_clean_failure({"-a", "-o", "LIB", "-f", "STRAY"}, 1,
                         "\nInvarid module or library STRAY.QOB\n", {"LIB.$$1", "LIB.$$2"});
    expect_clean_failure({"-a", "-o", "LIB", "-f", "CUT"}, 1,
                         "\nInvarid module or library CUT.QOB\n", {"LIB.$$1", "LIB.$$2"});
}

TEST_F(Errors, LibraryOfAnotherFormatIsA0001) {
    write_modules({"B"});
    patch_library(kFormatAt, "VER.B");
    expect_clean_failure({"-a", "-o", "LIB", "-f", "B"}, 1, "\nInvarid module or library A0001\n",
                         {"LIB.$$1", "LIB.$$2"});
}

TEST_F(Errors, LibraryOfAnotherProcessorIsRefusedByEveryCommand) {
    write_modules({"B"});
    patch_library(kCpuAt, "VRN200");
    const std::string message = "\nCPU number error\n";
    expect_clean_failure({"-a", "-o", "LIB", "-f", "B"}, 1, message, {"LIB.$$1", "LIB.$$2"});
    expect_clean_failure({"-r", "-o", "LIB", "-f", "A"}, 1, message, {"LIB.$$1", "LIB.$$2"});
    expect_clean_failure({"-d", "-o", "LIB", "-f", "A"}, 1, message, {"LIB.$$1", "LIB.$$2"});
    expect_clean_failure({"-x", "-o", "LIB"}, 1, message, {});
    expect_clean_failure({"-l", "-o", "LIB"}, 1, message, {"LIB.LST"});
}

TEST_F(Errors, NameThatNoModuleCarries) {
    write_modules({"B"});
    const std::string message = "\n<NOPE.QOB>module is not in the library\n";
    expect_clean_failure({"-d", "-o", "LIB", "-f", "NOPE"}, 1, message, {"LIB.$$1", "LIB.$$2"});
    expect_clean_failure({"-x", "-o", "LIB", "-f", "A", "NOPE"}, 1, message, {});
    write("NOPE.QOB", defining({"OTHER"}).bytes());
    expect_clean_failure({"-r", "-o", "LIB", "-f", "NOPE"}, 1, message, {"LIB.$$1", "LIB.$$2"});
}

TEST_F(Errors, SymbolDefinedTwice) {
    write("DUP.QOB", defining({"SYM_A"}).bytes());
    expect_clean_failure({"-a", "-o", "LIB", "-f", "DUP"}, 1,
                         "\n<SYM_A>is multiple defined in DUP. others is A\n", {"LIB.$$1", "LIB.$$2"});

    // Within one run, against a module appended just before.
    const RunResult r = run({"-ao", "NEW", "-f", "A", "DUP"});
    expect_failure(r, 1, "<NEW.LIB> CREATE\n\n<SYM_A>is multiple defined in DUP. others is A\n");
    EXPECT_FALSE(exists("NEW.LIB"));
}

TEST_F(Errors, UnreadableModuleIsAReadError) {
    if (windows_target()) GTEST_SKIP() << "a directory cannot be opened as a file there";
    make_dir("DIR.QOB");
    const RunResult r = run({"-a", "-o", "LIB", "-f", "DIR.QOB"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(r.out.starts_with("\nInput file read error <")) << r.out;
    EXPECT_EQ(drv::after_banner(r.err), "\a");
    expect_library_unchanged();
    EXPECT_EQ(work_files(), NameList{});
}

// ---- the interrupt ----

// The interrupt is delivered through a fifo the program reads; an emulated
// Windows program neither reads fifos nor takes the interrupt in step with
// its input, so these run against the native build.
class InterruptedRun : public Errors {
protected:
    void SetUp() override {
        Errors::SetUp();
        if (windows_target()) GTEST_SKIP() << "needs a native program reading a fifo";
    }

    // Appends the module FIFO.QOB, interrupted while it is being read.
    RunResult append_interrupted(const NameList& options, const std::string& lib) {
        const qob::ByteVec module = defining({"SYM_FIFO"}).bytes();
        const qob::ByteVec head(module.begin(), module.begin() + 10);
        const qob::ByteVec tail(module.begin() + 10, module.end());
        NameList args = options;
        args.insert(args.end(), {"-o", lib, "-f", "FIFO"});
        return run_interrupted(args, "FIFO.QOB", head, tail);
    }
};

TEST_F(InterruptedRun, LeavesTheLibraryAsItWas) {
    const RunResult r = append_interrupted({"-a"}, "LIB");
    expect_failure(r, 3, "\n--Break-- !\n");
    expect_library_unchanged();
    EXPECT_EQ(work_files(), NameList{});
}

TEST_F(InterruptedRun, CreatesNoLibrary) {
    const RunResult r = append_interrupted({"-a"}, "NEW");
    expect_failure(r, 3, "<NEW.LIB> CREATE\n\n--Break-- !\n");
    EXPECT_FALSE(exists("NEW.LIB"));
    EXPECT_EQ(work_files(), NameList{});
}

TEST_F(InterruptedRun, TraceFlagKeepsTheWorkingFiles) {
    const RunResult r = append_interrupted({"-a", "-k"}, "LIB");
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(r.out.ends_with("\n--Break-- !\n")) << r.out;
    expect_library_unchanged();
    EXPECT_EQ(work_files(), NameList({"LIB.$$1", "LIB.$$2"}));
}

TEST_F(InterruptedRun, DuringTheCommandFileTakesEffectAtTheFirstRecord) {
    write_modules({"B"});
    const std::string text = "-a -o LIB -f B\n";
    const RunResult r = run_interrupted({"@CMDS"}, "CMDS", qob::ByteVec(text.begin(), text.begin() + 5),
                                        qob::ByteVec(text.begin() + 5, text.end()));
    expect_failure(r, 3, "\n--Break-- !\n");
    expect_library_unchanged();
    EXPECT_EQ(work_files(), NameList{});
}

// ---- a malformed SOURCE_DATE_EPOCH ----

struct BadDate {
    const char* name;
    const char* value;
};

class BadSourceDate : public Errors, public ::testing::WithParamInterface<BadDate> {};

// Refused by every command before it opens, creates or changes a file, the
// trace flag's working files included; a wrong command line is reported first.
TEST_P(BadSourceDate, EndsTheRunBeforeAnyFileIsTouched) {
    const std::string value = GetParam().value;
    const EnvMap env{{"SOURCE_DATE_EPOCH", value}};
    const std::string message =
        "\nSOURCE_DATE_EPOCH <" + value + "> is not decimal seconds up to 253402300799\n";
    write_modules({"B"});
    expect_clean_failure({"-a", "-o", "NEW", "-f", "B"}, 2, message, {}, env);
    expect_clean_failure({"-r", "-o", "LIB", "-f", "A"}, 2, message, {}, env);
    expect_clean_failure({"-l", "-o", "LIB"}, 2, message, {}, env);
    drv::expect_usage(run({"-q", "-o", "LIB"}, env));
}

INSTANTIATE_TEST_SUITE_P(
    SourceDate, BadSourceDate,
    ::testing::Values(BadDate{"Letters", "12ab"}, BadDate{"PlusSign", "+5"}, BadDate{"MinusSign", "-5"},
                      BadDate{"Fraction", "1.5"}, BadDate{"Blank", " 5"},
                      BadDate{"Overflow", "18446744073709551617"}, BadDate{"AfterTheYear9999", "253402300800"}),
    [](const ::testing::TestParamInfo<BadDate>& info) { return std::string(info.param.name); });

}  // namespace
