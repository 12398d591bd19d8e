// End-to-end tests of file naming: the library's default extension and
// directory, the VORNA directory for libraries typed without one, the TMP
// directory of the working files, the names that failures show, and the
// form in which Windows is handed a long path.

#include <string>
#include <utility>

#include "driver_e2e.h"
#include "host/host.h"

namespace {

using drv::expect_failure;
using drv::sep;

class Naming : public drv::DriverE2E {
protected:
    // A module that append refuses after the working files were made.
    void write_bad_module() const { write("BAD.QOB", qob::Module().f0("VER.B").end().bytes()); }

    // Appends B to a library of one module under `lib`; the old library must
    // become the backup `backup` and the new one hold both modules.
    void expect_rewrite_keeps_backup(const std::string& lib, const std::string& file,
                                     const std::string& backup, const EnvMap& env = {}) {
        write_modules({"B"});
        const qob::ByteVec old = read(file);
        const RunResult r = run({"-a", "-o", lib, "-f", "B"}, env);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, count_lines(2, 2));
        ASSERT_TRUE(exists(backup));
        EXPECT_EQ(read(backup), old);
        EXPECT_GT(read(file).size(), old.size());
    }
};

// ---- library names ----

TEST_F(Naming, LibraryWithoutExtensionGetsLib) {
    write_modules({"A", "B"});
    const RunResult r = run({"-ao", "MYLIB", "-f", "A"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "<MYLIB.LIB> CREATE\n" + count_lines(1, 1));
    EXPECT_EQ(list_dir(), NameList({"A.QOB", "B.QOB", "MYLIB.LIB"}));
    expect_rewrite_keeps_backup("MYLIB", "MYLIB.LIB", "MYLIB.BAK");
    EXPECT_EQ(list_dir(), NameList({"A.QOB", "B.QOB", "MYLIB.BAK", "MYLIB.LIB"}));
}

TEST_F(Naming, OwnExtensionIsKept) {
    write_modules({"A", "B"});
    const RunResult r = run({"-ao", "X.LB", "-f", "A"});
    EXPECT_EQ(r.out, "<X.LB> CREATE\n" + count_lines(1, 1));
    expect_rewrite_keeps_backup("X.LB", "X.LB", "X.BAK");
    EXPECT_EQ(list_dir(), NameList({"A.QOB", "B.QOB", "X.BAK", "X.LB"}));
}

TEST_F(Naming, DotAfterADotIsNoExtension) {
    write_modules({"A", "B"});
    const RunResult r = run({"-ako", "MY..LIB", "-f", "A"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\npath= name=MY..LIB lib_name=MY..LIB.LIB\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("<MY..LIB.LIB> CREATE\n"), std::string::npos) << r.out;
    expect_rewrite_keeps_backup("MY..LIB", "MY..LIB.LIB", "MY..LIB.BAK");
    EXPECT_EQ(list_dir(), NameList({"A.QOB", "B.QOB", "MY..LIB.BAK", "MY..LIB.LIB"}));
}

TEST_F(Naming, LibraryInADirectoryTypedWithIt) {
    write_modules({"A", "B"});
    make_dir("SUB.D");
    const std::string lib = "SUB.D" + sep() + "LIB";
    const RunResult r = run({"-ako", lib, "-f", "A"});
    EXPECT_EQ(r.status, 0);
    // The '.' of the directory is no extension of the library.
    EXPECT_NE(r.out.find("\npath=SUB.D" + sep() + " name=LIB lib_name=" + lib + ".LIB\n"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("<" + lib + ".LIB> CREATE\n"), std::string::npos) << r.out;
    expect_rewrite_keeps_backup(lib, "SUB.D/LIB.LIB", "SUB.D/LIB.BAK");
    EXPECT_FALSE(exists("LIB.LIB"));
    EXPECT_EQ(work_files(), NameList{});
    EXPECT_EQ(work_files("SUB.D"), NameList{});

    // The listing goes beside the library.
    EXPECT_EQ(run({"-l", "-o", lib}).status, 0);
    EXPECT_TRUE(exists("SUB.D/LIB.LST"));
}

TEST_F(Naming, BackslashSeparatesDirectoriesOnPosixToo) {
    if (windows_target()) GTEST_SKIP() << "'\\' is the Windows separator itself";
    write_modules({"A", "B"});
    make_dir("SUB");
    const RunResult r = run({"-ao", "SUB\\LIB", "-f", "A"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "<SUB\\LIB.LIB> CREATE\n" + count_lines(1, 1));
    EXPECT_TRUE(exists("SUB/LIB.LIB"));
    expect_rewrite_keeps_backup("SUB\\LIB", "SUB/LIB.LIB", "SUB/LIB.BAK");
    EXPECT_EQ(list_dir(), NameList({"A.QOB", "B.QOB", "SUB"}));
}

// ---- the VORNA directory ----

TEST_F(Naming, VornaDirectoryHoldsLibrariesTypedWithoutDirectory) {
    NameList values{"VDIR", "VDIR" + sep()};
    if (!windows_target()) values.push_back("VDIR\\");
    for (const std::string& vorna : values) {
        SCOPED_TRACE(vorna);
        std::filesystem::remove_all(path("VDIR"));
        make_dir("VDIR");
        write_modules({"A", "B"});
        const EnvMap env{{"VORNA", vorna}};

        // Found nowhere: created in the VORNA directory.
        RunResult r = run({"-ao", "LIB", "-f", "A"}, env);
        EXPECT_EQ(r.out, "<LIB.LIB> CREATE\n" + count_lines(1, 1));
        EXPECT_TRUE(exists("VDIR/LIB.LIB"));
        EXPECT_FALSE(exists("LIB.LIB"));

        // Found there: rewritten there, with its backup.
        expect_rewrite_keeps_backup("LIB", "VDIR/LIB.LIB", "VDIR/LIB.BAK", env);
        EXPECT_FALSE(exists("LIB.BAK"));

        // Extracted modules and the listing go to the current directory.
        remove("A.QOB");
        EXPECT_EQ(run({"-x", "-o", "LIB", "-f", "A"}, env).status, 0);
        EXPECT_TRUE(exists("A.QOB"));
        EXPECT_EQ(run({"-l", "-o", "LIB"}, env).status, 0);
        EXPECT_TRUE(exists("LIB.LST"));
        EXPECT_FALSE(exists("VDIR/LIB.LST"));
        EXPECT_FALSE(exists("VDIR/A.QOB"));
        remove("LIB.LST");

        r = run({"-k", "-x", "-o", "LIB"}, env);
        EXPECT_NE(r.out.find("\nVORNA=" + vorna + (vorna == "VDIR" ? sep() : "")), std::string::npos)
            << r.out;
    }
}

TEST_F(Naming, LibraryInTheCurrentDirectoryComesFirst) {
    make_dir("VDIR");
    const EnvMap env{{"VORNA", "VDIR"}};
    make_library("LIB", {"A"}, env);
    const qob::ByteVec in_vorna = read("VDIR/LIB.LIB");
    make_library("LIB", {"C"});
    ASSERT_TRUE(exists("LIB.LIB"));

    expect_rewrite_keeps_backup("LIB", "LIB.LIB", "LIB.BAK", env);
    EXPECT_EQ(read("VDIR/LIB.LIB"), in_vorna);
    EXPECT_FALSE(exists("VDIR/LIB.BAK"));
}

TEST_F(Naming, VornaIsNotSearchedForALibraryTypedWithADirectory) {
    make_dir("VDIR/SUB");
    make_dir("SUB");
    const EnvMap env{{"VORNA", "VDIR"}};
    make_library("SUB" + sep() + "LIB", {"A"}, env);
    ASSERT_TRUE(exists("SUB/LIB.LIB"));
    std::filesystem::rename(path("SUB/LIB.LIB"), path("VDIR/SUB/LIB.LIB"));

    expect_failure(run({"-x", "-o", "SUB" + sep() + "LIB"}, env), 3,
                   "\nCan't open <SUB" + sep() + "LIB.LIB>\n");
}

TEST_F(Naming, MissingLibraryNamesTheLastNameTried) {
    struct Case {
        NameList args;
        EnvMap env;
        std::string shown;
    };
    const std::string vorna_path = "VDIR" + sep() + "LIB.LIB";
    const Case cases[] = {
        {{"-x", "-o", "LIB"}, {}, "LIB.LIB"},
        {{"-x", "-o", "LIB"}, {{"VORNA", "VDIR"}}, vorna_path},
        {{"-x", "-o", "LIB"}, {{"VORNA", "VDIR" + sep()}}, vorna_path},
        {{"-l", "-o", "LIB"}, {{"VORNA", "VDIR"}}, vorna_path},
        {{"-d", "-o", "LIB", "-f", "A"}, {{"VORNA", "VDIR"}}, vorna_path},
        {{"-r", "-o", "LIB", "-f", "A"}, {}, "LIB.LIB"},
        {{"-x", "-o", "LIB"}, {{"VORNA", ""}}, "LIB.LIB"},  // empty counts as not set
        {{"-l", "-o", "SUB" + sep() + "X.LB"}, {{"VORNA", "VDIR"}}, "SUB" + sep() + "X.LB"},
    };
    make_dir("VDIR");
    make_dir("SUB");
    write_modules({"A"});
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        expect_failure(run(c.args, c.env), 3, "\nCan't open <" + c.shown + ">\n");
        EXPECT_EQ(list_dir(), NameList({"A.QOB", "SUB", "VDIR"}));
        EXPECT_EQ(std::filesystem::is_empty(path("VDIR")), true);
        EXPECT_EQ(std::filesystem::is_empty(path("SUB")), true);
    }
}

// ---- the TMP directory ----

TEST_F(Naming, WorkingFilesGoToTheTmpDirectory) {
    for (const std::string& tmp : {std::string("TDIR"), "TDIR" + sep()}) {
        SCOPED_TRACE(tmp);
        std::filesystem::remove_all(path("TDIR"));
        make_dir("TDIR");
        make_library("LIB", {"A"});
        write_modules({"B"});
        write_bad_module();
        const EnvMap env{{"TMP", tmp}};

        // The trace flag keeps the working files of a failing run.
        const RunResult failed = run({"-ak", "-o", "LIB", "-f", "B", "BAD"}, env);
        EXPECT_EQ(failed.status, 1) << failed.out;
        EXPECT_EQ(work_files("TDIR"), NameList({"LIB.$$1", "LIB.$$2"}));
        EXPECT_EQ(work_files(), NameList{});
        std::filesystem::remove_all(path("TDIR"));
        make_dir("TDIR");

        // A successful run leaves none in either place.
        expect_rewrite_keeps_backup("LIB", "LIB.LIB", "LIB.BAK", env);
        EXPECT_TRUE(std::filesystem::is_empty(path("TDIR")));
        EXPECT_EQ(work_files(), NameList{});
        remove("LIB.LIB");
        remove("LIB.BAK");
    }
}

TEST_F(Naming, WithoutTmpWorkingFilesAreInTheCurrentDirectory) {
    make_library("LIB", {"A"});
    write_modules({"B"});
    write_bad_module();
    for (const EnvMap& env : {EnvMap{}, EnvMap{{"TMP", ""}}}) {
        const RunResult failed = run({"-ak", "-o", "LIB", "-f", "B", "BAD"}, env);
        EXPECT_EQ(failed.status, 1) << failed.out;
        EXPECT_EQ(work_files(), NameList({"LIB.$$1", "LIB.$$2"}));
        remove("LIB.$$1");
        remove("LIB.$$2");
    }
}

TEST_F(Naming, MissingTmpDirectoryCannotHoldTheWorkingFiles) {
    make_library("LIB", {"A"});
    write_modules({"B"});
    const qob::ByteVec old = read("LIB.LIB");
    const EnvMap env{{"TMP", "NODIR"}};
    expect_failure(run({"-a", "-o", "LIB", "-f", "B"}, env), 3, "\nCan't open <TMP_FILE>\n");
    expect_failure(run({"-d", "-o", "LIB", "-f", "A"}, env), 3, "\nCan't open <TMP_FILE>\n");
    expect_failure(run({"-ao", "NEW", "-f", "B"}, env), 3,
                   "<NEW.LIB> CREATE\n\nCan't open <TMP_FILE>\n");
    EXPECT_EQ(read("LIB.LIB"), old);
    EXPECT_EQ(list_dir(), NameList({"A.QOB", "B.QOB", "LIB.LIB"}));
}

TEST_F(Naming, NewLibraryIsWrittenBesideTheOldOne) {
    // A directory in the way of the backup makes the last step fail, and the
    // trace flag keeps the working files where they were made.
    if (windows_target()) GTEST_SKIP() << "relies on POSIX rename rules";
    make_dir("SUB");
    make_dir("TDIR");
    make_library("SUB/LIB", {"A"});
    write_modules({"B"});
    make_dir("SUB/LIB.BAK");
    const RunResult r = run({"-ak", "-o", "SUB/LIB", "-f", "B"}, {{"TMP", "TDIR"}});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(r.out.ends_with("\nCan't open <SUB/LIB.LIB>\n")) << r.out;
    EXPECT_EQ(work_files("SUB"), NameList({"LIB.$$3"}));
    EXPECT_EQ(work_files("TDIR"), NameList({"LIB.$$1", "LIB.$$2"}));
}

// ---- the form in which Windows takes a path of any length ----

TEST(LongPathForm, DrivesAndSharesGetTheirPrefixOthersStay) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {LR"(C:\build\LIB.LIB)", LR"(\\?\C:\build\LIB.LIB)"},
        {LR"(\\server\share\dir\A.QOB)", LR"(\\?\UNC\server\share\dir\A.QOB)"},
        {LR"(\\?\C:\build\LIB.LIB)", LR"(\\?\C:\build\LIB.LIB)"},
        {LR"(\\?\UNC\server\share\A.QOB)", LR"(\\?\UNC\server\share\A.QOB)"},
        {LR"(\\.\NUL)", LR"(\\.\NUL)"},
    };
    for (const auto& [full, expected] : cases) {
        EXPECT_EQ(host::long_path_form(full), expected);
    }
}

}  // namespace
