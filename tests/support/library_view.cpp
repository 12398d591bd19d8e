// Parsing and checking of library files for the tests.

#include "support/library_view.h"

#include <sstream>
#include <stdexcept>

namespace lib {

namespace {

// Reads big-endian fields from a byte vector; reading past its end throws.
class Cursor {
public:
    explicit Cursor(const qob::ByteVec& bytes) : bytes_(bytes) {}

    std::size_t pos() const { return pos_; }
    bool at_end() const { return pos_ == bytes_.size(); }
    int peek() const { return at_end() ? -1 : bytes_[pos_]; }

    std::uint32_t u8() {
        if (at_end()) fail("the file ends inside a record");
        return bytes_[pos_++];
    }
    std::uint32_t be(int width) {
        std::uint32_t value = 0;
        for (int i = 0; i < width; ++i) value = (value << 8) | u8();
        return value;
    }
    std::uint32_t word() { return be(2); }
    std::uint32_t tri() { return be(3); }
    std::uint32_t u32() { return be(4); }
    std::string str() {
        std::string text;
        for (std::uint32_t c = u8(); c != 0; c = u8()) text.push_back(static_cast<char>(c));
        return text;
    }
    qob::ByteVec take(std::size_t n) {
        if (bytes_.size() - pos_ < n) fail("the file ends inside a module body");
        qob::ByteVec out(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                         bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        pos_ += n;
        return out;
    }
    void expect(std::uint32_t tag, const char* what) {
        if (peek() != static_cast<int>(tag)) fail(std::string("expected ") + what);
        ++pos_;
    }
    // Takes the tag when it is next.
    bool accept(std::uint32_t tag) {
        if (peek() != static_cast<int>(tag)) return false;
        ++pos_;
        return true;
    }
    [[noreturn]] void fail(const std::string& what) const {
        std::ostringstream msg;
        msg << "library layout: " << what << " at offset " << pos_;
        throw std::runtime_error(msg.str());
    }

private:
    const qob::ByteVec& bytes_;
    std::size_t pos_ = 0;
};

Header parse_header(Cursor& in) {
    Header h;
    in.expect(0xF0, "header F0 (version)");
    h.version = in.str();
    in.expect(0xF1, "header F1 (format)");
    h.format = in.str();
    in.expect(0xF2, "header F2 (CPU)");
    h.cpu = in.str();
    in.expect(0xF3, "header F3 (module count)");
    h.modules = in.u32();
    in.expect(0xF4, "header F4 (symbol count)");
    h.symbols = in.u32();
    in.expect(0xFF, "end of header");
    h.size = in.pos();
    return h;
}

// Items read one after another through the one whose name is empty.
template <typename Item, typename ReadItem>
std::vector<Item> named_list(ReadItem read_item) {
    std::vector<Item> items;
    for (;;) {
        Item item = read_item();
        if (item.name.empty()) return items;
        items.push_back(item);
    }
}

std::vector<qob::TriSym> tri_syms(Cursor& in) {
    return named_list<qob::TriSym>([&] {
        const std::uint32_t value = in.tri();
        return qob::TriSym{value, in.str()};
    });
}

void parse_symbol_records(Cursor& in, Entry& e) {
    std::size_t start = in.pos();
    while (in.accept(0xF5)) {
        PubBlock block;
        block.number = in.word();
        block.symbols = tri_syms(in);
        e.publics.push_back(block);
    }
    e.f5_bytes = in.pos() - start;
    start = in.pos();
    if (in.accept(0xF6)) {
        e.equs = named_list<qob::LongSym>([&] {
            const std::uint32_t value = in.u32();
            return qob::LongSym{value, in.str()};
        });
    }
    e.f6_bytes = in.pos() - start;
    start = in.pos();
    if (in.accept(0xFA)) {
        e.bits = named_list<qob::BitSym>([&] {
            const std::uint32_t number = in.word();
            const std::uint32_t value = in.tri();
            return qob::BitSym{number, value, in.str()};
        });
    }
    e.fa_bytes = in.pos() - start;
}

void parse_tail_records(Cursor& in, Entry& e) {
    const std::size_t tail_start = in.pos();
    while (in.accept(0xF3)) {
        Descriptor d;
        d.number = in.word();
        d.name = in.str();
        d.byte1 = in.u8();
        d.byte2 = in.u8();
        d.tri = in.tri();
        d.value = in.u32();
        e.descriptors.push_back(d);
    }
    if (in.accept(0xF7)) {
        for (std::string name = in.str(); !name.empty(); name = in.str()) {
            e.externals.push_back(name);
        }
    }
    e.f8_offset = in.pos();
    in.expect(0xF8, "entry F8");
    for (std::uint32_t& v : e.f8) v = in.u32();
    in.expect(0xF9, "entry F9");
    for (std::uint32_t& v : e.f9) v = in.word();
    in.expect(0xFF, "end of entry");
    e.tail_size = in.pos() - tail_start;
}

Entry parse_entry(Cursor& in) {
    Entry e;
    e.offset = in.pos();
    in.expect(0xF0, "entry F0 (module name)");
    e.name = in.str();
    in.expect(0xF1, "entry F1");
    e.entry_len = in.u32();
    e.tail_len = in.u32();
    in.expect(0xF2, "entry F2");
    e.mod_size = in.u32();
    in.expect(0xF4, "entry F4");
    for (std::uint32_t& v : e.f4) v = in.u32();
    parse_symbol_records(in, e);
    parse_tail_records(in, e);
    e.size = in.pos() - e.offset;
    return e;
}

std::size_t public_count(const Entry& e) {
    std::size_t n = 0;
    for (const PubBlock& b : e.publics) n += b.symbols.size();
    return n;
}

// Collects lines "what: stated X, holds Y" for values that differ.
class Report {
public:
    void check(const std::string& what, std::uint64_t stated, std::uint64_t holds) {
        if (stated != holds) {
            out_ << what << ": states " << stated << ", holds " << holds << '\n';
        }
    }
    void fail(const std::string& what) { out_ << what << '\n'; }
    std::string text() const { return out_.str(); }

private:
    std::ostringstream out_;
};

// A position inside the body (from its start) must hold the record's tag.
void check_position(Report& r, const std::string& who, const std::string& field,
                    std::uint32_t offset, const qob::ByteVec& body, unsigned char tag) {
    if (offset != 0 && (offset >= body.size() || body[offset] != tag)) {
        r.fail(who + ": " + field + " " + std::to_string(offset) + " is not a record of its kind");
    }
}

void check_entry(Report& r, const Library& lib, std::size_t i) {
    const Entry& e = lib.entries[i];
    const qob::ByteVec& body = lib.bodies[i];
    const std::string who = "entry " + std::to_string(i + 1) + " (" + e.name + ")";
    r.check(who + " entry_len", e.entry_len, e.size - (e.name.size() + 2) - 9);
    r.check(who + " tail_len", e.tail_len, e.tail_size);
    r.check(who + " public count", e.f4[kPubCount], public_count(e));
    r.check(who + " pub_size", e.f4[kPubSize], e.f5_bytes);
    r.check(who + " EQU count", e.f4[kEquCount], e.equs.size());
    r.check(who + " equ_size", e.f4[kEquSize], e.f6_bytes);
    r.check(who + " BIT count", e.f4[kBitCount], e.bits.size());
    r.check(who + " bit_size", e.f4[kBitSize], e.fa_bytes);
    r.check(who + " external count", e.f4[kExtCount], e.externals.size());
    const std::uint32_t base = e.f8[kModOffset];
    r.check(who + " mod_offset", base, lib.body_at[i]);
    r.check(who + " abs_f7", e.f8[kAbsF7], e.f8[kOffset1F7] == 0 ? 0 : base + e.f8[kOffset1F7]);
    r.check(who + " abs_f8", e.f8[kAbsF8], e.f8[kOffset1F8] == 0 ? 0 : base + e.f8[kOffset1F8]);
    check_position(r, who, "offset1_f7", e.f8[kOffset1F7], body, 0xF7);
    check_position(r, who, "offset1_f8", e.f8[kOffset1F8], body, 0xF8);
    if (body.empty() || body.back() != 0xFF) r.fail(who + ": body does not end with FF");
}

}  // namespace

Library parse(const qob::ByteVec& bytes) {
    Cursor in(bytes);
    Library lib;
    lib.header = parse_header(in);
    while (in.peek() != 0xFF) lib.entries.push_back(parse_entry(in));
    lib.table_end = in.pos();
    in.expect(0xFF, "end of module table");
    for (const Entry& e : lib.entries) {
        lib.body_at.push_back(in.pos());
        lib.bodies.push_back(in.take(e.mod_size));
    }
    in.expect(0xFF, "end of body section");
    if (!in.at_end()) in.fail("bytes after the end of the library");
    return lib;
}

std::string inconsistencies(const Library& lib) {
    Report r;
    r.check("header module count", lib.header.modules, lib.entries.size());
    std::uint64_t symbols = 0;
    for (const Entry& e : lib.entries) {
        symbols += e.f4[kPubCount] + e.f4[kEquCount] + e.f4[kBitCount] + e.f4[kExtCount];
    }
    r.check("header symbol count", lib.header.symbols, symbols);
    for (std::size_t i = 0; i < lib.entries.size(); ++i) check_entry(r, lib, i);
    return r.text();
}

qob::ByteVec header_bytes(std::string_view version, std::string_view format,
                          std::string_view cpu, std::uint32_t modules,
                          std::uint32_t symbols) {
    return qob::Bytes()
        .u8(0xF0).str(version)
        .u8(0xF1).str(format)
        .u8(0xF2).str(cpu)
        .u8(0xF3).u32(modules)
        .u8(0xF4).u32(symbols)
        .u8(0xFF)
        .bytes();
}

qob::ByteVec with_header(const qob::ByteVec& bytes, const qob::ByteVec& header) {
    const Library lib = parse(bytes);
    const auto shift = static_cast<std::int64_t>(header.size()) -
                       static_cast<std::int64_t>(lib.header.size);
    qob::ByteVec out = header;
    out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(lib.header.size),
               bytes.end());
    for (const Entry& e : lib.entries) {
        const std::size_t f8 = e.f8_offset + header.size() - lib.header.size;
        for (int v : {kModOffset, kAbsF7, kAbsF8}) {
            if (e.f8[v] == 0) continue;
            const auto moved = static_cast<std::uint32_t>(e.f8[v] + shift);
            for (int b = 0; b < 4; ++b) {
                out[f8 + 1 + 4 * v + b] = static_cast<unsigned char>(moved >> (24 - 8 * b));
            }
        }
    }
    return out;
}

}  // namespace lib
