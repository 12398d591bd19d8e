// Writes the example relocatable modules that the README's demo puts into a
// library: a small start-up module, a string package and a maths package
// that reference each other's symbols.
#include <cstdio>
#include <filesystem>

#include "support/qob_writer.h"

int main(int argc, char** argv) {
  std::filesystem::path dir = argc > 1 ? argv[1] : ".";
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
  return 0;
}
