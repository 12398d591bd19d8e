// Unit tests of the record streams: the field primitives, their behaviour at
// the end of the input and on failing streams, the store their names are
// kept in, and the module copier, which must carry every record kind byte
// for byte and stop on every malformed or cut-off module with "Invarid
// module or library".

#include <cstdio>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/trace_out.h"
#include "format/error.h"
#include "format/module.h"
#include "format/name_store.h"
#include "format/stdfnc.h"
#include "format/trace.h"
#include "support/harness.h"
#include "support/qob_writer.h"

namespace {

using qob::ByteVec;
using qob::F7Entry;
using qob::Module;
using Kind = FormatError::Kind;
using Rule = FormatError::Rule;

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

// The fault that `step` ends with; fails the test when it returns normally.
FormatError fault_of(const std::function<void()>& step) {
    try {
        step();
    } catch (const FormatError& fault) {
        return fault;
    }
    ADD_FAILURE() << "the step did not fail";
    return FormatError{Kind::kInterrupted};
}

// A malformed input that breaks `rule` and is named `name`, what its reader
// was told to call it; the file it was read from stays beside it.
void expect_invalid(const FormatError& fault, const std::string& name, Rule rule = Rule::kRecord) {
    EXPECT_EQ(fault.kind, Kind::kMalformed);
    EXPECT_EQ(fault.rule, rule);
    EXPECT_EQ(fault.name(), name);
}

// What a reader tells its trace, one event per line.
class EventTrace : public FormatTrace {
public:
    void record(int tag) override { add("record " + hex_of(tag)); }
    void symbol_read(SymKind kind, int count) override {
        add("symbol " + std::to_string(static_cast<int>(kind)) + " " + std::to_string(count));
    }
    void first_record(int tag, int32_t offset) override { add("first " + hex_of(tag) + " " + std::to_string(offset)); }
    void bad_first_item(int byte) override { add("bad " + hex_of(byte)); }
    std::string events;

private:
    static std::string hex_of(int v) {
        char text[8];
        std::snprintf(text, sizeof text, "%X", v);
        return text;
    }
    void add(const std::string& line) { events += line + "\n"; }
};

// Scratch streams, and input files over them.
class Records : public ::testing::Test {
protected:
    ~Records() override {
        for (std::FILE* fp : streams_) std::fclose(fp);
    }

    // An input file holding `bytes`, read from its start.
    InputFile& input(const ByteVec& bytes, const char* name = "IN.QOB",
                     const volatile std::sig_atomic_t* interrupt = nullptr) {
        std::FILE* fp = scratch();
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), fp);
        std::rewind(fp);
        std::setvbuf(fp, nullptr, _IONBF, 0);
        inputs_.push_back(std::make_unique<InputFile>());
        inputs_.back()->attach(fp, name, interrupt);
        return *inputs_.back();
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

    // Copies one module from `in_bytes` with copy_romod; returns what it wrote.
    ByteVec copy_module(const ByteVec& in_bytes, InputFile** in_file = nullptr, FormatTrace* trace = nullptr) {
        InputFile& in = input(in_bytes);
        std::FILE* fp = scratch();
        RecOut out(fp);
        const int64_t size = copy_romod(in, &out, trace);
        out.flush();
        if (in_file != nullptr) *in_file = &in;
        EXPECT_EQ(size, static_cast<int64_t>(contents(fp).size()));
        return contents(fp);
    }

    std::vector<std::FILE*> streams_;
    std::vector<std::unique_ptr<InputFile>> inputs_;
};

// ---- reading fields ----

TEST_F(Records, FieldsAreReadBigEndian) {
    RecIn in(input({0xAB, 0x12, 0x34, 0xFF, 0xFE, 0x12, 0x34, 0x56, 0xFF, 0xFF, 0xFF,
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
    EXPECT_EQ(in.file().last_str(), "HI");
    EXPECT_EQ(in.get_str(), "");
    EXPECT_EQ(in.tell(), 23);
    EXPECT_EQ(in.get_tag(), -1);
}

TEST_F(Records, TagReadAtTheEndIsNoTagAndNoFault) {
    RecIn in(input({0xF0}), "BAD");
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
        RecIn in(input(c.bytes), "READER");
        const FormatError fault = fault_of([&] { c.read(in); });
        expect_invalid(fault, "READER");
        EXPECT_EQ(fault.file, "IN.QOB");
    }
}

TEST_F(Records, StringsHoldAtMost255Characters) {
    const std::string longest(255, 'S');
    RecIn ok(input(qob::Bytes().str(longest).u8(0x7F).bytes()), "BAD");
    EXPECT_EQ(ok.get_str(), longest);
    EXPECT_EQ(ok.get_byte(), 0x7F);

    RecIn too_long(input(qob::Bytes().str(std::string(256, 'S')).bytes()), "LONG.QOB");
    expect_invalid(fault_of([&] { too_long.get_str(); }), "LONG.QOB");
}

TEST_F(Records, StringsAcrossBlocksAndTheLastStringAfterItsBlockIsReadOver) {
    // Blocks of 8 bytes: "ABC" ends in the first, "DEFGHIJKLM" runs into the
    // second, "XY" lies inside the third, and the fourth is read after it.
    const ByteVec data =
        qob::Bytes().str("ABC").str("DEFGHIJKLM").u8(0x7F).u8(0x7F).str("XY").u8(1).u8(2).u8(3).u8(4).str("OVERWRITE").bytes();
    std::FILE* fp = scratch();
    std::fwrite(data.data(), 1, data.size(), fp);
    std::rewind(fp);
    std::setvbuf(fp, nullptr, _IONBF, 0);
    InputFile file(8);
    file.attach(fp, "IN.QOB");
    RecIn in(file, "BAD");
    EXPECT_EQ(in.get_str(), "ABC");
    EXPECT_EQ(in.get_str(), "DEFGHIJKLM");
    EXPECT_EQ(file.last_str(), "DEFGHIJKLM");
    EXPECT_EQ(in.get_word(), 0x7F7F);
    EXPECT_EQ(in.get_str(), "XY");
    in.skip(4);
    EXPECT_EQ(in.get_byte(), 'O');
    EXPECT_EQ(file.last_str(), "XY");
}

TEST_F(Records, ReadFailureNamesTheFile) {
    InputFile file;
    file.attach(opened("/dev/null", "wb"), "CUR.QOB");
    RecIn in(file, "BAD");
    const FormatError fault = fault_of([&] { in.get_tag(); });
    EXPECT_EQ(fault.kind, Kind::kReadFailed);
    EXPECT_EQ(fault.rule, Rule::kNone);
    EXPECT_EQ(fault.name(), "CUR.QOB");
}

// ---- writing fields ----

TEST_F(Records, FieldsAreWrittenBigEndian) {
    std::FILE* fp = scratch();
    RecOut out(fp);
    out.put_byte(0x1AB);
    out.put_word(0x1234);
    out.put_tri(0x123456);
    out.put_long(1);
    out.put_long(-2);
    out.put_str("");
    out.put_str("AB");
    const ByteVec expected{0xAB, 0x12, 0x34, 0x12, 0x34, 0x56, 0, 0, 0, 1,
                           0xFF, 0xFF, 0xFF, 0xFE, 0, 'A', 'B', 0};
    EXPECT_EQ(contents(fp), ByteVec{}) << "written before the block is full";
    out.flush();
    EXPECT_EQ(contents(fp), expected) << hex(contents(fp));
    EXPECT_EQ(out.count(), static_cast<int64_t>(expected.size()));
}

TEST_F(Records, WriterWithoutStreamOnlyCounts) {
    RecOut out;
    out.put_long(7);
    out.put_str("ABC");
    EXPECT_EQ(out.count(), 8);
}

TEST_F(Records, WriteFailureShowsWhenTheBlockIsWritten) {
    std::FILE* read_only = opened("/dev/null", "rb");
    RecOut small(read_only);
    small.put_byte(1);
    EXPECT_EQ(fault_of([&] { small.flush(); }).kind, Kind::kWriteFailed);
    RecOut large(read_only);
    const ByteVec block(1 << 17, 0x55);
    EXPECT_EQ(fault_of([&] { large.put_block(block.data(), block.size()); }).kind, Kind::kWriteFailed);
}

TEST_F(Records, SmallWritesAndLargeSpansKeepTheirOrder) {
    // A writer of 4 KiB blocks: large spans go out in several writes of
    // their own, after what was gathered before them.
    std::FILE* fp = scratch();
    RecOut out(fp, 4096);
    ByteVec expected;
    for (std::size_t size : {std::size_t{3}, std::size_t{70000}, std::size_t{5000}, std::size_t{65536}, std::size_t{1}}) {
        ByteVec bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(expected.size() + i * 13);
        out.put_block(bytes.data(), bytes.size());
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    out.flush();
    EXPECT_TRUE(contents(fp) == expected);
    EXPECT_EQ(out.count(), static_cast<int64_t>(expected.size()));
}

TEST_F(Records, MovedWriterGoesOnWhereItStoodAndTheOneMovedFromLetsGo) {
    // A writer handed from a command to the commit keeps its stream, what it
    // holds, its count and its limit; the one it came from writes nothing more.
    std::FILE* fp = scratch();
    RecOut from(fp);
    from.limit(6, "BIG.QOB");
    from.put_word(0x0102);
    RecOut to(std::move(from));
    from.flush_and_detach();
    to.put_word(0x0304);
    EXPECT_EQ(to.count(), 4);
    to.flush();
    EXPECT_EQ(contents(fp), (ByteVec{1, 2, 3, 4})) << hex(contents(fp));
    expect_invalid(fault_of([&] { to.put_tri(0); }), "BIG.QOB", Rule::kTooLarge);
}

TEST_F(Records, WriterRefusesWhatPassesItsLimit) {
    RecOut out;
    out.limit(10, "BIG.QOB");
    out.put_block("12345678", 8);
    out.make_room(2);
    expect_invalid(fault_of([&] { out.make_room(3); }), "BIG.QOB", Rule::kTooLarge);
    out.put_word(0x1234);
    expect_invalid(fault_of([&] { out.put_byte(0); }), "BIG.QOB", Rule::kTooLarge);
}

// ---- the name store ----

TEST(NameStore, NamesReadBackAcrossChunksAfterCopyAndClear) {
    // Names of up to 255 bytes, several chunks of them: each must read
    // back whole wherever its chunk ended, in a copy too, and after the
    // store was cleared and filled again.
    auto name_of = [](int i, char fill) {
        return std::to_string(i) + std::string(static_cast<std::size_t>(i * 37 % 250), fill);
    };
    NameStore store;
    for (char fill : {'a', 'b'}) {
        std::vector<NameRef> refs;
        for (int i = 0; i < 2000; ++i) refs.push_back(store.keep(name_of(i, fill)));
        const NameRef empty = store.keep("");
        const NameStore copy = store;
        for (int i = 0; i < 2000; ++i) {
            ASSERT_EQ(store.name(refs[i]), name_of(i, fill)) << i;
            ASSERT_EQ(copy.name(refs[i]), name_of(i, fill)) << i;
        }
        EXPECT_EQ(store.name(empty), "");
        store.clear();
    }
}

// ---- runs of bytes ----

ByteVec counting(std::size_t n) {
    ByteVec data(n);
    for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<unsigned char>(i * 7);
    return data;
}

TEST_F(Records, ExpectedSizeOnlyShortensTheFirstRead) {
    // A file that is longer or shorter than its status said is read whole
    // all the same: the size only spares the read that finds the end.
    const ByteVec data = counting(100);
    for (int64_t size : {int64_t{0}, int64_t{3}, int64_t{100}, int64_t{500}}) {
        SCOPED_TRACE(size);
        InputFile& file = input(data);
        file.expect_size(size);
        RecIn in(file, "BAD");
        for (std::size_t i = 0; i < data.size(); ++i) ASSERT_EQ(in.get_byte(), data[i]) << i;
        EXPECT_EQ(in.get_tag(), -1);
    }
}

TEST_F(Records, CopyBytesCopiesExactlyTheCount) {
    // Short runs go byte by byte, long ones in blocks of 64 KiB: both sizes.
    for (std::size_t n : {std::size_t{8}, std::size_t{200000}}) {
        SCOPED_TRACE(n);
        const ByteVec data = counting(n + 3);
        RecIn in(input(data), "BAD");
        std::FILE* fp = scratch();
        RecOut out(fp);
        in.copy_bytes(static_cast<int64_t>(n), out);
        out.flush();
        EXPECT_EQ(contents(fp), prefix(data, n));
        EXPECT_EQ(in.get_byte(), data[n]);
    }
}

TEST_F(Records, CopyBytesPastTheEndStopsWithoutPadding) {
    for (std::size_t want : {std::size_t{8}, std::size_t{100}, std::size_t{70000}}) {
        SCOPED_TRACE(want);
        const ByteVec data = counting(want - 3);
        RecIn in(input(data), "SHORT");
        std::FILE* fp = scratch();
        RecOut out(fp);
        expect_invalid(fault_of([&] { in.copy_bytes(static_cast<int64_t>(want), out); }), "SHORT");
        out.flush();
        // Whatever was carried before the end came from the input: no 0xFF fill.
        const ByteVec written = contents(fp);
        ASSERT_LE(written.size(), data.size());
        EXPECT_EQ(written, prefix(data, written.size()));
    }
}

TEST_F(Records, SkipStepsOverExistingBytesOnly) {
    const ByteVec data = counting(300);
    RecIn in(input(data), "SKIP");
    in.skip(5);
    EXPECT_EQ(in.get_byte(), data[5]);
    in.skip(200);
    EXPECT_EQ(in.get_byte(), data[206]);
    in.skip(0);
    EXPECT_EQ(in.tell(), 207);
    expect_invalid(fault_of([&] { in.skip(-1); }), "SKIP");
    expect_invalid(fault_of([&] { in.skip(94); }), "SKIP");  // 93 bytes are left

    RecIn exact(input(data), "SKIP");
    exact.skip(300);
    EXPECT_EQ(exact.get_tag(), -1);

    RecIn small(input({1, 2}), "SKIP");
    expect_invalid(fault_of([&] { small.skip(3); }), "SKIP");

    // A step past the block is a seek, one beyond the end fails all the same.
    RecIn far(input(counting(200000)), "SKIP");
    far.skip(150000);
    EXPECT_EQ(far.get_byte(), counting(200000)[150000]);
    expect_invalid(fault_of([&] { far.skip(50000); }), "SKIP");
}

// What a copy sees is every byte read, skipped ones included, from the
// point it starts; the bytes before it are not copied.
TEST_F(Records, CopyWhileReading) {
    const ByteVec data = cat(counting(100), qob::Bytes().str("NAME").bytes());
    const ByteVec long_run = counting(150000);
    InputFile& file = input(cat(data, long_run));
    RecIn in(file, "BAD");
    in.skip(10);
    std::FILE* fp = scratch();
    RecOut out(fp);
    {
        TeeScope copy(file, out);
        in.get_word();
        in.skip(88);
        EXPECT_EQ(in.get_str(), "NAME");
        EXPECT_EQ(in.peek(), long_run[0]);
        in.skip(static_cast<int64_t>(long_run.size()));
        copy.end();
    }
    out.flush();
    EXPECT_EQ(contents(fp), cat(ByteVec(data.begin() + 10, data.end()), long_run));
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
    InputFile* in = nullptr;
    const ByteVec copied = copy_module(cat(module, next), &in);
    EXPECT_EQ(copied, module) << hex(copied);
    EXPECT_EQ(in->position(), static_cast<int64_t>(module.size()));
    EXPECT_EQ(RecIn(*in, "BAD").get_byte(), next.front());
}

INSTANTIATE_TEST_SUITE_P(EveryRecordKind, CopyRomod, ::testing::ValuesIn(record_cases()),
                         [](const auto& info) { return info.param.name; });

TEST_F(Records, CopyRomodTracesEveryTag) {
    EventTrace trace;
    copy_module(Module().f0().f6({"E"}).e6(1).end().bytes(), nullptr, &trace);
    EXPECT_EQ(trace.events, "record F0\nrecord F6\nrecord E6\n");
}

TEST_F(Records, F2WithoutItsF0SubRecordIsS0001) {
    for (int sub : {0xF1, 0xF2, 0x00}) {
        SCOPED_TRACE(sub);
        const ByteVec module =
            Module().f0().raw({0xF2, static_cast<unsigned char>(sub), 'A', 0, 0, 0xF2, 0}).end().bytes();
        expect_invalid(fault_of([&] { copy_module(module); }), "S0001", Rule::kF2SubRecord);
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
        expect_invalid(fault_of([&] { copy_module(module); }), "S0002", Rule::kF7FirstItem);
    }
}

TEST_F(Records, BadF7FirstItemIsTracedBeforeTheFault) {
    EventTrace trace;
    const F7Entry entry{1, 1, 1, std::nullopt, qob::item_f3("X"), {}};
    expect_invalid(fault_of([&] { copy_module(Module().f0().f7(1, {entry}).end().bytes(), nullptr, &trace); }),
                   "S0002", Rule::kF7FirstItem);
    EXPECT_EQ(trace.events, "record F0\nrecord F7\nbad F3\n");
}

TEST_F(Records, ByteThatIsNoTagIsS0004) {
    for (unsigned char tag : {0x00, 0x81, 0xDF, 0xE7, 0xEF, 0xFB, 0xFE}) {
        SCOPED_TRACE(static_cast<int>(tag));
        const ByteVec module = Module().f0().raw({tag}).end().bytes();
        expect_invalid(fault_of([&] { copy_module(module); }), "S0004");
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
        expect_invalid(fault_of([&] { copy_module(prefix(module, n)); }), "S0004");
    }
}

TEST_F(Records, LargeBlockCutOffIsS0004) {
    const ByteVec module = Module().f0().f8(1, {counting(70000)}).end().bytes();
    for (std::size_t n : {std::size_t{20}, std::size_t{65536}, std::size_t{66000}, module.size() - 6}) {
        SCOPED_TRACE(n);
        expect_invalid(fault_of([&] { copy_module(prefix(module, n)); }), "S0004");
    }
}

// Once the interrupt flag is set, reading ends at the next tag or block.
TEST_F(Records, InterruptEndsReadingAtTheNextTagOrBlock) {
    volatile std::sig_atomic_t flag = 1;
    InputFile& module = input(Module().f0().end().bytes(), "M.QOB", &flag);
    EXPECT_EQ(fault_of([&] { copy_romod(module, nullptr); }).kind, Kind::kInterrupted);
    RecIn in(input(counting(100000), "M.QOB", &flag), "BAD");
    RecOut out;
    EXPECT_EQ(fault_of([&] { in.copy_bytes(100000, out); }).kind, Kind::kInterrupted);
    EXPECT_LT(out.count(), 100000);
}

// ---- trace output ----

TEST_F(Records, MoveCursorWritesTheAnsiPositionOneBasedOnlyWhenTracing) {
    std::FILE* fp = scratch();
    TraceOut(fp, false).move_cursor(3, 3);
    TraceOut(fp, false).print("%d", 7);
    TraceOut trace(fp, true);
    trace.move_cursor(1, 24);
    trace.move_cursor(0, 0);
    trace.print("<%s>", "k");
    const ByteVec text = contents(fp);
    EXPECT_EQ(std::string(text.begin(), text.end()), "\x1b[25;2H\x1b[1;1H<k>");
}

}  // namespace
