// Field encoding and record layouts of relocatable object modules, as the tests
// write them. A list inside a record always ends with its terminating entry: an
// empty name (with zero values in the entry's other fields), a long 0 for contents
// blocks, a zero tri and byte for F7 entries and E3 groups.

#include "support/qob_writer.h"

#include <algorithm>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace qob {

namespace {

void check_range(std::uint32_t value, std::uint32_t max, const char* field) {
    if (value > max) {
        throw std::out_of_range(std::string(field) + " value " + std::to_string(value) +
                                " does not fit");
    }
}

void check_size(const ByteVec& data, std::size_t size, const char* what) {
    if (data.size() != size) {
        throw std::invalid_argument(std::string(what) + " needs exactly " +
                                    std::to_string(size) + " bytes");
    }
}

// A name inside a name-terminated list: an empty one would end the list early.
void check_name(std::string_view name, const char* record) {
    if (name.empty()) {
        throw std::invalid_argument(std::string(record) +
                                    ": an empty name ends the list; use raw() to write one");
    }
}

ByteVec tagged(std::uint32_t tag, const ByteVec& body) {
    ByteVec out(body.size() + 1);
    out[0] = static_cast<unsigned char>(tag);
    std::copy(body.begin(), body.end(), out.begin() + 1);
    return out;
}

}  // namespace

// ---- Bytes ----

Bytes& Bytes::u8(std::uint32_t value) {
    check_range(value, 0xFF, "byte");
    data_.push_back(static_cast<unsigned char>(value));
    return *this;
}

Bytes& Bytes::word(std::uint32_t value) {
    check_range(value, 0xFFFF, "word");
    data_.push_back(static_cast<unsigned char>(value >> 8));
    data_.push_back(static_cast<unsigned char>(value));
    return *this;
}

Bytes& Bytes::tri(std::uint32_t value) {
    check_range(value, 0xFFFFFF, "tri");
    data_.push_back(static_cast<unsigned char>(value >> 16));
    data_.push_back(static_cast<unsigned char>(value >> 8));
    data_.push_back(static_cast<unsigned char>(value));
    return *this;
}

Bytes& Bytes::u32(std::uint32_t value) {
    data_.push_back(static_cast<unsigned char>(value >> 24));
    data_.push_back(static_cast<unsigned char>(value >> 16));
    data_.push_back(static_cast<unsigned char>(value >> 8));
    data_.push_back(static_cast<unsigned char>(value));
    return *this;
}

Bytes& Bytes::str(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        throw std::invalid_argument("string holds a NUL; use raw() to write one");
    }
    data_.insert(data_.end(), text.begin(), text.end());
    data_.push_back(0);
    return *this;
}

Bytes& Bytes::raw(const ByteVec& data) {
    data_.insert(data_.end(), data.begin(), data.end());
    return *this;
}

// ---- F7 items ----

ByteVec item_f0(const ByteVec& five_bytes) {
    check_size(five_bytes, 5, "F0 item");
    return tagged(0xF0, five_bytes);
}

ByteVec item_f1(std::string_view text) {
    return Bytes().u8(0xF1).str(text).bytes();
}

ByteVec item_f2(const ByteVec& four_bytes) {
    check_size(four_bytes, 4, "F2 item");
    return tagged(0xF2, four_bytes);
}

ByteVec item_f3(std::string_view text) {
    return Bytes().u8(0xF3).str(text).bytes();
}

ByteVec item_byte(std::uint32_t value) {
    check_range(value, 0xFE, "one-byte item (FF ends the entry)");
    return {static_cast<unsigned char>(value)};
}

// ---- Module: records with lists ----

Module& Module::tri_list(const std::vector<TriSym>& entries) {
    for (const TriSym& e : entries) {
        check_name(e.name, "tri list");
        out_.tri(e.value).str(e.name);
    }
    out_.tri(0).str("");
    return *this;
}

Module& Module::long_list(const std::vector<LongSym>& entries) {
    for (const LongSym& e : entries) {
        check_name(e.name, "long list");
        out_.u32(e.value).str(e.name);
    }
    out_.u32(0).str("");
    return *this;
}

Module& Module::bit_list(const std::vector<BitSym>& entries) {
    for (const BitSym& e : entries) {
        check_name(e.name, "BIT list");
        out_.word(e.number).tri(e.value).str(e.name);
    }
    out_.word(0).tri(0).str("");
    return *this;
}

Module& Module::string_list(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        check_name(name, "string list");
        out_.str(name);
    }
    out_.str("");
    return *this;
}

// An entry: tri, two bytes, optional prefix, first item, further items, FF.
void Module::f7_entry(const F7Entry& entry) {
    if (entry.tri == 0 && entry.byte1 == 0) {
        throw std::invalid_argument("F7 entry with tri 0 and first byte 0 ends the record");
    }
    out_.tri(entry.tri).u8(entry.byte1).u8(entry.byte2);
    if (entry.prefix) {
        if (*entry.prefix != 0x81 && *entry.prefix != 0x82) {
            throw std::invalid_argument("F7 prefix must be 0x81 or 0x82");
        }
        out_.u8(*entry.prefix);
    }
    out_.raw(entry.first);
    for (const ByteVec& item : entry.items) {
        out_.raw(item);
    }
    out_.u8(0xFF);
}

// ---- Module: one call per record kind ----

Module& Module::f0(std::string_view format) {
    out_.u8(0xF0).str(format);
    return *this;
}

Module& Module::f1(std::string_view text) {
    out_.u8(0xF1).str(text);
    return *this;
}

Module& Module::f2(std::string_view first, const std::vector<std::string>& list1,
                   const std::vector<std::string>& list2) {
    out_.u8(0xF2).u8(0xF0).str(first).u8(0xF1);
    string_list(list1);
    out_.u8(0xF2);
    return string_list(list2);
}

Module& Module::f3(std::uint32_t number, std::string_view name, std::uint32_t b1,
                   std::uint32_t b2, std::uint32_t tri, std::uint32_t value) {
    out_.u8(0xF3).word(number).str(name).u8(b1).u8(b2).tri(tri).u32(value);
    return *this;
}

Module& Module::f4(std::uint32_t block, const std::vector<TriSym>& symbols) {
    out_.u8(0xF4).word(block);
    return tri_list(symbols);
}

Module& Module::f5(const std::vector<LongSym>& symbols) {
    out_.u8(0xF5);
    return long_list(symbols);
}

Module& Module::f6(const std::vector<std::string>& names) {
    out_.u8(0xF6);
    return string_list(names);
}

Module& Module::f7(std::uint32_t word, const std::vector<F7Entry>& entries) {
    out_.u8(0xF7).word(word);
    for (const F7Entry& entry : entries) {
        f7_entry(entry);
    }
    out_.tri(0).u8(0);
    return *this;
}

Module& Module::f8(std::uint32_t word, const std::vector<ByteVec>& blocks) {
    out_.u8(0xF8).word(word);
    for (const ByteVec& block : blocks) {
        if (block.empty()) {
            throw std::invalid_argument("F8 block of length 0 ends the record");
        }
        out_.u32(static_cast<std::uint32_t>(block.size())).raw(block);
    }
    out_.u32(0);
    return *this;
}

Module& Module::f9(std::uint32_t word, const std::vector<TriSym>& entries) {
    out_.u8(0xF9).word(word);
    return tri_list(entries);
}

Module& Module::fa(const std::vector<LongSym>& entries) {
    out_.u8(0xFA);
    return long_list(entries);
}

Module& Module::e0(const std::vector<BitSym>& symbols) {
    out_.u8(0xE0);
    return bit_list(symbols);
}

Module& Module::e1(const std::vector<BitSym>& entries) {
    out_.u8(0xE1);
    return bit_list(entries);
}

Module& Module::e2(std::uint32_t word, std::string_view text, const ByteVec& eight_bytes) {
    check_size(eight_bytes, 8, "E2 record");
    out_.u8(0xE2).word(word).str(text).raw(eight_bytes);
    return *this;
}

Module& Module::e3(std::uint32_t word, const std::vector<E3Group>& groups) {
    out_.u8(0xE3).word(word);
    for (const E3Group& g : groups) {
        if (g.tri == 0 && g.byte == 0) {
            throw std::invalid_argument("E3 group with tri 0 and byte 0 ends the record");
        }
        out_.tri(g.tri).u8(g.byte);
    }
    out_.tri(0).u8(0);
    return *this;
}

// Each group: its name, (word, tri) pairs, a closing word 0; an empty name ends it all.
Module& Module::e4(std::uint32_t word, const std::vector<E4Group>& groups) {
    out_.u8(0xE4).word(word);
    for (const E4Group& g : groups) {
        check_name(g.name, "E4 record");
        out_.str(g.name);
        for (const auto& [w, t] : g.pairs) {
            if (w == 0) {
                throw std::invalid_argument("E4 pair with word 0 ends the group");
            }
            out_.word(w).tri(t);
        }
        out_.word(0);
    }
    out_.str("");
    return *this;
}

Module& Module::e5(std::string_view text) {
    out_.u8(0xE5).str(text);
    return *this;
}

Module& Module::e6(std::uint32_t value) {
    out_.u8(0xE6).u8(value);
    return *this;
}

Module& Module::end() {
    out_.u8(0xFF);
    return *this;
}

Module& Module::raw(const ByteVec& data) {
    out_.raw(data);
    return *this;
}

// ---- files ----

void write_file(const std::filesystem::path& path, const ByteVec& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

ByteVec read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    ByteVec data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        throw std::runtime_error("read error on " + path.string());
    }
    return data;
}

}  // namespace qob
