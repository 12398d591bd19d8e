// Writes the benchmark's relocatable modules with the test support's module
// writer.
//
//   make_workload [-r] [-b BLOCKS] DIR FIRST LAST
//
// writes the modules FIRST to LAST (M0001.QOB and so on, numbered from 1 to
// 1000) into DIR; with -r their second versions, which replace runs put in
// place of the first ones. Every module is about 20 KB: its format and a
// comment, one block of 50 public symbols, 5 EQU and 5 BIT symbols, 30
// externals, two descriptors, 20 item entries and 16 KiB of contents in
// four blocks of 4 KiB; -b gives another number of blocks (40: about 170 KB).
// Odd-numbered modules list their names in ascending order, even-numbered
// ones in random order. Global names are unique across all 1000 modules;
// the externals name public symbols of other modules. The contents are
// pseudo-random and the same on every run, so every run measures the same
// bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/qob_writer.h"

namespace {

constexpr int kPoolSize = 1000;  // modules whose names the externals may use
constexpr int kPublics = 50;
constexpr int kEqus = 5;
constexpr int kBits = 5;
constexpr int kExternals = 30;
constexpr int kItemEntries = 20;
constexpr int kDefaultBlocks = 4;
constexpr std::size_t kBlockSize = 4096;

// A well-mixed 64-bit value of `x`: the same on every host and compiler.
uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::string digits(int value, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  return buf;
}

// Global name k of module m (publics 0-49, EQU 50-54, BIT 55-59). In an
// odd-numbered module the names ascend with k; in an even-numbered one a
// pseudo-random run of letters in front of the unique suffix scatters them.
std::string global_name(int m, int k) {
  std::string suffix = digits(m, 4) + "_" + digits(k, 2);
  if (m % 2 == 1) return "ASC" + suffix + "_ROUTINE";
  uint64_t r = mix(static_cast<uint64_t>(m) * 100 + static_cast<uint64_t>(k));
  std::string letters(5 + r % 6, 'A');
  for (char& c : letters) {
    r = mix(r);
    c = static_cast<char>('A' + r % 26);
  }
  return letters + "_" + suffix;
}

qob::ByteVec content_block(uint64_t seed) {
  qob::ByteVec block(kBlockSize);
  uint64_t r = seed;
  for (std::size_t i = 0; i < block.size(); i += 8) {
    r = mix(r);
    for (std::size_t j = 0; j < 8; ++j) block[i + j] = static_cast<unsigned char>(r >> (8 * j));
  }
  return block;
}

qob::ByteVec module_bytes(int m, int version, int content_blocks) {
  uint32_t base = static_cast<uint32_t>(version) * 0x1000;
  std::vector<qob::TriSym> publics;
  for (int k = 0; k < kPublics; ++k)
    publics.push_back({base + static_cast<uint32_t>(k) * 0x20, global_name(m, k)});
  std::vector<qob::LongSym> equs;
  for (int k = 0; k < kEqus; ++k)
    equs.push_back({base + static_cast<uint32_t>(k), global_name(m, kPublics + k)});
  std::vector<qob::BitSym> bits;
  for (int k = 0; k < kBits; ++k)
    bits.push_back({1, static_cast<uint32_t>(k), global_name(m, kPublics + kEqus + k)});
  std::vector<std::string> externals;
  for (int j = 0; j < kExternals; ++j) {
    // Never m itself: that would need 31j + 2 to be a multiple of 1000.
    int other = (m + 1 + j * 31) % kPoolSize + 1;
    externals.push_back(global_name(other, j % kPublics));
  }
  std::vector<qob::F7Entry> entries;
  for (int j = 0; j < kItemEntries; ++j) {
    qob::F7Entry e;
    e.tri = static_cast<uint32_t>(j + 1) * 4;
    e.byte1 = 1;
    e.byte2 = 2;
    if (j % 2 == 1) e.prefix = 0x81;
    e.first = qob::item_f2({0, 0, static_cast<unsigned char>(j), static_cast<unsigned char>(m)});
    e.items = {qob::item_byte(0x10), qob::item_f1(externals[static_cast<std::size_t>(j)]),
               qob::item_f0({1, 2, 3, 4, 5})};
    entries.push_back(e);
  }
  std::vector<qob::ByteVec> blocks;
  for (int b = 0; b < content_blocks; ++b)
    blocks.push_back(content_block(static_cast<uint64_t>(m) * 1000 + static_cast<uint64_t>(version) * 10 +
                                   static_cast<uint64_t>(b)));
  return qob::Module()
      .f0()
      .f1("benchmark module " + digits(m, 4) + " version " + std::to_string(version))
      .f4(1, publics)
      .f5(equs)
      .e0(bits)
      .f6(externals)
      .f3(1, "CODE", 0, 1, 0x100, base)
      .f3(2, "DATA", 1, 0, 0x200, base)
      .f7(1, entries)
      .f8(1, blocks)
      .end()
      .bytes();
}

}  // namespace

int main(int argc, char** argv) {
  int version = 1;
  int blocks = kDefaultBlocks;
  int arg = 1;
  for (; arg < argc && argv[arg][0] == '-'; ++arg) {
    std::string option = argv[arg];
    if (option == "-r") {
      version = 2;
    } else if (option == "-b" && arg + 1 < argc) {
      blocks = std::atoi(argv[++arg]);
    } else {
      break;
    }
  }
  if (argc - arg != 3 || blocks < 0) {
    std::fprintf(stderr, "usage: make_workload [-r] [-b BLOCKS] DIR FIRST LAST\n");
    return 2;
  }
  std::filesystem::path dir = argv[arg];
  int first = std::atoi(argv[arg + 1]);
  int last = std::atoi(argv[arg + 2]);
  if (first < 1 || last > kPoolSize || first > last) {
    std::fprintf(stderr, "make_workload: modules are numbered 1 to %d\n", kPoolSize);
    return 2;
  }
  std::filesystem::create_directories(dir);
  for (int m = first; m <= last; ++m)
    qob::write_file(dir / ("M" + digits(m, 4) + ".QOB"), module_bytes(m, version, blocks));
  return 0;
}
