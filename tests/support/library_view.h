// Reads a library file back into its parts, for assertions on what the
// librarian wrote.
//
// A library is three sections, each closed by FF: the header (version, format
// and CPU strings, module and global symbol counts), the module table (one
// entry per module, its records in a fixed order, each entry closed by FF) and
// the module bodies back to back in table order. `parse` takes the bytes
// apart in exactly the order the librarian writes them and refuses anything
// else; `inconsistencies` then compares what the entries state (lengths,
// counts, sizes, offsets) with what the file really holds, so one check covers
// every number a linker relies on.

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/qob_writer.h"

namespace lib {

struct Header {
    std::string version;
    std::string format;
    std::string cpu;
    std::uint32_t modules = 0;
    std::uint32_t symbols = 0;
    std::size_t size = 0;  // bytes of the header section, its end mark included
};

// One F5 record of an entry: a block of public symbols.
struct PubBlock {
    std::uint32_t number = 0;
    std::vector<qob::TriSym> symbols;
};

// One F3 record of an entry: a copy of a module's F3 descriptor.
struct Descriptor {
    std::uint32_t number = 0;
    std::string name;
    std::uint32_t byte1 = 0;
    std::uint32_t byte2 = 0;
    std::uint32_t tri = 0;
    std::uint32_t value = 0;
};

// Indexes of the F4 and F8 values.
enum F4Value { kPubCount, kPubSize, kEquCount, kEquSize, kBitCount, kBitSize, kExtCount };
enum F8Value { kModOffset, kOffset1F7, kAbsF7, kOffset1F8, kAbsF8 };

struct Entry {
    // Where the entry lies in the file and how its records measure.
    std::size_t offset = 0;     // its F0 tag
    std::size_t size = 0;       // F0 tag through its end mark
    std::size_t f8_offset = 0;  // its F8 tag
    std::size_t tail_size = 0;  // first F3, F7 or F8 record through the end mark
    std::size_t f5_bytes = 0;   // all F5 records, tags included
    std::size_t f6_bytes = 0;
    std::size_t fa_bytes = 0;

    std::string name;
    std::uint32_t entry_len = 0;
    std::uint32_t tail_len = 0;
    std::uint32_t mod_size = 0;
    std::array<std::uint32_t, 7> f4{};
    std::vector<PubBlock> publics;           // F5 records
    std::vector<qob::LongSym> equs;          // the F6 record
    std::vector<qob::BitSym> bits;           // the FA record
    std::vector<Descriptor> descriptors;     // F3 records
    std::vector<std::string> externals;      // the F7 record
    std::array<std::uint32_t, 5> f8{};       // indexed by F8Value
    // seconds, minutes, hours, day of month, month 0-11, years since 1900
    std::array<std::uint32_t, 6> f9{};
};

struct Library {
    Header header;
    std::vector<Entry> entries;
    std::size_t table_end = 0;          // offset of the table's end mark
    std::vector<std::size_t> body_at;   // where each body starts in the file
    std::vector<qob::ByteVec> bodies;   // mod_size bytes each, in table order
};

// Takes a library apart; throws std::runtime_error naming the offset at which
// the bytes stop fitting the layout (bytes after the final end mark included).
Library parse(const qob::ByteVec& bytes);

// Every disagreement between what the library states and what it holds, one
// per line; empty when the library is consistent.
std::string inconsistencies(const Library& library);

// The header section with these values, records in the order the librarian
// writes them.
qob::ByteVec header_bytes(std::string_view version, std::string_view format,
                          std::string_view cpu, std::uint32_t modules,
                          std::uint32_t symbols);

// The library `bytes` with its header section replaced by `header`; the body
// offsets of the F8 records move with the change of the header's length, so a
// consistent library stays consistent.
qob::ByteVec with_header(const qob::ByteVec& bytes, const qob::ByteVec& header);

}  // namespace lib
