// Writes the seed corpora of the fuzz targets: modules made with the test
// support's module writer, and libraries that our own append makes of them.
//
//   make_fuzz_seeds DIR     writes DIR/<target>/seed-*
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "driver/run_state.h"
#include "support/qob_writer.h"

namespace fs = std::filesystem;
using qob::ByteVec;
using qob::Module;

namespace {

ByteVec worked_example() { return Module().f0().f4(1, {{0x1000, "START"}}).f8(1, {{1, 2, 3}}).end().bytes(); }

// One record of every kind.
ByteVec every_record() {
  qob::F7Entry plain{0x10, 1, 2, std::nullopt, qob::item_f1("F7TEXT"), {qob::item_byte(5), qob::item_f3("F7STR")}};
  qob::F7Entry prefixed{0x20, 3, 4, 0x81, qob::item_f0({1, 2, 3, 4, 5}), {qob::item_f2({6, 7, 8, 9})}};
  return Module()
      .f0()
      .f1("TITLE")
      .f2("FIRST", {"ONE"}, {"TWO"})
      .f3(1, "SEG", 1, 2, 0x10, 0x20)
      .f4(1, {{0x100, "A_PUB"}, {0x104, "A_PUB2"}})
      .f5({{7, "A_EQU"}})
      .f6({"B_PUB", "EXT"})
      .f7(1, {plain, prefixed})
      .f8(2, {{1, 2}, {3}})
      .f9(1, {{5, "F9SYM"}})
      .fa({{6, "FASYM"}})
      .e0({{1, 2, "A_BIT"}})
      .e1({{3, 4, "E1SYM"}})
      .e2(1, "E2TEXT", {1, 2, 3, 4, 5, 6, 7, 8})
      .e3(1, {{1, 2}})
      .e4(1, {{"E4SYM", {{1, 2}}}})
      .e5("E5TEXT")
      .e6(7)
      .end()
      .bytes();
}

ByteVec replacement() { return Module().f0().f4(1, {{0x30, "A_NEW"}}).f6({"B_PUB"}).f8(1, {{9, 9}}).end().bytes(); }

ByteVec with_trailing_bytes() { return Module().f0().f4(1, {{1, "TAIL"}}).end().raw({0x12, 0x34}).bytes(); }

ByteVec cat(ByteVec a, const ByteVec& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

ByteVec with_module(const ByteVec& library, const ByteVec& module) {
  const std::string separator = "#QOB#";
  return cat(cat(library, ByteVec(separator.begin(), separator.end())), module);
}

ByteVec text(const std::string& s) { return ByteVec(s.begin(), s.end()); }

// A library of the modules (file name, bytes), made by our append in a
// scratch directory.
ByteVec library_of(const std::vector<std::pair<std::string, ByteVec>>& modules) {
  const fs::path home = fs::current_path();
  std::string pattern = (fs::temp_directory_path() / "vorna-seeds-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a scratch directory");
  fs::current_path(pattern);
  std::vector<std::string> words{"vorna", "-a", "-o", "S", "-f"};
  for (const auto& [name, bytes] : modules) {
    qob::write_file(name, bytes);
    // A fixed time, so that the seeds come out the same every time.
    fs::last_write_time(name, fs::file_time_type(std::chrono::seconds(0)) + std::chrono::hours(24 * 365 * 54));
    words.push_back(name);
  }
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::FILE* null = std::fopen("/dev/null", "w");
  int status;
  {
    RunState rs(null, null);
    status = run_vorna(rs, static_cast<int>(words.size()), argv.data());
  }
  std::fclose(null);
  ByteVec library = status == 0 ? qob::read_file("S.LIB") : ByteVec{};
  fs::current_path(home);
  fs::remove_all(pattern);
  if (status != 0) throw std::runtime_error("append failed while making a seed library");
  return library;
}

void seed(const fs::path& dir, const std::string& target, const std::string& name, const ByteVec& bytes) {
  fs::create_directories(dir / target);
  qob::write_file(dir / target / ("seed-" + name), bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
    return 2;
  }
  const fs::path dir = fs::absolute(argv[1]);

  const std::vector<std::pair<std::string, ByteVec>> modules = {
      {"worked-example", worked_example()},
      {"every-record", every_record()},
      {"trailing-bytes", with_trailing_bytes()},
      {"format-only", Module().f0().end().bytes()},
  };
  for (const auto& [name, bytes] : modules) seed(dir, "append_new", name, bytes);

  const ByteVec ab = library_of({{"A.QOB", every_record()}, {"B.QOB", worked_example()}});
  const ByteVec one = library_of({{"A.QOB", worked_example()}});
  const ByteVec abc = library_of({{"A.QOB", worked_example()}, {"B.QOB", every_record()},
                                  {"C.QOB", Module().f0().f4(1, {{2, "C_PUB"}}).end().bytes()}});
  for (const char* target : {"list", "extract", "delete"}) {
    seed(dir, target, "two-modules", ab);
    seed(dir, target, "one-module", one);
    seed(dir, target, "three-modules", abc);
  }
  for (const auto& [name, bytes] : modules) seed(dir, "dump", name, bytes);
  seed(dir, "dump", "two-modules", ab);
  seed(dir, "dump", "three-modules", abc);
  seed(dir, "append_existing", "two-modules", with_module(ab, Module().f0().f4(1, {{3, "NEW"}}).end().bytes()));
  seed(dir, "append_existing", "one-module", one);
  seed(dir, "append_existing", "clash", with_module(one, worked_example()));
  seed(dir, "replace", "two-modules", with_module(ab, replacement()));
  seed(dir, "replace", "three-modules", with_module(abc, every_record()));
  seed(dir, "replace", "one-module", one);

  const std::vector<std::pair<std::string, std::string>> command_lines = {
      {"append", "-a\n-o\nN\n-f\nA\nB\n"},
      {"append-to-library", "-av\n-o\nL\n-f\nA.QOB\n"},
      {"extract", "-x\n-o\nL\n"},
      {"extract-named", "-xv\n-o\nL\n-f\nb\n"},
      {"list", "-l\n-o\nL\n-f\nA\n"},
      {"delete", "-d\n-o\nL\n-f\nB\n"},
      {"replace", "-ru\n-o\nL\n-f\nA\n"},
      {"trace", "-lk\n-o\nL.LIB\n"},
      {"command-file", "-ao\nN\n@C.CMD\n===\n-f A\n\tB -v\n"},
      {"command-file-only", "@C.CMD\n===\n-x -o L -f A\n"},
      {"command-file-single-quotes", "@C.CMD\n===\n--new -a -o 'N' -f 'A.QOB' 'B'\\''' \"B.QOB\"\n"},
      {"command-file-utf16", std::string("@C.CMD\n===\n\xFF\xFE-\0a\0 \0-\0o\0 \0L\0 \0-\0f\0 \0A\0\r\0\n\0", 41)},
      {"usage", "-q\n"},
      {"list-named-like-listing", "-l\n-o\nM.LST\n"},
      {"extract-named-like-module", "-x\n-o\nN.QOB\n"},
  };
  for (const auto& [name, line] : command_lines) seed(dir, "cmdline", name, text(line));
  std::printf("seeds written to %s\n", dir.string().c_str());
  return 0;
}
