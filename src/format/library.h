// The library file format: the header and the module-table entries.
//
// A library is three sections, each closed by FF: the header, the module
// table (one entry per module, each closed by FF) and the module bodies,
// which are the relocatable modules stored unchanged, in table order.
//
// An entry describes one module: F0 name, F1 entry_len and tail_len, F2 body
// size, F4 counts and sizes, the symbol records (F5 public blocks, F6 EQU,
// FA BIT, F3 descriptors, F7 externals), F8 offsets, F9 time, and FF; the
// order is kEntryRecords. Readers that step over an entry's symbol records
// rely on that order and on the two lengths, so the writer computes both
// (and the F4 sizes) from what it writes.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "format/formats.h"
#include "format/symbols.h"

class RecIn;
class RecOut;
class FormatTrace;

// The header section: three strings of at most 31 characters and two counts.
struct LibraryHeader {
  std::string hdr_version;  // the librarian that created the library
  std::string hdr_format;   // the relocatable format of its modules
  std::string hdr_cpu;      // the processor they are built for
  int32_t hdr_modules = 0;
  int32_t hdr_symbols = 0;  // public, EQU, BIT and external symbols of all modules
};

// Bytes of the header section as put_header writes it.
int64_t header_size(const LibraryHeader& h);
// Reads the header records, in any order (a repeated one overwrites), through
// the section's end mark.
void get_header(RecIn& in, LibraryHeader& h);
// Reads the body of one header record whose tag was just read into `h`;
// false for a tag that no header holds (nothing is read then).
bool read_header_record(RecIn& in, int tag, LibraryHeader& h);
void put_header(RecOut& out, const LibraryHeader& h);

// Modification time as local calendar time: seconds, minutes, hours, day of
// month (1-31), month (0-11), years since 1900.
using ModTime = std::array<int, 6>;

// One module-table entry.
struct TableEntry {
  std::string mod_name;
  int32_t entry_len = 0;  // bytes after the F1 record, F2 through the end mark
  int32_t tail_len = 0;   // bytes from the first F3, F7 or F8 record through the end mark
  int32_t mod_size = 0;   // bytes of the module's body
  // pub_count, pub_size, equ_count, equ_size, bit_count, bit_size, ext_count
  std::array<int32_t, 7> f4{};
  SymbolTables symbols;
  int32_t mod_offset = 0;  // the body's position in the library
  int32_t offset1_f7 = 0;  // the body's first F7 record, from the body's start; 0 = none
  int32_t abs_f7 = 0;      // the same from the library's start
  int32_t offset1_f8 = 0;
  int32_t abs_f8 = 0;
  ModTime mod_time{};
};

// How often a record stands in one module-table entry.
enum class Occurs {
  kOnce,        // every entry has it once
  kAtMostOnce,  // a symbol record, which an entry without such symbols lacks
  kAnyNumber,   // a symbol record, one per public block (F5) or descriptor (F3)
};

struct EntryRecord {
  int tag;
  Occurs occurs;
  bool starts_tail;  // tail_len counts from the first record of these on
};

// The records of an entry in the order writers put them. The symbol records
// stand together between F4 and F8, where readers step over them by
// entry_len.
inline constexpr EntryRecord kEntryRecords[] = {
    {fmt::kF0, Occurs::kOnce, false},      {fmt::kF1, Occurs::kOnce, false},
    {fmt::kF2, Occurs::kOnce, false},      {fmt::kF4, Occurs::kOnce, false},
    {fmt::kF5, Occurs::kAnyNumber, false}, {fmt::kF6, Occurs::kAtMostOnce, false},
    {fmt::kFA, Occurs::kAtMostOnce, false}, {fmt::kF3, Occurs::kAnyNumber, true},
    {fmt::kF7, Occurs::kAtMostOnce, true}, {fmt::kF8, Occurs::kOnce, true},
    {fmt::kF9, Occurs::kOnce, false},
};

// Where `tag` stands in kEntryRecords; -1 for a tag that no entry holds.
constexpr int entry_rank(int tag) {
  for (std::size_t i = 0; i < std::size(kEntryRecords); ++i)
    if (kEntryRecords[i].tag == tag) return static_cast<int>(i);
  return -1;
}

// Reads the body of one entry record whose tag was just read into `e`; when
// `e` is null the record is only stepped over. False for a tag that no entry
// holds (nothing is read then).
bool read_entry_record(RecIn& in, int tag, TableEntry* e, FormatTrace* trace = nullptr);

// What get_rotbl reads of an entry.
enum class EntryPart {
  kWhole,  // every record, in any order, symbol records included
  kFixed,  // only the records every entry has; the symbol records, which
           // stand between F4 and F8, are stepped over by entry_len
};

// Reads the next entry into `e`: 0 at the table's end mark (the input then
// stands at the first body), else 1. The symbol tables start empty; fields
// of records the entry lacks keep their values. With kFixed this is also
// get_modname, and `symbols_at`, when given, gets where the symbol records
// that it steps over start (-1 when the entry has no F4 record).
int get_rotbl(RecIn& in, TableEntry& e, EntryPart part, FormatTrace* trace = nullptr,
              int64_t* symbols_at = nullptr);

// Writes an entry's F8 record: mod_offset, offset1_f7, abs_f7, offset1_f8, abs_f8.
void put_f8(RecOut& out, const std::array<int32_t, 5>& offsets);

// Writes the entry: every record in the order readers rely on. Sets
// entry_len, tail_len and the F4 sizes from what it writes (the F4 counts
// are the caller's), and returns the position of the F8 record from the
// entry's start.
int64_t put_rotbl(RecOut& out, TableEntry& e);
