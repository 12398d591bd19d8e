// Writers of relocatable object modules (.QOB) and of raw record streams, for tests.
//
// Every file the librarian reads is a record stream: one-byte tags followed by
// big-endian words (2 bytes), tris (3 bytes), longs (4 bytes) and NUL-terminated
// strings. `Bytes` appends those field types one at a time, which is enough to craft
// any library or module by hand, including broken ones. `Module` builds on it with
// one call per record kind of the object module format, writing each record's tag,
// its fields and the terminator that closes its lists, so a test says which records a
// module has and gets the exact bytes a compiler of the toolchain would produce.
//
// The record calls refuse (std::invalid_argument) values that cannot be written as
// the record they name, for example an empty symbol name inside a list that an empty
// name terminates. Broken modules are written with `raw` or with `Bytes` directly.

#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qob {

using ByteVec = std::vector<unsigned char>;

// Appends record-stream fields, big-endian, with range checks that catch a test
// passing a value that does not fit its field (std::out_of_range).
class Bytes {
public:
    Bytes& u8(std::uint32_t value);
    Bytes& word(std::uint32_t value);
    Bytes& tri(std::uint32_t value);
    Bytes& u32(std::uint32_t value);
    // The characters and one NUL; a string holding a NUL itself is refused.
    Bytes& str(std::string_view text);
    Bytes& raw(const ByteVec& data);

    const ByteVec& data() const { return data_; }
    ByteVec bytes() const { return data_; }
    // Number of bytes so far: the offset at which the next field lands.
    std::size_t offset() const { return data_.size(); }

private:
    ByteVec data_;
};

// One entry of F4 (public symbols) or F9: a 3-byte value and a name.
struct TriSym {
    std::uint32_t value;
    std::string name;
};

// One entry of F5 (EQU symbols) or FA: a 4-byte value and a name.
struct LongSym {
    std::uint32_t value;
    std::string name;
};

// One entry of E0 (BIT symbols) or E1: a word, a 3-byte value and a name.
struct BitSym {
    std::uint32_t number;
    std::uint32_t value;
    std::string name;
};

// Items of an F7 entry, as the bytes they consist of (tag included).
ByteVec item_f0(const ByteVec& five_bytes);
ByteVec item_f1(std::string_view text);
ByteVec item_f2(const ByteVec& four_bytes);
ByteVec item_f3(std::string_view text);
// A one-byte item: any value but FF, which ends the entry.
ByteVec item_byte(std::uint32_t value);

// One F7 entry. The writer adds the FF that ends it. `first` is written as given,
// so a test can put an item there that readers must refuse (an F3 item, say).
struct F7Entry {
    std::uint32_t tri = 0;
    std::uint32_t byte1 = 0;
    std::uint32_t byte2 = 0;
    std::optional<std::uint32_t> prefix;  // 0x81 or 0x82 when present
    ByteVec first;
    std::vector<ByteVec> items;
};

// One E3 group: a 3-byte value and a byte, not both 0 (that pair ends the record).
struct E3Group {
    std::uint32_t tri;
    std::uint32_t byte;
};

// One E4 group: a non-empty name and (word, tri) pairs with non-zero words; the
// writer closes the pair list with a word 0.
struct E4Group {
    std::string name;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
};

// Builds a relocatable object module record by record. Each call appends one
// complete record; `end` appends the FF that closes the module.
class Module {
public:
    Module& f0(std::string_view format = "VER.A");
    Module& f1(std::string_view text);
    Module& f2(std::string_view first, const std::vector<std::string>& list1,
               const std::vector<std::string>& list2);
    Module& f3(std::uint32_t number, std::string_view name, std::uint32_t b1,
               std::uint32_t b2, std::uint32_t tri, std::uint32_t value);
    Module& f4(std::uint32_t block, const std::vector<TriSym>& symbols);
    Module& f5(const std::vector<LongSym>& symbols);
    Module& f6(const std::vector<std::string>& names);
    Module& f7(std::uint32_t word, const std::vector<F7Entry>& entries);
    Module& f8(std::uint32_t word, const std::vector<ByteVec>& blocks);
    Module& f9(std::uint32_t word, const std::vector<TriSym>& entries);
    Module& fa(const std::vector<LongSym>& entries);
    Module& e0(const std::vector<BitSym>& symbols);
    Module& e1(const std::vector<BitSym>& entries);
    Module& e2(std::uint32_t word, std::string_view text, const ByteVec& eight_bytes);
    Module& e3(std::uint32_t word, const std::vector<E3Group>& groups);
    Module& e4(std::uint32_t word, const std::vector<E4Group>& groups);
    Module& e5(std::string_view text);
    Module& e6(std::uint32_t value);
    Module& end();
    // Appends bytes unchecked: stray tags, cut-off records, trailing garbage.
    Module& raw(const ByteVec& data);

    ByteVec bytes() const { return out_.bytes(); }
    // Current size: the offset at which the next record's tag lands.
    std::size_t offset() const { return out_.offset(); }

private:
    Module& tri_list(const std::vector<TriSym>& entries);
    Module& long_list(const std::vector<LongSym>& entries);
    Module& bit_list(const std::vector<BitSym>& entries);
    Module& string_list(const std::vector<std::string>& names);
    void f7_entry(const F7Entry& entry);

    Bytes out_;
};

// Whole-file helpers; both throw std::runtime_error when the file system fails.
void write_file(const std::filesystem::path& path, const ByteVec& data);
ByteVec read_file(const std::filesystem::path& path);

}  // namespace qob
