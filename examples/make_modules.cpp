// Writes the example relocatable modules.
//
//   make_example_modules [DIR]            the three modules of the README's demo:
//                                         a small start-up module, a string package
//                                         and a maths package that reference each
//                                         other's symbols
//   make_example_modules SOURCE MODULE    one module from a source of the make
//                                         example (examples/make), standing in for
//                                         the assembler of the toolchain
//
// A source holds one statement a line; ';' starts a comment:
//   title  TEXT...         the module's title (F1)
//   public NAME...         public symbols (F4, block 1), at 0x100, 0x110, ...
//   extern NAME...         external names (F6)
//   code   HEX...          contents bytes (F8, block 1)
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/qob_writer.h"

namespace {

void write_demo_modules(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir);
  using qob::Module;
  qob::write_file(dir / "START.QOB", Module()
                                         .f0()
                                         .f1("start-up code")
                                         .f4(1, {{0x0000, "RESET"}, {0x0040, "MAIN_LOOP"}})
                                         .f5({{0x20, "STACK_SIZE"}})
                                         .f6({"STRCPY", "MULDIV"})
                                         .f8(1, {{0x12, 0x34, 0x56, 0x78}})
                                         .end()
                                         .bytes());
  qob::write_file(dir / "STRING.QOB", Module()
                                          .f0()
                                          .f3(1, "CODE", 0, 1, 0x100, 0)
                                          .f4(1, {{0x0100, "STRCPY"}, {0x0120, "STRLEN"}})
                                          .e0({{1, 0x20, "STR_BUSY"}})
                                          .f8(1, {{0xA0, 0xA1, 0xA2}})
                                          .end()
                                          .bytes());
  qob::write_file(dir / "MATH.QOB", Module()
                                        .f0()
                                        .f4(1, {{0x0200, "MULDIV"}, {0x0240, "SQRT"}})
                                        .f6({"STRLEN"})
                                        .f8(1, {{0x01, 0x02}})
                                        .end()
                                        .bytes());
  std::printf("wrote START.QOB STRING.QOB MATH.QOB in %s\n", dir.string().c_str());
}

// Translates one source into a module; a faulty line throws, naming the line.
qob::ByteVec assemble(const std::filesystem::path& source) {
  std::ifstream in(source);
  if (!in) throw std::runtime_error("cannot open " + source.string());
  std::string title;
  std::vector<qob::TriSym> publics;
  std::vector<std::string> externs;
  qob::ByteVec code;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::istringstream words(line.substr(0, line.find(';')));
    std::string keyword, word;
    if (!(words >> keyword)) continue;
    while (words >> word) {
      if (keyword == "title") {
        title += (title.empty() ? "" : " ") + word;
      } else if (keyword == "public") {
        publics.push_back({static_cast<std::uint32_t>(0x100 + 0x10 * publics.size()), word});
      } else if (keyword == "extern") {
        externs.push_back(word);
      } else if (keyword == "code" && word.size() == 2 &&
                 word.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
        code.push_back(static_cast<unsigned char>(std::stoul(word, nullptr, 16)));
      } else {
        throw std::runtime_error(source.string() + ":" + std::to_string(number) + ": cannot read '" +
                                 keyword + " " + word + "'");
      }
    }
  }
  qob::Module module;
  module.f0();
  if (!title.empty()) module.f1(title);
  if (!publics.empty()) module.f4(1, publics);
  if (!externs.empty()) module.f6(externs);
  if (!code.empty()) module.f8(1, {code});
  return module.end().bytes();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3) {
      qob::write_file(argv[2], assemble(argv[1]));
    } else if (argc <= 2) {
      write_demo_modules(argc == 2 ? argv[1] : ".");
    } else {
      std::fprintf(stderr, "usage: %s [DIR] | %s SOURCE MODULE\n", argv[0], argv[0]);
      return 2;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 1;
  }
  return 0;
}
