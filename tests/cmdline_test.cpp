// End-to-end tests of the command line: the option grammar, command files,
// what goes to which console stream, the exit statuses and the trace lines.

#include <cctype>
#include <string>

#include "driver_e2e.h"

namespace {

using drv::after_banner;
using drv::expect_failure;
using drv::expect_usage;

// The position of `part` in `whole`, or npos.
std::size_t find_bytes(const qob::ByteVec& whole, const qob::ByteVec& part) {
    auto at = std::search(whole.begin(), whole.end(), part.begin(), part.end());
    return at == whole.end() ? std::string::npos : static_cast<std::size_t>(at - whole.begin());
}

class CmdLine : public drv::DriverE2E {
protected:
    // Runs the arguments with the trace flag against the missing library
    // LIB, so nothing is written, and returns the file list that the trace
    // shows once the command line has been accepted: each name as a
    // "ftree->NAME " line, which holds blanks as they are.
    NameList traced_file_list(NameList args) {
        args.insert(args.begin(), "-k");
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 3) << "command line not accepted:\n" << r.out << r.err;
        const std::size_t end = r.out.find("\nu=");
        if (end == std::string::npos || r.out.find("  library=LIB\n", end) == std::string::npos) {
            ADD_FAILURE() << "no trace of the command line:\n" << r.out;
            return {};
        }
        const std::string marker = "ftree->";
        NameList names;
        for (std::size_t pos = r.out.find(marker); pos < end;) {
            const std::size_t next = std::min(r.out.find(marker, pos + 1), end);
            EXPECT_EQ(r.out[next - 1], ' ') << r.out;
            names.push_back(r.out.substr(pos + marker.size(), next - 1 - pos - marker.size()));
            pos = next;
        }
        return names;
    }

    // Every argument list must end with the usage error and leave the
    // directory as it was.
    void expect_all_usage(const std::vector<NameList>& cases) {
        write_modules({"A"});
        const NameList before = list_dir();
        for (const NameList& args : cases) {
            SCOPED_TRACE(::testing::PrintToString(args));
            expect_usage(run(args));
            EXPECT_EQ(list_dir(), before);
        }
    }
};

// ---- grammar ----

TEST_F(CmdLine, NoArgumentsGivesTheUsage) { expect_usage(run({})); }

TEST_F(CmdLine, AppendOfTheFilesAfterOptionF) {
    write_modules({"A", "B"});
    const RunResult r = run({"-ao", "LIB", "-f", "A", "B"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "<LIB.LIB> CREATE\n" + count_lines(2, 2));
    const qob::ByteVec lib = read("LIB.LIB");
    const std::size_t a = find_bytes(lib, read("A.QOB"));
    const std::size_t b = find_bytes(lib, read("B.QOB"));
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    EXPECT_LT(a, b);
}

TEST_F(CmdLine, OtherOptionsStandAnywhere) {
    const std::vector<NameList> orders = {
        {"-x", "-o", "LIB", "-f", "A"},
        {"-o", "LIB", "-x", "-f", "A"},
        {"-o", "LIB", "-f", "-x", "A"},
        {"-o", "LIB", "-f", "A", "-x"},
        {"-ox", "LIB", "-vf", "A", "-u"},
    };
    for (const NameList& args : orders) {
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_EQ(traced_file_list(args), NameList({"A.QOB"}));
    }
}

TEST_F(CmdLine, NamesOutOfOrderOrMissingAreUsageErrors) {
    expect_all_usage({
        {"LIB", "-a", "-f", "A"},             // a name before option o
        {"-a", "-o", "LIB", "A"},             // a file name without option f
        {"-a", "-f", "-o", "LIB", "A"},       // f before the library name
        {"-a", "-fo", "LIB", "A"},            // the same inside one word
        {"-a", "-o", "-f", "LIB", "A"},
        {"-a", "-o"},                         // no library name
        {"-a", "-f", "A"},
        {"-o", "LIB", "-f", "A"},             // no command
        {"-a", "-o", "LIB"},                  // no file list
        {"-a", "-o", "LIB", "-f"},
        {"-r", "-o", "LIB", "-f"},
        {"-d", "-o", "LIB"},
        {"-x", "-o", "LIB", "-f"},            // f given, but no names
        {"-l", "-o", "LIB", "-f"},
        {"-k", "-a", "-o", "LIB", "A"},       // the trace flag creates nothing either
        {"-k", "-d", "-o", "LIB", "-f"},
    });
}

TEST_F(CmdLine, ExtractAndListWithoutOptionFTakeTheWholeLibrary) {
    EXPECT_EQ(traced_file_list({"-x", "-o", "LIB"}), NameList{});
    EXPECT_EQ(traced_file_list({"-l", "-o", "LIB"}), NameList{});

    make_library("LIB", {"A", "B"});
    const qob::ByteVec a = read("A.QOB"), b = read("B.QOB");
    remove("A.QOB");
    remove("B.QOB");
    const RunResult r = run({"-x", "-o", "LIB"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, count_lines(2, 2));
    EXPECT_EQ(read("A.QOB"), a);
    EXPECT_EQ(read("B.QOB"), b);
}

// ---- option words ----

TEST_F(CmdLine, RepeatedOrUnknownLettersAreUsageErrors) {
    expect_all_usage({
        {"-aa", "-o", "LIB", "-f", "A"},
        {"-a", "-a", "-o", "LIB", "-f", "A"},
        {"-a", "-r", "-o", "LIB", "-f", "A"},
        {"-ax", "-o", "LIB", "-f", "A"},
        {"-a", "-o", "LIB", "-f", "A", "-D"},
        {"-avv", "-o", "LIB", "-f", "A"},
        {"-a", "-v", "-o", "LIB", "-V", "-f", "A"},
        {"-auu", "-o", "LIB", "-f", "A"},
        {"-a", "-oo", "LIB", "-f", "A"},
        {"-a", "-o", "LIB", "-o", "-f", "A"},
        {"-a", "-o", "LIB", "-ff", "A"},
        {"-a", "-o", "LIB", "-f", "-F", "A"},
        {"-aq", "-o", "LIB", "-f", "A"},
        {"-a-", "-o", "LIB", "-f", "A"},
        {"-a", "-o", "LIB", "-f", "A", "-z"},
    });
}

TEST_F(CmdLine, TraceLetterMayBeRepeated) {
    EXPECT_EQ(traced_file_list({"-kk", "-x", "-o", "LIB", "-K", "-f", "A"}), NameList({"A.QOB"}));
}

TEST_F(CmdLine, LoneDashIsIgnored) {
    EXPECT_EQ(traced_file_list({"-", "-x", "-o", "LIB", "-", "-f", "A", "-"}), NameList({"A.QOB"}));
}

TEST_F(CmdLine, OptionWordEndsAtABlankInsideTheArgument) {
    // The letters after the blank would be a second command and an unknown letter.
    EXPECT_EQ(traced_file_list({"-x a", "-o", "LIB", "-f", "A"}), NameList({"A.QOB"}));
    EXPECT_EQ(traced_file_list({"-x\tq", "-o", "LIB", "-f", "A"}), NameList({"A.QOB"}));
}

TEST_F(CmdLine, UpperCaseLettersSetTheSameFlags) {
    const RunResult r = run({"-KUVXO", "LIB", "-F", "A"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(r.out.starts_with("ftree->A.QOB \nu=1 v=1 o=1 f=1\ncmd_code=X  library=LIB\n"))
        << r.out;
}

TEST_F(CmdLine, UpperCaseCommandLettersRunTheSameCommands) {
    struct Case {
        char letter;
        NameList names;
        int modules_after;
    };
    const Case cases[] = {
        {'a', {"-f", "C"}, 3}, {'r', {"-f", "A"}, 2}, {'d', {"-f", "A"}, 1},
        {'x', {"-f", "B"}, 2}, {'l', {}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.letter);
        RunResult results[2];
        qob::ByteVec libraries[2];
        for (int upper = 0; upper < 2; ++upper) {
            for (const char* old : {"LIB.LIB", "LIB.BAK", "LIB.LST"}) remove(old);
            make_library("LIB", {"A", "B"});
            write_modules({"C"});
            const char letter = static_cast<char>(upper ? std::toupper(c.letter) : c.letter);
            NameList args{std::string("-") + letter + "v", "-o", "LIB"};
            args.insert(args.end(), c.names.begin(), c.names.end());
            results[upper] = run(args);
            if (exists("LIB.LIB")) libraries[upper] = read("LIB.LIB");
        }
        EXPECT_EQ(results[0].status, 0);
        EXPECT_TRUE(results[0].out.ends_with(count_lines(c.modules_after, c.modules_after)))
            << results[0].out;
        EXPECT_EQ(results[1].status, results[0].status);
        EXPECT_EQ(results[1].out, results[0].out);
        EXPECT_EQ(libraries[1], libraries[0]);
    }
}

// ---- default extension ----

TEST_F(CmdLine, QobIsAddedWhenTheBaseNameHasNoDot) {
    const NameList typed{"SUB.DIR\\MOD", "MOD.X", "DIR\\M.X", "C:MOD", "MOD.", "SUB.DIR/MOD"};
    // On Windows only '\' separates directories, so the '.' of SUB.DIR counts.
    const std::string slash_name = windows_target() ? "SUB.DIR/MOD" : "SUB.DIR/MOD.QOB";
    const NameList expected{"SUB.DIR\\MOD.QOB", "MOD.X", "DIR\\M.X", "C:MOD.QOB", "MOD.", slash_name};
    NameList args{"-x", "-o", "LIB", "-f"};
    args.insert(args.end(), typed.begin(), typed.end());
    EXPECT_EQ(traced_file_list(args), expected);
}

TEST_F(CmdLine, NameWithDefaultExtensionReachesTheFile) {
    write("SUB.DIR/MOD.QOB", defining({"MOD_SYM"}).bytes());
    const RunResult r = run({"-ao", "LIB", "-f", "SUB.DIR\\MOD"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "<LIB.LIB> CREATE\n" + count_lines(1, 1));
    // The module is named after the file alone.
    const qob::ByteVec name_record{0xF0, 'M', 'O', 'D', '.', 'Q', 'O', 'B', 0};
    EXPECT_NE(find_bytes(read("LIB.LIB"), name_record), std::string::npos);
}

// ---- command files ----

TEST_F(CmdLine, CommandFileNamesTakeTheirPlaceAmongTheArguments) {
    write_text("C1", "B C\n");
    write_text("C2", "\t E  \n\n  F");
    EXPECT_EQ(traced_file_list({"-x", "-o", "LIB", "-f", "A", "@C1", "D", "@C2", "G"}),
              NameList({"A.QOB", "B.QOB", "C.QOB", "D.QOB", "E.QOB", "F.QOB", "G.QOB"}));
}

TEST_F(CmdLine, CommandFileMayHoldTheWholeCommandLine) {
    write_text("CMD", "-x\n-o LIB\r\n-f A\r\n\r\nB\n");
    EXPECT_EQ(traced_file_list({"@CMD"}), NameList({"A.QOB", "B.QOB"}));
}

TEST_F(CmdLine, CommandFileLinesOfAnyLengthAreReadWhole) {
    // A response file as build systems write it: every name on one line of
    // about 100,000 characters, with no line end after it.
    NameList names;
    std::string line = "-a -o LIB -f";
    for (int i = 0; i < 1000; ++i) {
        names.push_back("MODULE_WITH_A_LONG_NAME_" + std::to_string(1000 + i));
        line += " " + names.back();
    }
    write_modules(names);
    ASSERT_GT(line.size(), 25'000u);
    line += std::string(100'000 - line.size(), ' ');
    write_text("CMD", line);
    const RunResult r = run({"@CMD"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "<LIB.LIB> CREATE\n" + count_lines(1000, 1000));
    const qob::ByteVec lib = read("LIB.LIB");
    EXPECT_NE(find_bytes(lib, read(names.back() + ".QOB")), std::string::npos);
}

// A quoting of names in command files: a line of names and what they are,
// and the file given by a name with a blank or a quote (`quoted_path`, with
// SEP for the directory separator) that must reach the file system.
struct Quoting {
    const char* style;
    const char* line;
    NameList names;
    const char* file;  // in the directory "My Mods"
    const char* quoted_path;
};

class QuotedNames : public CmdLine, public ::testing::WithParamInterface<Quoting> {};

TEST_P(QuotedNames, HoldBlanksAndReachTheFileSystemAsTheyAre) {
    const Quoting& q = GetParam();
    write_text("CMD", std::string("-x -o LIB -f ") + q.line);
    EXPECT_EQ(traced_file_list({"@CMD"}), q.names);

    write(std::string("My Mods/") + q.file, defining({"QUOTED"}).bytes());
    std::string path = q.quoted_path;
    path.replace(path.find("SEP"), 3, drv::sep());
    write_text("APPEND", "-a -o LIB -f " + path + "\n");
    const RunResult r = run({"@APPEND"});
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string stored = q.file;
    qob::ByteVec name_record{0xF0};
    name_record.insert(name_record.end(), stored.begin(), stored.end());
    name_record.push_back(0);
    EXPECT_NE(find_bytes(read("LIB.LIB"), name_record), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    CmdLine, QuotedNames,
    ::testing::Values(
        // Double quotes, as Windows tools write them: no escapes. Quotes are
        // taken only at the start of a word: a word without them is read as before.
        Quoting{"double",
                "\"My Projects\\A B\" \"\tTAB\" \"-C\"\"@D\" E\"F G\"\n\"H\"  \"I J.X\"\r\n",
                {"My Projects\\A B.QOB", "\tTAB.QOB", "-C.QOB", "@D.QOB", "E\"F.QOB", "G\".QOB", "H.QOB",
                 "I J.X"},
                "A B.QOB", "\"My ModsSEPA B\""},
        // Single quotes, as Ninja and Bazel write names on POSIX hosts, with
        // '\'' for a quote inside; a '\' stays a directory separator.
        Quoting{"single",
                "'My Mods/A B' 'O'\\''Brien' ''\\''' 'x'\\''' 'a\"b' 'C:\\dir\\c d'\n"
                "'E'F G'H '-I' '@J' 'K''L'\r\n",
                {"My Mods/A B.QOB", "O'Brien.QOB", "'.QOB", "x'.QOB", "a\"b.QOB", "C:\\dir\\c d.QOB", "E.QOB",
                 "F.QOB", "G'H.QOB", "-I.QOB", "@J.QOB", "K.QOB", "L.QOB"},
                "O'Brien.QOB", "'My ModsSEPO'\\''Brien.QOB'"}),
    [](const ::testing::TestParamInfo<Quoting>& info) { return std::string(info.param.style); });

TEST_F(CmdLine, AQuoteLeftOpenEndsTheRunBeforeAnyFile) {
    write_modules({"A"});
    write_text("CMD", "-a -o LIB -f A\n\"B C\n\"D\"\n");
    const NameList before = list_dir();
    expect_failure(run({"@CMD"}), 2, "\n<CMD>unclosed quote in line 2\n");
    // Single quotes the same, a quote reopened by '\'' included.
    for (const char* line : {"'B C\n", "'B'\\''C\n", "'B'\\''\n"}) {
        SCOPED_TRACE(line);
        write_text("CMD", std::string("-a -o LIB -f A\n") + line + "D\n");
        expect_failure(run({"@CMD"}), 2, "\n<CMD>unclosed quote in line 2\n");
    }
    EXPECT_EQ(list_dir(), before);
    // An empty name names nothing.
    for (const char* empty : {"\"\"", "''"}) {
        write_text("EMPTY", std::string("-a -o LIB -f A ") + empty + "\n");
        expect_usage(run({"@EMPTY"}));
    }
    EXPECT_FALSE(exists("LIB.LIB"));
}

TEST_F(CmdLine, ByteOrderMarkAtTheStartOfACommandFileIsSkipped) {
    const std::string bom = "\xEF\xBB\xBF";
    write_text("CMD", bom + "-x -o LIB -f A\r\n" + bom + "B\r\n");
    // Only at the very start: later it is part of a name.
    EXPECT_EQ(traced_file_list({"@CMD"}), NameList({"A.QOB", bom + "B.QOB"}));
    write_text("NAMES", bom + "\"C D\"\n");
    EXPECT_EQ(traced_file_list({"-x", "-o", "LIB", "-f", "@NAMES"}), NameList({"C D.QOB"}));
}

// A command file as Windows PowerShell writes it with `>`: UTF-16 in the
// byte order given, with its byte-order mark.
std::string utf16_file(std::u16string_view text, bool big_endian) {
    std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += big_endian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

TEST_F(CmdLine, CommandFilesInUtf16AreReadAsTheSameText) {
    for (const bool big_endian : {false, true}) {
        SCOPED_TRACE(big_endian ? "big-endian" : "little-endian");
        write_text("CMD", utf16_file(u"-x -o LIB -f A\r\n\"B C\" 'D E'\r\n\r\nF\u00C4\r\n", big_endian));
        EXPECT_EQ(traced_file_list({"@CMD"}), NameList({"A.QOB", "B C.QOB", "D E.QOB", "F\u00C4.QOB"}));
        // Every character reaches the file system, one outside the BMP (a
        // surrogate pair) too where module names can hold it.
        const std::string name = windows_target() ? "\u00C4rger" : "\u00C4rger\U0001D11E";
        write(name + ".QOB", defining({"UNICODE"}).bytes());
        const std::u16string name16 = windows_target() ? u"\u00C4rger" : u"\u00C4rger\U0001D11E";
        write_text("APPEND", utf16_file(u"-a -o U16 -f \"" + name16 + u"\"\r\n", big_endian));
        const RunResult r = run({"@APPEND"});
        EXPECT_EQ(r.out, "<U16.LIB> CREATE\n" + count_lines(1, 1));
        std::filesystem::remove(path("U16.LIB"));
    }
}

// Text that stops being UTF-16 ends the run before any file is made, naming
// the byte where it stops (counted from 1, the mark included).
TEST_F(CmdLine, CommandFileThatIsNotUtf16AfterItsMarkIsRefused) {
    write_modules({"A"});
    write_text("CMD", "");
    const NameList before = list_dir();
    const std::string head = "-a -o LIB -f A";
    const std::string little = utf16_file(std::u16string(head.begin(), head.end()), false);
    const std::string big = utf16_file(std::u16string(head.begin(), head.end()), true);
    const std::vector<std::pair<std::string, std::size_t>> cases = {
        {little + "B", 31},                  // a byte left over
        {little + std::string("\x00\xD8", 2), 31},      // a high surrogate at the end
        {little + std::string("\x00\xDC\x41\x00", 4), 31},  // a low surrogate alone
        {big + std::string("\xD8\x00\x00\x41", 4), 31},     // a high surrogate without its low one
    };
    for (const auto& [text, byte] : cases) {
        write_text("CMD", text);
        expect_failure(run({"@CMD"}), 2, "\n<CMD>invalid UTF-16 at byte " + std::to_string(byte) + "\n");
    }
    EXPECT_EQ(list_dir(), before);
}

TEST_F(CmdLine, NewGoesWithAppendAloneAndOnce) {
    write_text("TWICE", "--new -a -o LIB -f A\n--new\n");
    expect_all_usage({{"--new", "-d", "-o", "LIB", "-f", "A"},
                      {"--new", "-r", "-o", "LIB", "-f", "A"},
                      {"-x", "-o", "LIB", "--new"},
                      {"-l", "-o", "LIB", "-f", "A", "--new"},
                      {"--new", "--new", "-a", "-o", "LIB", "-f", "A"},
                      {"@TWICE"},
                      {"--NEW", "-a", "-o", "LIB", "-f", "A"},
                      {"--new=yes", "-a", "-o", "LIB", "-f", "A"}});
}

TEST_F(CmdLine, CommandFilesDoNotNest) {
    write_text("C2", "B\n");
    write_text("MIDDLE", "-x -o LIB -f A @C2\n");
    write_text("FIRST", "@C2\n");
    expect_all_usage({{"@MIDDLE"}, {"-x", "-o", "LIB", "-f", "@FIRST"}});
}

TEST_F(CmdLine, CommandFileLinesFollowTheGrammar) {
    write_text("NOF", "-a -o LIB MOD1 MOD2\n");
    write_text("BADOPT", "-x -o LIB -f A\n-q\n");
    write_text("TWICE", "-v -x -o LIB\n-v\n");
    expect_all_usage({{"@NOF"}, {"@BADOPT"}, {"@TWICE"}});
}

TEST_F(CmdLine, MissingCommandFile) {
    const RunResult r = run({"-x", "-o", "LIB", "@NOCMD"});
    expect_failure(r, 1, "\n<NOCMD>command file not found\n");
    EXPECT_EQ(list_dir(), NameList{});
}

// ---- console streams and exit statuses ----

TEST_F(CmdLine, ExitStatusBannerAndBell) {
    make_library("LIB", {"A"});

    const RunResult ok = run({"-x", "-o", "LIB"});
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.out, count_lines(1, 1));
    EXPECT_EQ(after_banner(ok.err), "");

    expect_failure(run({"-d", "-o", "LIB", "-f", "NOPE"}), 1,
                   "\n<NOPE.QOB>module is not in the library\n");
    expect_usage(run({"-d", "-o", "LIB"}));
    expect_failure(run({"-x", "-o", "NOLIB"}), 3, "\nCan't open <NOLIB.LIB>\n");
}

TEST_F(CmdLine, VersionAndHelpAnswerOnStandardOutput) {
    write_modules({"A"});
    const NameList before = list_dir();
    for (const NameList& args : std::vector<NameList>{{"--version"}, {"-a", "-o", "LIB", "-f", "A", "--version"}}) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "vorna 4.0.0 (librarian V.4.00.00)\n");
        EXPECT_EQ(after_banner(r.err), "");
    }
    const RunResult help = run({"-q", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, drv::kUsage +
                            "       @<file> : read more options and names from a command file\n"
                            "       --new : with -a, make the library from the given files alone\n"
                            "       --version : show the version\n"
                            "       --help : show this text\n");
    EXPECT_EQ(list_dir(), before);

    const RunResult dump_version = run_dump({"--version", "NOFILE"});
    EXPECT_EQ(dump_version.status, 0);
    EXPECT_EQ(dump_version.out, "vornadump 4.0.0\n");
    const RunResult dump_help = run_dump({"--help"});
    EXPECT_EQ(dump_help.status, 0);
    EXPECT_TRUE(dump_help.out.starts_with("usage: vornadump [--check]")) << dump_help.out;
    EXPECT_NE(dump_help.out.find("  --version  shows the version\n"), std::string::npos);
    // After "--" they are file names.
    EXPECT_EQ(run_dump({"--", "--help"}).status, 3);
    // Other words starting with two dashes keep their meaning: usage errors.
    expect_usage(run({"--verbose"}));
    EXPECT_EQ(run_dump({"--versions", "A.QOB"}).status, 2);
}

// ---- trace lines ----

TEST_F(CmdLine, TraceShowsTheAcceptedCommandLine) {
    const RunResult r = run({"-kuv", "-x", "-o", "LIB", "-f", "A"});
    EXPECT_EQ(r.out,
              "ftree->A.QOB \nu=1 v=1 o=1 f=1\ncmd_code=x  library=LIB\n A.QOB\n"
              "\npath= name=LIB lib_name=LIB.LIB\n"
              "\nCan't open <LIB.LIB>\n");
    EXPECT_EQ(r.status, 3);
}

TEST_F(CmdLine, TraceShowsOnlyNamesGivenAfterTheTraceLetter) {
    const RunResult r = run({"-x", "-o", "LIB", "-f", "A", "-k", "B"});
    EXPECT_TRUE(r.out.starts_with(
        "ftree->B.QOB \nu=0 v=0 o=1 f=1\ncmd_code=x  library=LIB\n A.QOB B.QOB\n"))
        << r.out;
}

TEST_F(CmdLine, TraceWithoutFileList) {
    const RunResult r = run({"-Xk", "-o", "LIB"});
    EXPECT_TRUE(r.out.starts_with("\nu=0 v=0 o=1 f=0\ncmd_code=X  library=LIB\n\n")) << r.out;
}

}  // namespace
