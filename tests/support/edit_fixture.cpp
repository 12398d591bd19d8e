// Modules and hand-made libraries for the editing tests, and their fixture.

#include "support/edit_fixture.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace edit {

using qob::Bytes;
using qob::Module;

ByteVec rich_module(const std::string& p) {
    qob::F7Entry entry{1, 2, 3, 0x81, qob::item_f0({1, 2, 3, 4, 5}),
                       {qob::item_byte(0xF4), qob::item_f3("x"), qob::item_f2({9, 9, 9, 9})}};
    return Module()
        .f0()
        .f1("rich " + p)
        .f2("grp", {"a", "b"}, {"c"})
        .f3(1, p + "_D", 1, 2, 0x10203, 0x01020304)
        .f4(1, {{0x100, p + "_P1"}, {0x200, p + "_P2"}})
        .f5({{0x12345678, p + "_E"}})
        .f6({p + "_X"})
        .e0({{1, 0x33, p + "_B"}})
        .f7(0, {entry})
        .f8(1, {{0xFF, 0xFF, 0xFF}, {0xF0}})
        .f7(1, {entry})
        .f8(2, {{0xF8}})
        .f9(2, {{5, "NINE"}})
        .fa({{7, "FA"}})
        .e1({{1, 2, "E1"}})
        .e2(1, "e2", {1, 2, 3, 4, 5, 6, 7, 8})
        .e3(1, {{1, 2}})
        .e4(1, {{"G", {{1, 2}}}})
        .e5("e5")
        .e6(0x42)
        .end()
        .bytes();
}

ByteVec small_module(const std::string& sym, std::uint32_t data) {
    Module m;
    m.f0();
    if (!sym.empty()) m.f4(1, {{0x10, sym}});
    return m.f8(0, {Bytes().u32(data).bytes()}).end().bytes();
}

ByteVec without_offsets(const ByteVec& file, const lib::Entry& e) {
    ByteVec out(file.begin() + static_cast<std::ptrdiff_t>(e.offset),
                file.begin() + static_cast<std::ptrdiff_t>(e.offset + e.size));
    const std::size_t f8 = e.f8_offset - e.offset;
    for (int v : {lib::kModOffset, lib::kAbsF7, lib::kAbsF8}) {
        for (int b = 0; b < 4; ++b) out.at(f8 + 1 + 4 * v + b) = 0;
    }
    return out;
}

namespace {

ByteVec crafted_entry(const Crafted& c, std::int32_t offset) {
    const auto extra = static_cast<std::int32_t>(c.after_f4.size() + c.after_f8.size());
    Bytes b;
    b.u8(0xF0).str(c.name);
    b.u8(0xF1).u32(static_cast<std::uint32_t>(c.entry_len.value_or(69 + extra)));
    b.u32(static_cast<std::uint32_t>(35 + c.after_f8.size()));
    b.u8(0xF2).u32(static_cast<std::uint32_t>(
        c.mod_size.value_or(static_cast<std::int32_t>(c.body.size()))));
    b.u8(0xF4);
    for (int i = 0; i < 7; ++i) b.u32(0);
    b.raw(c.after_f4);
    b.u8(0xF8).u32(static_cast<std::uint32_t>(offset)).u32(0).u32(0).u32(0).u32(0);
    b.raw(c.after_f8);
    b.u8(0xF9).word(0).word(0).word(12).word(1).word(0).word(124);
    return b.u8(0xFF).bytes();
}

}  // namespace

ByteVec craft_library(const std::vector<Crafted>& modules, const std::string& format) {
    Bytes header;
    header.u8(0xF0).str("V.4.00.00").u8(0xF1).str(format).u8(0xF2).str("VRN100");
    header.u8(0xF3).u32(static_cast<std::uint32_t>(modules.size())).u8(0xF4).u32(0).u8(0xFF);
    std::size_t table = 0;
    for (const Crafted& c : modules) table += crafted_entry(c, 0).size();

    Bytes lib;
    lib.raw(header.bytes());
    std::size_t offset = header.offset() + table + 1;
    for (const Crafted& c : modules) {
        lib.raw(crafted_entry(c, static_cast<std::int32_t>(offset)));
        offset += c.body.size();
    }
    lib.u8(0xFF);
    for (const Crafted& c : modules) lib.raw(c.body);
    return lib.u8(0xFF).bytes();
}

ByteVec patched(ByteVec data, const std::string& from, const std::string& to) {
    if (from.size() != to.size()) throw std::invalid_argument("a patch keeps the length");
    const auto at = std::search(data.begin(), data.end(), from.begin(), from.end());
    if (at == data.end()) throw std::invalid_argument("nothing to patch: " + from);
    std::copy(to.begin(), to.end(), at);
    return data;
}

std::string host_path(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

}  // namespace edit

// ---- the fixture ----

void EditTest::make_library(const std::vector<edit::ModFile>& files) {
    NameList names;
    for (const auto& [name, bytes] : files) {
        write(edit::host_path(name), bytes);
        names.push_back(name);
    }
    const RunResult r = append(kLib, names);
    ASSERT_EQ(r.status, 0) << r.out;
}

std::string EditTest::numbered_name(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "M%03d.QOB", i);
    return buf;
}

qob::ByteVec EditTest::numbered_body(int i) {
    return edit::small_module("", static_cast<std::uint32_t>(i));
}

void EditTest::make_numbered_library(int count) {
    std::vector<edit::ModFile> files;
    for (int i = 0; i < count; ++i) files.emplace_back(numbered_name(i), numbered_body(i));
    ASSERT_NO_FATAL_FAILURE(make_library(files));
    for (const auto& file : files) remove(file.first);
}

lib::Library EditTest::parsed() const {
    const lib::Library l = library(kLib);
    EXPECT_EQ(lib::inconsistencies(l), "");
    return l;
}

RunResult EditTest::edit_run(const std::string& command, const NameList& names, const EnvMap& env) {
    NameList args{command, "-o", kLib};
    if (!names.empty()) args.push_back("-f");
    args.insert(args.end(), names.begin(), names.end());
    return run(args, env);
}

EditTest::Snapshot EditTest::snapshot() const {
    Snapshot files;
    for (const std::string& name : list_dir()) {
        if (std::filesystem::is_directory(path(name))) {
            files.emplace_back(name + "/", qob::ByteVec{});
        } else {
            files.emplace_back(name, read(name));
        }
    }
    return files;
}

void EditTest::expect_refused(const RunResult& r, int status, const std::string& out,
                              const Snapshot& before) {
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.out, out);
    EXPECT_TRUE(!r.err.empty() && r.err.back() == '\a') << "no bell";
    const auto after = snapshot();
    NameList names_before, names_after;
    for (const auto& file : before) names_before.push_back(file.first);
    for (const auto& file : after) names_after.push_back(file.first);
    ASSERT_EQ(names_after, names_before);
    for (std::size_t i = 0; i < after.size(); ++i) {
        EXPECT_TRUE(after[i].second == before[i].second) << after[i].first << " was changed";
    }
}

void EditTest::remove(const std::string& name) const { std::filesystem::remove(path(name)); }
