// End-to-end tests of the list command: libraries are built with -a from
// modules written by the test support, listed, and the listing file is read
// back page by page.
//
// Every page of a listing begins with a form feed, a header line and two
// empty lines; the listing ends with a form feed and the byte 0x1A. The page
// parser below checks that frame for every page (the header's date must be
// the time of the run, the same on every page, and the page numbers must
// count from 1), so the tests compare only what follows the header.

#include <algorithm>
#include <iterator>
#include <span>
#include <cstdio>
#include <filesystem>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/harness.h"
#include "support/qob_writer.h"
#include "listing/sym_tree.h"

using qob::Module;

namespace {

using Lines = std::vector<std::string>;

const std::string kHeaderStart = "VORNA librarian V.4.00.00" + std::string(19, ' ') + "date ";
const std::string kColumns =
    "  Symbol_name:     Module_name:          Symbol_name:     Module_name:";
const std::string kColumnsContinued =
    "  symbol_name      module_name           symbol_name      module_name ";

// A time as the page header shows it: 2026-Dec-07 09:05.
std::string stamp(std::time_t t) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[32];
    std::snprintf(text, sizeof text, "%4d-%s-%02d %02d:%02d", tm.tm_year + 1900,
                  months[tm.tm_mon], tm.tm_mday, tm.tm_hour, tm.tm_min);
    return text;
}

std::string page_header(const std::string& date, int page) {
    char number[16];
    std::snprintf(number, sizeof number, "%4d", page);
    return kHeaderStart + date + " page " + number;
}

Lines split_lines(const std::string& text) {
    Lines lines;
    const std::string line_end = text_line_end();
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(line_end, start)) != std::string::npos;
         start = end + line_end.size()) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "a page does not end with a line end";
    return lines;
}

// The pages of a listing, each without its header and the two empty lines
// after it. `dates` are the header dates the run may show.
std::vector<Lines> pages_of(const std::string& text, const Lines& dates) {
    std::vector<Lines> pages;
    Lines chunks;
    for (std::size_t start = 0;;) {
        std::size_t ff = text.find('\f', start);
        chunks.push_back(text.substr(start, ff - start));
        if (ff == std::string::npos) break;
        start = ff + 1;
    }
    EXPECT_EQ(chunks.front(), "") << "the listing does not begin with a form feed";
    EXPECT_EQ(chunks.back(), "\x1A") << "the listing does not end with a form feed and 0x1A";
    std::string date;
    for (std::size_t i = 1; i + 1 < chunks.size(); ++i) {
        Lines lines = split_lines(chunks[i]);
        if (lines.size() < 3) {
            ADD_FAILURE() << "page " << i << " has no complete header";
            continue;
        }
        if (date.empty()) date = lines[0].substr(kHeaderStart.size(), 17);
        EXPECT_EQ(lines[0], page_header(date, static_cast<int>(i)));
        EXPECT_EQ(lines[1], "");
        EXPECT_EQ(lines[2], "");
        pages.emplace_back(lines.begin() + 3, lines.end());
    }
    EXPECT_TRUE(std::find(dates.begin(), dates.end(), date) != dates.end())
        << "header date " << date << " is not the time of the run";
    return pages;
}

// A global table line, two symbols with their modules: the first symbol is
// filled with dots to column 20, its column with blanks to 40, the second
// symbol with dots to 60.
std::string glob_line(const std::string& sym1, const std::string& mod1,
                      const std::string& sym2 = "", const std::string& mod2 = "") {
    auto fill = [](std::string& s, char c, std::size_t n) {
        if (s.size() < n) s.append(n - s.size(), c);
    };
    std::string line = "  " + sym1;
    fill(line, '.', 20);
    line += " " + mod1;
    fill(line, ' ', 40);
    if (sym2.empty()) return line;
    line += "  " + sym2;
    fill(line, '.', 60);
    return line + " " + mod2;
}

// A line of a module's table: up to four symbols in fields of 20 columns.
std::string mod_line(const Lines& symbols) {
    std::string line;
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        line += "  " + symbols[i];
        if (line.size() < 20 * (i + 1)) line.append(20 * (i + 1) - line.size(), ' ');
    }
    return line;
}

std::string module_title(const std::string& name, int count) {
    char text[300];
    std::snprintf(text, sizeof text, "Module_name: %s ( symbol count ) = %4d", name.c_str(), count);
    return text;
}

std::string count_title(const char* table, int count) {
    char text[80];
    std::snprintf(text, sizeof text, "%s symbol table ( symbol count = %04d ) ", table, count);
    return text;
}

// Names N000, N001, ... as public symbols of one block.
std::vector<qob::TriSym> numbered(const std::string& prefix, int count) {
    std::vector<qob::TriSym> symbols;
    for (int i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%s%03d", prefix.c_str(), i);
        symbols.push_back({static_cast<std::uint32_t>(i), name});
    }
    return symbols;
}

Lines names_of(const std::vector<qob::TriSym>& symbols) {
    Lines names;
    for (const qob::TriSym& s : symbols) names.push_back(s.name);
    return names;
}

class ListTest : public E2E {
protected:
    // Writes NAME.QOB for each module and appends them all to `lib` in one run.
    void append(const std::string& lib, const std::vector<std::pair<std::string, Module>>& modules) {
        NameList args{"-a", "-o", lib, "-f"};
        for (const auto& [name, module] : modules) {
            write(name + ".QOB", module.bytes());
            args.push_back(name);
        }
        RunResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.out;
    }

    // Runs a list command that must succeed and returns the pages of `listing`.
    std::vector<Lines> list(const NameList& args, const std::string& listing,
                            const EnvMap& env = {}, const NameList& unset = {"TMP", "VORNA"}) {
        const std::time_t before = std::time(nullptr);
        last_ = run(args, env, unset);
        const std::time_t after = std::time(nullptr);
        EXPECT_EQ(last_.status, 0) << last_.out;
        return pages_of(read_text(listing), {stamp(before), stamp(after)});
    }

    RunResult last_;
};

// The index of the first page whose first line is `title`, or the page count.
std::size_t find_page(const std::vector<Lines>& pages, const std::string& title) {
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (!pages[i].empty() && pages[i][0] == title) return i;
    }
    ADD_FAILURE() << "no page starts with " << title;
    return pages.size();
}

// ---- the whole listing ----

// One module A.QOB of 100 bytes with the public symbol START.
TEST_F(ListTest, WorkedExampleGivesFivePages) {
    Module a;
    a.f0().f4(1, {{0x1000, "START"}}).f1(std::string(74, 'x')).end();
    ASSERT_EQ(a.bytes().size(), 100u);
    append("TEST", {{"A", a}});
    set_mtime("TEST.LIB", 2026, 12, 7, 9, 4, 30);

    const std::vector<Lines> pages = list({"-l", "-o", "TEST"}, "TEST.LST");
    const std::vector<Lines> expected = {
        {"Library file name:       TEST.LIB", "Relocatable format:      VER.A",
         "Last update time:        2026-Dec-07 09:04", "Number of modules:       1    ",
         "Number of global symbol: 1    ", "", "", "Module_name:",
         "A.QOB......... offset: 0000008BH module size: 00000064H "},
        {"PUBLIC symbol table ( symbol count = 0001 ) ", "", kColumns, "",
         "  START............. A.QOB              "},
        {"EXTERN symbol table ( symbol count = 0000 ) ", "", kColumns, ""},
        {"PUBLIC symbol table", "", "Module_name: A.QOB ( symbol count ) =    1", "",
         "  START             ", "", ""},
        {"EXTERN symbol table", "", "Module_name: A.QOB ( symbol count ) =    0", "", "", ""},
    };
    EXPECT_EQ(pages, expected);
    EXPECT_EQ(last_.out, "MODULE COUNT         000001\nGLOBAL SYMBOL COUNT  000001\n");
}

// A library typed with its own extension and found in the VORNA directory:
// the header block shows that file's name and time.
TEST_F(ListTest, HeaderBlockShowsTheLibraryFoundThroughVorna) {
    Module a;
    a.f0().end();
    write("A.QOB", a.bytes());
    std::filesystem::create_directories(dir() / "libs");
    ASSERT_EQ(run({"-a", "-o", "libs/mylib.lb", "-f", "A"}).status, 0);
    set_mtime("libs/mylib.lb", 2025, 3, 4, 5, 6, 7);

    const std::vector<Lines> pages =
        list({"-l", "-o", "mylib.lb"}, "mylib.LST", {{"VORNA", path("libs")}}, {"TMP"});
    ASSERT_FALSE(pages.empty());
    ASSERT_GE(pages[0].size(), 3u);
    EXPECT_EQ(pages[0][0], "Library file name:       MYLIB.LB");
    EXPECT_EQ(pages[0][2], "Last update time:        2025-Mar-04 05:06");
}

// With SOURCE_DATE_EPOCH the page headers show it, and "Last update time"
// the library's time no later than it, both in UTC whatever the time zone;
// here with the last second that the variable may hold.
TEST_F(ListTest, SourceDateEpochGivesTheDatesInUtcUpToTheYear9999) {
    Module a;
    a.f0().end();
    append("L", {{"A", a}});
    set_mtime("L.LIB", 1600000000);  // 2020-09-13 12:26:40 UTC
    last_ = run({"-l", "-o", "L"}, {{"SOURCE_DATE_EPOCH", "253402300799"}, {"TZ", "JST-9"}});
    ASSERT_EQ(last_.status, 0) << last_.out;
    const std::vector<Lines> pages = pages_of(read_text("L.LST"), {"9999-Dec-31 23:59"});
    ASSERT_FALSE(pages.empty());
    ASSERT_GE(pages[0].size(), 3u);
    EXPECT_EQ(pages[0][2], "Last update time:        2020-Sep-13 12:26");
}

// ---- paging ----

TEST_F(ListTest, ModuleTableHolds41LinesOnTheFirstPageAnd48After) {
    std::vector<std::pair<std::string, Module>> modules;
    for (int i = 0; i < 90; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "M%02d", i);
        Module m;
        m.f0().end();
        modules.emplace_back(name, m);
    }
    append("L", modules);

    // Header 37 bytes, 90 entries of 87 bytes and the table's end mark; each
    // body is 8 bytes long.
    auto module_line = [](int i) {
        char text[80];
        std::snprintf(text, sizeof text, "M%02d.QOB....... offset: %08XH module size: 00000008H ",
                      i, 37 + 90 * 87 + 1 + 8 * i);
        return std::string(text);
    };
    const std::vector<Lines> pages = list({"-l", "-o", "L"}, "L.LST");
    ASSERT_GE(pages.size(), 4u);
    Lines first(pages[0].begin(), pages[0].begin() + 8);
    EXPECT_EQ(first.back(), "Module_name:");
    Lines expected1 = first, expected2 = {"Module_name"}, expected3 = {"Module_name"};
    for (int i = 0; i < 41; ++i) expected1.push_back(module_line(i));
    for (int i = 41; i < 89; ++i) expected2.push_back(module_line(i));
    expected3.push_back(module_line(89));
    EXPECT_EQ(pages[0], expected1);
    EXPECT_EQ(pages[1], expected2);
    EXPECT_EQ(pages[2], expected3);
    EXPECT_EQ(pages[3][0], count_title("PUBLIC", 0));
}

// 181 public symbols: 90 on each page of the global table, the continuation
// pages with the lower-case column header, the odd one alone on the last
// line; the module's own table holds 43 lines on its first page.
TEST_F(ListTest, SymbolTablesContinueOnNewPages) {
    const std::vector<qob::TriSym> symbols = numbered("S", 181);
    Module big;
    big.f0().f4(1, symbols).end();
    append("L", {{"BIG", big}});
    const Lines names = names_of(symbols);

    const std::vector<Lines> pages = list({"-l", "-o", "L"}, "L.LST");
    ASSERT_EQ(pages.size(), 8u);
    auto glob_lines = [&](Lines lines, int from, int to) {
        for (int i = from; i < to; i += 2) {
            lines.push_back(i + 1 < 181 ? glob_line(names[i], "BIG.QOB", names[i + 1], "BIG.QOB")
                                        : glob_line(names[i], "BIG.QOB"));
        }
        return lines;
    };
    EXPECT_EQ(pages[1], glob_lines({count_title("PUBLIC", 181), "", kColumns, ""}, 0, 90));
    EXPECT_EQ(pages[2], glob_lines({kColumnsContinued, ""}, 90, 180));
    EXPECT_EQ(pages[3], glob_lines({kColumnsContinued, ""}, 180, 181));
    EXPECT_EQ(pages[3].back().size(), 40u);
    EXPECT_EQ(pages[4], (Lines{count_title("EXTERN", 0), "", kColumns, ""}));

    Lines own = {"PUBLIC symbol table", "", module_title("BIG.QOB", 181), ""};
    for (int i = 0; i < 172; i += 4) own.push_back(mod_line({names.begin() + i, names.begin() + i + 4}));
    EXPECT_EQ(pages[5], own);
    EXPECT_EQ(pages[6], (Lines{mod_line({names.begin() + 172, names.begin() + 176}),
                               mod_line({names.begin() + 176, names.begin() + 180}),
                               mod_line({names[180]}), "", ""}));
    EXPECT_EQ(pages[7][0], "EXTERN symbol table");
}

// The two empty lines after a module's table begin a new page when they fill
// the page: 163 symbols (40 full lines and one partial) and 164 (41 full
// lines, no partial one) do, 160 (40 full lines) does not.
TEST_F(ListTest, EmptyLinesAfterAModuleTableCanFillThePage) {
    for (int count : {160, 163, 164}) {
        SCOPED_TRACE(count);
        const std::vector<qob::TriSym> symbols = numbered("P", count);
        Module p;
        p.f0().f4(1, symbols).end();
        std::string lib = "L";
        lib += std::to_string(count);
        append(lib, {{"P", p}});
        const Lines names = names_of(symbols);

        const std::vector<Lines> pages = list({"-l", "-o", lib}, lib + ".LST");
        const std::size_t own = find_page(pages, "PUBLIC symbol table");
        ASSERT_LT(own, pages.size());
        Lines expected = {"PUBLIC symbol table", "", module_title("P.QOB", count), ""};
        for (int i = 0; i < count; i += 4) {
            expected.push_back(mod_line({names.begin() + i, names.begin() + std::min(i + 4, count)}));
        }
        expected.insert(expected.end(), {"", ""});
        EXPECT_EQ(pages[own], expected);
        const std::vector<Lines> rest(pages.begin() + own + 1, pages.end());
        const Lines externs = {"EXTERN symbol table", "", module_title("P.QOB", 0), "", "", ""};
        if (count == 160) {
            EXPECT_EQ(rest, std::vector<Lines>{externs});
        } else {
            EXPECT_EQ(rest, (std::vector<Lines>{{}, externs})) << "a page with only its header";
        }
    }
}

// ---- order and format ----

TEST_F(ListTest, SymbolsSortByBytesAndEqualNamesKeepTheirOrder) {
    // Z.QOB comes first in the library although A.QOB sorts first by name.
    // Its BIT and EQU records stand before the public one in the file; the
    // module table holds public, EQU, BIT in this order all the same.
    Module z;
    z.f0()
        .e0({{1, 2, "X"}})
        .f5({{3, "X"}})
        .f4(1, {{1, "quit"}, {2, "QUIT"}, {3, "X"}, {4, "Quit"}})
        .f6({"PRINT"})
        .end();
    Module a;
    a.f0().f4(1, {{5, "\xE9t\xE9"}, {6, "zz"}}).f6({"PRINT"}).end();
    append("L", {{"Z", z}, {"A", a}});

    const std::vector<Lines> pages = list({"-l", "-o", "L"}, "L.LST");
    ASSERT_EQ(pages.size(), 5u);
    EXPECT_EQ(pages[1], (Lines{count_title("PUBLIC", 8), "", kColumns, "",
                               "  QUIT.............. Z.QOB                Quit.............. Z.QOB",
                               "  X................. Z.QOB                X(e).............. Z.QOB",
                               "  X(b).............. Z.QOB                quit.............. Z.QOB",
                               "  zz................ A.QOB                \xE9t\xE9............... A.QOB"}));
    EXPECT_EQ(pages[2], (Lines{count_title("EXTERN", 2), "", kColumns, "",
                               "  PRINT............. Z.QOB                PRINT............. A.QOB"}));
    EXPECT_EQ(pages[3], (Lines{"PUBLIC symbol table", "", module_title("Z.QOB", 6), "",
                               "  QUIT                Quit                X                   X(e)              ",
                               "  X(b)                quit              ",
                               "", "", module_title("A.QOB", 2), "",
                               "  zz                  \xE9t\xE9               ", "", ""}));
    EXPECT_EQ(pages[4], (Lines{"EXTERN symbol table", "", module_title("Z.QOB", 1), "",
                               mod_line({"PRINT"}), "", "", module_title("A.QOB", 1), "",
                               mod_line({"PRINT"}), "", ""}));
}

TEST_F(ListTest, LongNamesGetNoFillAndPushTheLineRight) {
    const std::string a17(17, 'A'), b18(18, 'B'), c15(15, 'C'), d40(40, 'D'), e40(40, 'E');
    Module m;
    m.f0().f4(1, {{1, a17}, {2, b18}, {3, d40}, {4, e40}, {5, "F"}, {6, "G"}}).f5({{7, c15}}).end();
    Module n;
    n.f0().end();
    append("L", {{"ABCDEFGHI", m}, {"ABCDEFGHIJ", n}});

    const std::vector<Lines> pages = list({"-l", "-o", "L"}, "L.LST");
    ASSERT_EQ(pages.size(), 5u);
    ASSERT_EQ(pages[0].size(), 10u);
    EXPECT_EQ(pages[0][8].substr(0, 23), "ABCDEFGHI.QOB. offset: ");
    EXPECT_EQ(pages[0][9].substr(0, 23), "ABCDEFGHIJ.QOB offset: ");

    const std::string mod = " ABCDEFGHI.QOB";
    EXPECT_EQ(pages[1], (Lines{count_title("PUBLIC", 7), "", kColumns, "",
                               "  " + a17 + "." + mod + "      " + "  " + b18 + mod,
                               "  " + c15 + "(e)" + mod + "      " + "  " + d40 + mod,
                               "  " + e40 + mod + "  F" + "." + mod,
                               "  G" + std::string(17, '.') + mod + "      "}));
    EXPECT_EQ(pages[3], (Lines{"PUBLIC symbol table", "", module_title("ABCDEFGHI.QOB", 7), "",
                               "  " + a17 + " " + "  " + b18 + "  " + c15 + "(e)" + "  " + d40,
                               "  " + e40 + "  F" + "  G" + std::string(12, ' '), "", "",
                               module_title("ABCDEFGHIJ.QOB", 0), "", "", ""}));
}

// ---- selection with -f ----

TEST_F(ListTest, NamesSelectTheSymbolTablesInLibraryOrder) {
    Module a, b, c;
    a.f0().f4(1, {{1, "A_PUB"}}).f6({"EXT"}).end();
    b.f0().f4(1, {{2, "B_PUB"}}).f6({"EXT"}).end();
    c.f0().f4(1, {{3, "C_PUB"}}).f5({{4, "C_EQU"}}).f6({"EXT"}).end();
    append("L", {{"A", a}, {"B", b}, {"C", c}});
    set_mtime("L.LIB", 2026, 1, 2, 3, 4, 5);
    const std::string counts = "MODULE COUNT         000003\nGLOBAL SYMBOL COUNT  000007\n";

    std::vector<Lines> pages = list({"-Lv", "-o", "L"}, "L.LST");
    EXPECT_EQ(last_.out, "LISTOUT FILE = ALL FILES\n" + counts);
    ASSERT_EQ(pages.size(), 5u);
    EXPECT_EQ(pages[1][0], count_title("PUBLIC", 4));
    const Lines all_modules = pages[0];

    pages = list({"-lv", "-o", "L", "-f", "c", "a"}, "L.LST");
    EXPECT_EQ(last_.out, "LISTOUT FILE = A.QOB,C.QOB\n" + counts);
    ASSERT_EQ(pages.size(), 5u);
    // The header block keeps the library's totals and the module table all modules.
    EXPECT_EQ(pages[0], all_modules);
    ASSERT_EQ(pages[0].size(), 11u);
    EXPECT_EQ(pages[0][2], "Last update time:        2026-Jan-02 03:04");
    EXPECT_EQ(pages[0][3], "Number of modules:       3    ");
    EXPECT_EQ(pages[0][4], "Number of global symbol: 7    ");
    EXPECT_EQ(pages[0][9].substr(0, 23), "B.QOB......... offset: ");

    EXPECT_EQ(pages[1], (Lines{count_title("PUBLIC", 3), "", kColumns, "",
                               glob_line("A_PUB", "A.QOB", "C_EQU(e)", "C.QOB"),
                               glob_line("C_PUB", "C.QOB")}));
    EXPECT_EQ(pages[2], (Lines{count_title("EXTERN", 2), "", kColumns, "",
                               glob_line("EXT", "A.QOB", "EXT", "C.QOB")}));
    EXPECT_EQ(pages[3], (Lines{"PUBLIC symbol table", "", module_title("A.QOB", 1), "",
                               mod_line({"A_PUB"}), "", "", module_title("C.QOB", 2), "",
                               mod_line({"C_EQU(e)", "C_PUB"}), "", ""}));
    EXPECT_EQ(pages[4], (Lines{"EXTERN symbol table", "", module_title("A.QOB", 1), "",
                               mod_line({"EXT"}), "", "", module_title("C.QOB", 1), "",
                               mod_line({"EXT"}), "", ""}));
}

TEST_F(ListTest, UnknownNameStopsBeforeTheListingIsWritten) {
    Module a;
    a.f0().f4(1, {{1, "START"}}).end();
    append("L", {{"A", a}});
    list({"-l", "-o", "L"}, "L.LST");
    ASSERT_TRUE(exists("L.LST"));

    RunResult r = run({"-l", "-o", "L", "-f", "A", "Q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\n<Q.QOB>module is not in the library\n");
    EXPECT_FALSE(exists("L.LST"));

    // With the trace flag the listing stays, and nothing was written to it.
    r = run({"-lk", "-o", "L", "-f", "Q"});
    EXPECT_EQ(r.status, 1);
    ASSERT_TRUE(exists("L.LST"));
    EXPECT_EQ(read_text("L.LST"), "");
}

// ---- what the listing reads ----

// Offsets in the library of a single module A.QOB holding START: the header
// is 37 bytes; the entry's F4 record follows F0 "A.QOB" and F1 and F2.
constexpr std::size_t kF4Tag = 37 + 7 + 9 + 5;
constexpr std::size_t kF5Tag = kF4Tag + 29;

class ListEntryTest : public ListTest {
protected:
    void SetUp() override {
        ListTest::SetUp();
        Module a, b;
        a.f0().f4(1, {{1, "START"}}).end();
        b.f0().f4(1, {{2, "OTHER"}}).end();
        append("L", {{"A", a}, {"B", b}});
        library_ = read("L.LIB");
        ASSERT_EQ(library_.at(kF4Tag), 0xF4);
        ASSERT_EQ(library_.at(kF5Tag), 0xF5);
    }

    qob::ByteVec library_;
};

// The titles count the symbols read, not the counts stored in F4.
TEST_F(ListEntryTest, CountsAreTheSymbolsRead) {
    library_.at(kF4Tag + 4) = 9;  // A's stored public count
    write("L.LIB", library_);
    const std::vector<Lines> pages = list({"-l", "-o", "L", "-f", "A"}, "L.LST");
    ASSERT_EQ(pages.size(), 5u);
    EXPECT_EQ(pages[1][0], count_title("PUBLIC", 1));
    EXPECT_EQ(pages[3][2], module_title("A.QOB", 1));
}

// A record out of place among an entry's symbols ends the run naming the
// library, whether the module is listed or stepped over, and the partial
// listing is removed.
TEST_F(ListEntryTest, RecordOutOfPlaceEndsTheRun) {
    library_.at(kF5Tag) = 0xF4;
    write("L.LIB", library_);
    for (const NameList& args : {NameList{"-l", "-o", "L"}, NameList{"-l", "-o", "L", "-f", "B"}}) {
        RunResult r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "\nInvarid module or library L.LIB\n");
        EXPECT_FALSE(exists("L.LST"));
    }
}

// ---- the symbol tree ----

// Names that meet every way the tree tells names apart: equal names in
// several modules and within one, names that agree in their first 8 or 16
// bytes and end there or go on, short names, bytes above 0x7F. Enough of
// them for the radix sort of large tables, or few.
std::vector<std::string> tree_names(std::size_t count) {
    static const char* const kStarts[] = {"", "ABCDEFGH", "ABCDEFGHIJKLMNOP", "\xE9t\xE9", "SAME_PREFIX_"};
    std::vector<std::string> names;
    uint32_t r = 7;
    for (std::size_t i = 0; i < count; ++i) {
        r = r * 1103515245 + 12345;
        std::string name = kStarts[(r >> 8) % 5];
        static const char kChars[] = {'a', 'A', 'Z', '_', '\x80', '\xFF', '0'};
        for (uint32_t n = (r >> 12) % 4; n > 0; --n) name.push_back(kChars[(r >> (3 * n)) % 7]);
        if (name.empty()) name.push_back('X');
        names.push_back(name);
    }
    return names;
}

// The tree's order is the order of a stable sort by bytes, for the whole
// table and, once grouped, for each module's own symbols.
TEST(SymTreeTest, SortsLikeAStableSortByBytes) {
    for (std::size_t count : {std::size_t{50}, std::size_t{5000}}) {
        SCOPED_TRACE(count);
        const std::vector<std::string> names = tree_names(count);
        SymTree tree;
        struct Added {
            std::string name;
            uint32_t module;
            SymKind kind;
        };
        std::vector<Added> added;
        constexpr uint32_t kModules = 7;
        const SymKind kinds[] = {SymKind::kPublic, SymKind::kEqu, SymKind::kBit, SymKind::kExternal};
        std::size_t next = 0;
        for (uint32_t m = 0; m < kModules; ++m) {
            tree.set_module(std::to_string(m));
            for (SymKind kind : kinds) {
                tree.set_kind(kind);
                SymbolTables& t = *tree.tables();
                for (std::size_t i = 0; i < count / (kModules * 4) + 1 && next < names.size(); ++i, ++next) {
                    const NameRef ref = t.keep(names[next]);
                    switch (kind) {
                    case SymKind::kPublic: t.pub_syms.push_back(PubSym{0, ref}); break;
                    case SymKind::kEqu: t.equ_list.push_back(EquSym{0, ref}); break;
                    case SymKind::kBit: t.bit_list.push_back(BitSym{0, 0, ref}); break;
                    case SymKind::kExternal: t.ext_list.push_back(ref); break;
                    }
                    added.push_back({names[next], m, kind});
                }
                tree.add_read();
            }
        }
        auto by_bytes = [](const Added& a, const Added& b) { return a.name < b.name; };
        std::vector<Added> expected = added;
        std::stable_sort(expected.begin(), expected.end(), by_bytes);
        const std::vector<SymNode>& order = tree.in_order();
        ASSERT_EQ(order.size(), expected.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            ASSERT_EQ(tree.name(order[i]), expected[i].name) << i;
            ASSERT_EQ(order[i].module, expected[i].module) << i;
            ASSERT_EQ(order[i].kind, expected[i].kind) << i;
        }
        tree.group_by_module();
        for (uint32_t m = 0; m < kModules; ++m) {
            std::vector<Added> own;
            std::copy_if(added.begin(), added.end(), std::back_inserter(own),
                         [m](const Added& a) { return a.module == m; });
            std::stable_sort(own.begin(), own.end(), by_bytes);
            const std::span<const SymNode> got = tree.of_module(m);
            ASSERT_EQ(got.size(), own.size()) << m;
            for (std::size_t i = 0; i < own.size(); ++i) {
                ASSERT_EQ(tree.name(got[i]), own[i].name) << m << " " << i;
                ASSERT_EQ(got[i].kind, own[i].kind) << m << " " << i;
            }
        }
    }
}

}  // namespace
