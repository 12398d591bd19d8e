// Unit tests of the record streams: the field primitives, their behaviour at
// the end of the input and on failing streams, and the module copier, which
// must carry every record kind byte for byte and stop on every malformed or
// cut-off module with "Invarid module or library".

#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/errors.h"
#include "driver/run_state.h"
#include "format/stdfnc.h"
#include "support/harness.h"
#include "support/qob_writer.h"

namespace {

using qob::ByteVec;
using qob::F7Entry;
using qob::Module;

ByteVec cat(ByteVec a, const ByteVec& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

ByteVec prefix(const ByteVec& bytes, std::size_t n) {
    return ByteVec(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

// Everything written to a stream so far.
ByteVec contents(std::FILE* fp) {
    std::fflush(fp);
    std::rewind(fp);
    ByteVec data;
    for (int c = std::fgetc(fp); c != EOF; c = std::fgetc(fp)) data.push_back(static_cast<unsigned char>(c));
    return data;
}

// The RunAbort that `step` ends with; fails the test when it returns normally.
RunAbort abort_of(const std::function<void()>& step) {
    try {
        step();
    } catch (const RunAbort& abort) {
        return abort;
    }
    ADD_FAILURE() << "the step did not end the run";
    return RunAbort{-1, std::nullopt};
}

void expect_invalid(const RunAbort& abort, const std::string& name) {
    EXPECT_EQ(abort.code, kInvalid);
    EXPECT_EQ(abort.name, std::optional<std::string>(name));
}

// A run state on scratch console streams, and scratch record streams.
class Records : public ::testing::Test {
protected:
    ~Records() override {
        for (std::FILE* fp : streams_) std::fclose(fp);
    }

    // A stream holding `bytes`, positioned at its start.
    std::FILE* input(const ByteVec& bytes) {
        std::FILE* fp = scratch();
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), fp);
        std::rewind(fp);
        return fp;
    }

    std::FILE* scratch() {
        std::FILE* fp = std::tmpfile();
        if (fp == nullptr) throw std::runtime_error("tmpfile failed");
        streams_.push_back(fp);
        return fp;
    }

    std::FILE* opened(const char* name, const char* mode) {
        std::FILE* fp = std::fopen(name, mode);
        if (fp == nullptr) throw std::runtime_error(std::string("cannot open ") + name);
        streams_.push_back(fp);
        return fp;
    }

    std::string console() {
        ByteVec data = contents(out_);
        return std::string(data.begin(), data.end());
    }

    // Copies one module from `in_bytes` with copy_romod; returns what it wrote.
    ByteVec copy_module(const ByteVec& in_bytes, std::FILE** in_stream = nullptr) {
        std::FILE* in = input(in_bytes);
        std::FILE* out = scratch();
        RecOut writer(rs, out);
        copy_romod(rs, in, writer);
        if (in_stream != nullptr) *in_stream = in;
        EXPECT_EQ(writer.count(), static_cast<int64_t>(contents(out).size()));
        return contents(out);
    }

    std::vector<std::FILE*> streams_;
    std::FILE* out_ = scratch();
    std::FILE* err_ = scratch();
    RunState rs{out_, err_};
};

// ---- reading fields ----

TEST_F(Records, FieldsAreReadBigEndian) {
    RecIn in(rs, input({0xAB, 0x12, 0x34, 0xFF, 0xFE, 0x12, 0x34, 0x56, 0xFF, 0xFF, 0xFF,
                        0x80, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 'H', 'I', 0, 0}),
             "BAD");
    EXPECT_EQ(in.get_byte(), 0xAB);
    EXPECT_EQ(in.get_word(), 0x1234);
    EXPECT_EQ(in.get_word(), 0xFFFE);
    EXPECT_EQ(in.get_tri(), 0x123456);
    EXPECT_EQ(in.get_tri(), 0xFFFFFF);
    EXPECT_EQ(in.get_long(), static_cast<int32_t>(0x80000001u));
    EXPECT_EQ(in.get_long(), -1);
    EXPECT_EQ(in.get_str(), "HI");
    EXPECT_EQ(rs.str_buf, "HI");
    EXPECT_EQ(in.get_str(), "");
    EXPECT_EQ(in.tell(), 23);
    EXPECT_EQ(in.get_tag(), -1);
}

TEST_F(Records, TagReadAtTheEndIsNoTagAndNoFault) {
    RecIn in(rs, input({0xF0}), "BAD");
    EXPECT_EQ(in.get_tag(), 0xF0);
    EXPECT_EQ(in.get_tag(), -1);
    EXPECT_EQ(in.get_tag(), -1);
}

struct CutField {
    const char* what;
    ByteVec bytes;
    std::function<void(RecIn&)> read;
};

TEST_F(Records, FieldCutOffByTheEndIsMalformedInput) {
    const CutField cases[] = {
        {"byte at the end", {}, [](RecIn& in) { in.get_byte(); }},
        {"word with one byte", {0x12}, [](RecIn& in) { in.get_word(); }},
        {"word at the end", {}, [](RecIn& in) { in.get_word(); }},
        {"tri with two bytes", {0x12, 0x34}, [](RecIn& in) { in.get_tri(); }},
        {"tri at the end", {}, [](RecIn& in) { in.get_tri(); }},
        {"long with three bytes", {1, 2, 3}, [](RecIn& in) { in.get_long(); }},
        {"string without its NUL", {'A', 'B'}, [](RecIn& in) { in.get_str(); }},
        {"string at the end", {}, [](RecIn& in) { in.get_str(); }},
    };
    for (const CutField& c : cases) {
        SCOPED_TRACE(c.what);
        RecIn in(rs, input(c.bytes), "READER");
        expect_invalid(abort_of([&] { c.read(in); }), "READER");
    }
}

TEST_F(Records, StringsHoldAtMost255Characters) {
    const std::string longest(255, 'S');
    RecIn ok(rs, input(qob::Bytes().str(longest).u8(0x7F).bytes()), "BAD");
    EXPECT_EQ(ok.get_str(), longest);
    EXPECT_EQ(ok.get_byte(), 0x7F);

    RecIn too_long(rs, input(qob::Bytes().str(std::string(256, 'S')).bytes()), "LONG.QOB");
    expect_invalid(abort_of([&] { too_long.get_str(); }), "LONG.QOB");
}

TEST_F(Records, ReadFailureIsAReadErrorOfTheCurrentFile) {
    rs.cur_file = "CUR.QOB";
    RecIn in(rs, opened("/dev/null", "wb"), "BAD");
    const RunAbort abort = abort_of([&] { in.get_tag(); });
    EXPECT_EQ(abort.code, kReadError);
    // No name of its own: the reporter shows the current file.
    EXPECT_FALSE(abort.name.has_value());
}

// ---- writing fields ----

TEST_F(Records, FieldsAreWrittenBigEndian) {
    std::FILE* fp = scratch();
    RecOut out(rs, fp);
    out.put_byte(0x1AB);
    out.put_word(0x1234);
    out.put_tri(0x123456);
    out.put_long(1);
    out.put_long(-2);
    out.put_str("");
    out.put_str("AB");
    const ByteVec expected{0xAB, 0x12, 0x34, 0x12, 0x34, 0x56, 0, 0, 0, 1,
                           0xFF, 0xFF, 0xFF, 0xFE, 0, 'A', 'B', 0};
    EXPECT_EQ(contents(fp), expected) << hex(contents(fp));
    EXPECT_EQ(out.count(), static_cast<int64_t>(expected.size()));
}

TEST_F(Records, WriterWithoutStreamOnlyCounts) {
    RecOut out(rs, nullptr);
    out.put_long(7);
    out.put_str("ABC");
    EXPECT_EQ(out.count(), 8);
}

TEST_F(Records, WriteFailureIsOutOfDiskSpace) {
    std::FILE* read_only = opened("/dev/null", "rb");
    RecOut bytes(rs, read_only);
    EXPECT_EQ(abort_of([&] { bytes.put_byte(1); }).code, kDiskFull);
    RecOut block(rs, read_only);
    EXPECT_EQ(abort_of([&] { block.put_str("ABC"); }).code, kDiskFull);
}

// ---- runs of bytes ----

ByteVec counting(std::size_t n) {
    ByteVec data(n);
    for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<unsigned char>(i * 7);
    return data;
}

TEST_F(Records, CopyBytesCopiesExactlyTheCount) {
    // Short runs go byte by byte, long ones in blocks of 64 KiB: both sizes.
    for (std::size_t n : {std::size_t{8}, std::size_t{200000}}) {
        SCOPED_TRACE(n);
        const ByteVec data = counting(n + 3);
        RecIn in(rs, input(data), "BAD");
        std::FILE* fp = scratch();
        RecOut out(rs, fp);
        in.copy_bytes(static_cast<int64_t>(n), out);
        EXPECT_EQ(contents(fp), prefix(data, n));
        EXPECT_EQ(in.get_byte(), data[n]);
    }
}

TEST_F(Records, CopyBytesPastTheEndStopsWithoutPadding) {
    for (std::size_t want : {std::size_t{8}, std::size_t{100}, std::size_t{70000}}) {
        SCOPED_TRACE(want);
        const ByteVec data = counting(want - 3);
        RecIn in(rs, input(data), "SHORT");
        std::FILE* fp = scratch();
        RecOut out(rs, fp);
        expect_invalid(abort_of([&] { in.copy_bytes(static_cast<int64_t>(want), out); }), "SHORT");
        // Whatever was carried before the end came from the input: no 0xFF fill.
        const ByteVec written = contents(fp);
        ASSERT_LE(written.size(), data.size());
        EXPECT_EQ(written, prefix(data, written.size()));
    }
}

TEST_F(Records, SkipStepsOverExistingBytesOnly) {
    const ByteVec data = counting(300);
    RecIn in(rs, input(data), "SKIP");
    in.skip(5);
    EXPECT_EQ(in.get_byte(), data[5]);
    in.skip(200);
    EXPECT_EQ(in.get_byte(), data[206]);
    in.skip(0);
    EXPECT_EQ(in.tell(), 207);
    expect_invalid(abort_of([&] { in.skip(-1); }), "SKIP");
    expect_invalid(abort_of([&] { in.skip(94); }), "SKIP");  // 93 bytes are left

    RecIn exact(rs, input(data), "SKIP");
    exact.skip(300);
    EXPECT_EQ(exact.get_tag(), -1);

    RecIn small(rs, input({1, 2}), "SKIP");
    expect_invalid(abort_of([&] { small.skip(3); }), "SKIP");
}

// ---- the module copier ----

ByteVec bytes_from(std::uint32_t first, std::uint32_t last) {
    ByteVec data;
    for (std::uint32_t b = first; b <= last; ++b) data.push_back(static_cast<unsigned char>(b));
    return data;
}

struct RecordCase {
    std::string name;
    ByteVec module;
};

void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

std::vector<RecordCase> record_cases() {
    std::vector<qob::ByteVec> one_byte_items;
    for (std::uint32_t b = 0xF4; b <= 0xFE; ++b) one_byte_items.push_back(qob::item_byte(b));
    one_byte_items.push_back(qob::item_byte(0x00));
    one_byte_items.push_back(qob::item_byte(0x81));

    const F7Entry prefixed81{1, 2, 3, 0x81, qob::item_f0({1, 2, 3, 4, 5}),
                             {qob::item_f1("N"), qob::item_f2({1, 2, 3, 4}), qob::item_f3("S")}};
    const F7Entry prefixed82{0, 1, 0, 0x82, qob::item_f1("T"), {}};
    const F7Entry plain{5, 0, 9, std::nullopt, qob::item_f2({0xFF, 0xFF, 0xFF, 0xFF}), {}};
    const F7Entry with_one_byte_items{7, 7, 7, std::nullopt, qob::item_f1(""), one_byte_items};

    return {
        {"Empty", Module().end().bytes()},
        {"StringRecords", Module().f0().f1("free text").e5("E5 text").e6(0xFF).end().bytes()},
        {"F2", Module().f0().f2("A", {"B", "C"}, {"D"}).end().bytes()},
        {"F2EmptyLists", Module().f0().f2("", {}, {}).end().bytes()},
        // The second and third sub-tags are carried whatever they are.
        {"F2OtherSubTags",
         Module().f0().raw({0xF2, 0xF0, 'A', 0, 0x55, 'B', 0, 0, 0x66, 0}).end().bytes()},
        {"F3", Module().f0().f3(1, "DESC", 2, 3, 0x123456, 0x789ABCDE).end().bytes()},
        {"F4F9", Module().f0().f4(1, {{0x1000, "START"}, {0xFFFFFF, "END"}}).f4(2, {})
                     .f9(3, {{1, "X"}}).end().bytes()},
        {"F5FA", Module().f0().f5({{0xFFFFFFFF, "EQ"}}).f5({}).fa({{0, "Y"}}).end().bytes()},
        {"F6", Module().f0().f6({"EXT1", "EXT2"}).f6({}).end().bytes()},
        {"F7Prefixes", Module().f0().f7(1, {prefixed81, prefixed82, plain}).end().bytes()},
        {"F7OneByteItems", Module().f0().f7(2, {with_one_byte_items}).end().bytes()},
        {"F7OnlyTerminator", Module().f0().f7(0, {}).end().bytes()},
        {"F8TagBytesAsData",
         Module().f0().f8(1, {bytes_from(0xF0, 0xFF), {0xFF, 0xFF, 0xFF}}).end().bytes()},
        {"F8LargeBlock", Module().f0().f8(1, {counting(70000)}).end().bytes()},
        {"E0E1", Module().f0().e0({{1, 2, "BIT"}}).e1({{3, 4, "B2"}}).e0({}).end().bytes()},
        {"E2", Module().f0().e2(7, "TXT", {1, 2, 3, 4, 5, 6, 7, 0xFF}).end().bytes()},
        {"E3", Module().f0().e3(1, {{1, 0}, {0, 1}, {0xFFFFFF, 0xFF}}).e3(2, {}).end().bytes()},
        {"E4Groups",
         Module().f0().e4(1, {{"G1", {{1, 2}, {0xFFFF, 0xFFFFFF}}}, {"G2", {}}}).e4(2, {}).end().bytes()},
    };
}

class CopyRomod : public Records, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(CopyRomod, CopiesOneModuleAndStopsBeforeTheNext) {
    const ByteVec& module = GetParam().module;
    const ByteVec next = Module().f0().end().bytes();
    rs.cmd_code = 'd';
    std::FILE* in = nullptr;
    const ByteVec copied = copy_module(cat(module, next), &in);
    EXPECT_EQ(copied, module) << hex(copied);
    EXPECT_EQ(std::ftell(in), static_cast<long>(module.size()));
    EXPECT_EQ(std::fgetc(in), next.front());
}

INSTANTIATE_TEST_SUITE_P(EveryRecordKind, CopyRomod, ::testing::ValuesIn(record_cases()),
                         [](const auto& info) { return info.param.name; });

TEST_F(Records, CopyRomodTracesEveryTag) {
    rs.trace = true;
    copy_module(Module().f0().f6({"E"}).e6(1).end().bytes());
    EXPECT_EQ(console(), ",copy_romod\nparse->F0\nparse->F6\nparse->E6\n");
}

TEST_F(Records, F2WithoutItsF0SubRecordIsS0001) {
    for (int sub : {0xF1, 0xF2, 0x00}) {
        SCOPED_TRACE(sub);
        const ByteVec module =
            Module().f0().raw({0xF2, static_cast<unsigned char>(sub), 'A', 0, 0, 0xF2, 0}).end().bytes();
        expect_invalid(abort_of([&] { copy_module(module); }), "S0001");
    }
}

TEST_F(Records, F7EntryWithABadFirstItemIsS0002) {
    struct BadFirst {
        std::optional<std::uint32_t> prefix;
        ByteVec first;
    };
    const BadFirst cases[] = {
        {std::nullopt, qob::item_f3("X")},
        {std::nullopt, qob::item_byte(0x10)},
        {std::nullopt, qob::item_byte(0xF4)},
        {0x81, qob::item_f3("X")},
        {0x82, qob::item_byte(0x81)},
    };
    for (const BadFirst& c : cases) {
        SCOPED_TRACE(hex(c.first));
        const F7Entry entry{1, 1, 1, c.prefix, c.first, {}};
        const ByteVec module = Module().f0().f7(1, {entry}).end().bytes();
        expect_invalid(abort_of([&] { copy_module(module); }), "S0002");
    }
}

TEST_F(Records, BadF7FirstItemIsTracedBeforeTheFault) {
    rs.trace = true;
    const F7Entry entry{1, 1, 1, std::nullopt, qob::item_f3("X"), {}};
    expect_invalid(abort_of([&] { copy_module(Module().f0().f7(1, {entry}).end().bytes()); }), "S0002");
    EXPECT_TRUE(console().ends_with("parse->F7\nF3 ")) << console();
}

TEST_F(Records, ByteThatIsNoTagIsS0004) {
    for (unsigned char tag : {0x00, 0x81, 0xDF, 0xE7, 0xEF, 0xFB, 0xFE}) {
        SCOPED_TRACE(static_cast<int>(tag));
        const ByteVec module = Module().f0().raw({tag}).end().bytes();
        expect_invalid(abort_of([&] { copy_module(module); }), "S0004");
    }
}

// One module holding every record kind, with small F8 blocks.
ByteVec every_record_module() {
    ByteVec module = Module().f0().bytes();
    for (const RecordCase& c : record_cases()) {
        if (c.name == "Empty" || c.name == "F8LargeBlock") continue;
        // Each case is F0 "VER.A" (7 bytes), its records and FF.
        module.insert(module.end(), c.module.begin() + 7, c.module.end() - 1);
    }
    module.push_back(0xFF);
    return module;
}

TEST_F(Records, ModuleCutOffAtAnyOffsetIsS0004) {
    const ByteVec module = every_record_module();
    ASSERT_EQ(copy_module(module), module);
    for (std::size_t n = 0; n < module.size(); ++n) {
        SCOPED_TRACE(n);
        expect_invalid(abort_of([&] { copy_module(prefix(module, n)); }), "S0004");
    }
}

TEST_F(Records, LargeBlockCutOffIsS0004) {
    const ByteVec module = Module().f0().f8(1, {counting(70000)}).end().bytes();
    for (std::size_t n : {std::size_t{20}, std::size_t{65536}, std::size_t{66000}, module.size() - 6}) {
        SCOPED_TRACE(n);
        expect_invalid(abort_of([&] { copy_module(prefix(module, n)); }), "S0004");
    }
}

// Sets the interrupt flag for one test and clears it again.
class BreakFlag : public Records {
protected:
    BreakFlag() { g_break_requested = 1; }
    ~BreakFlag() override { g_break_requested = 0; }
};

void expect_break(const RunAbort& abort) {
    EXPECT_EQ(abort.code, kBreak);
    EXPECT_EQ(abort.name, std::optional<std::string>("--Break-- !"));
}

TEST_F(BreakFlag, RunEndsAtTheNextTag) {
    expect_break(abort_of([&] { copy_module(Module().f0().end().bytes()); }));
}

TEST_F(BreakFlag, RunEndsAtTheNextBlockOfALongCopy) {
    RecIn in(rs, input(counting(100000)), "BAD");
    RecOut out(rs, nullptr);
    expect_break(abort_of([&] { in.copy_bytes(100000, out); }));
    EXPECT_LT(out.count(), 100000);
}

// ---- trace output ----

TEST_F(Records, MoveCursorWritesTheAnsiPositionOneBased) {
    move_cursor(rs, 1, 24);
    move_cursor(rs, 0, 0);
    EXPECT_EQ(console(), "\x1b[25;2H\x1b[1;1H");
}

}  // namespace
