// The module walker's RecordVisitor: a walk that shows its fields reads
// exactly the bytes that a walk without one steps over, and shows each of
// them once, at its offset, so that vornadump shows every byte of a record.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "format/formats.h"
#include "format/module.h"
#include "format/stdfnc.h"
#include "format/visitor.h"
#include "support/qob_writer.h"

using qob::ByteVec;
using qob::Module;

namespace {

// The bytes each shown field takes, and the groups as a nesting of names.
class Recorder : public RecordVisitor {
public:
    std::map<int64_t, int64_t> spans;  // offset -> bytes
    std::string shape;

    void open(const char* what, int64_t) override { shape += std::string(what) + "{"; }
    void close() override { shape += "} "; }
    void value(const char* name, int64_t at, uint32_t, int width) override { add(name, at, width); }
    void text(const char* name, int64_t at, std::string_view s) override { add(name, at, static_cast<int64_t>(s.size()) + 1); }
    void data(const char* name, int64_t at, std::string_view b) override { add(name, at, static_cast<int64_t>(b.size())); }
    void run(const char* name, int64_t at, int64_t length) override { add(name, at, length); }

private:
    void add(const char* name, int64_t at, int64_t size) {
        EXPECT_TRUE(spans.emplace(at, size).second) << name << " shown twice at " << at;
        shape += std::string(name) + " ";
    }
};

struct Input {
    explicit Input(const ByteVec& bytes) : fp(std::tmpfile()) {
        std::fwrite(bytes.data(), 1, bytes.size(), fp);
        std::rewind(fp);
        file.attach(fp, "M.QOB");
    }
    ~Input() { std::fclose(fp); }
    std::FILE* fp;
    InputFile file;
};

const RomodFaults kFaults{"F2", "F7"};
const qob::F7Entry kF7{0x10, 1, 2, 0x81, qob::item_f1("T"), {qob::item_byte(0xF4), qob::item_f3("S")}};

ByteVec every_record() {
    return Module().f0().f1("T").f2("A", {"B"}, {"C", "D"}).f3(1, "SEG", 1, 2, 3, 4).f4(1, {{1, "P"}})
        .f5({{2, "E"}}).f6({"X"}).f7(1, {kF7, {0, 1, 9, std::nullopt, qob::item_f2({1, 2, 3, 4}), {}}})
        .f8(1, {{1, 2, 3}, {4}}).e0({{1, 2, "BIT"}}).f9(1, {{1, "N"}}).fa({{1, "N"}}).e1({{1, 2, "N"}})
        .e2(1, "T", {1, 2, 3, 4, 5, 6, 7, 8}).e3(1, {{1, 2}}).e4(1, {{"G", {{1, 2}, {3, 4}}}}).e5("T").e6(1)
        .end().bytes();
}

bool is_symbol_record(int tag) { return tag == fmt::kF3 || tag == fmt::kF4 || tag == fmt::kF5 || tag == fmt::kF6 || tag == fmt::kE0; }

}  // namespace

TEST(RecordVisitor, ShowsEveryByteOfARecordOnceAndReadsNoOtherByte) {
    const ByteVec bytes = every_record();
    Input shown_in(bytes), plain_in(bytes);
    RecIn shown(shown_in.file, "M.QOB"), plain(plain_in.file, "M.QOB");
    ModuleWalker with(shown, kFaults), without(plain, kFaults);
    int records = 0;
    for (int tag = shown.get_tag(); tag != fmt::kEnd; tag = shown.get_tag(), ++records) {
        ASSERT_EQ(plain.get_tag(), tag);
        const int64_t start = shown.tell();
        Recorder recorder;
        with.visit(&recorder);
        ASSERT_TRUE(with.record(tag));
        ASSERT_TRUE(without.record(tag));
        ASSERT_EQ(shown.tell(), plain.tell()) << "record " << std::hex << tag;
        if (is_symbol_record(tag)) continue;  // their fields go to the scan
        // The fields lie back to back; only the FF that ends an F7 entry is not shown.
        int64_t at = start;
        for (const auto& [offset, size] : recorder.spans) {
            if (offset == at + 1 && tag == fmt::kF7 && bytes[static_cast<std::size_t>(at)] == fmt::kEnd) ++at;
            EXPECT_EQ(offset, at) << "record " << std::hex << tag;
            at = offset + size;
        }
        if (at + 1 == shown.tell() && tag == fmt::kF7) ++at;
        EXPECT_EQ(at, shown.tell()) << "record " << std::hex << tag;
    }
    EXPECT_EQ(records, 18);
}

TEST(RecordVisitor, ShowsTheGroupsOfTheRecords) {
    const std::vector<std::pair<ByteVec, std::string>> cases = {
        {Module().f7(1, {kF7}).bytes(),
         "word entry{value byte1 byte2 prefix item{tag text } item{tag } item{tag text } } entry{value byte1 } "},
        {Module().f2("A", {"B"}, {}).bytes(), "F0{sub-tag text } F1{sub-tag name name } F2{sub-tag name } "},
        {Module().e4(1, {{"G", {{1, 2}}}}).bytes(), "word group{name word value word } group{name } "},
        {Module().e3(1, {{1, 2}}).bytes(), "word group{value byte } group{value byte } "},
        {Module().f8(1, {{1, 2}}).bytes(), "word length contents length "},
        {Module().e1({{1, 2, "N"}}).bytes(), "entry{number value name } entry{number value name } "},
    };
    for (const auto& [bytes, shape] : cases) {
        Input in_file(bytes);
        RecIn in(in_file.file, "M.QOB");
        ModuleWalker walker(in, kFaults);
        Recorder recorder;
        walker.visit(&recorder);
        ASSERT_TRUE(walker.record(in.get_tag()));
        EXPECT_EQ(recorder.shape, shape);
    }
}

TEST(RecordVisitor, BadFirstItemIsRefusedAsWithoutAVisitor) {
    const ByteVec bytes = Module().f7(0, {{1, 1, 1, std::nullopt, qob::item_f3("S"), {}}}).bytes();
    Input in_file(bytes);
    RecIn in(in_file.file, "M.QOB");
    ModuleWalker walker(in, kFaults);
    Recorder recorder;
    walker.visit(&recorder);
    try {
        walker.record(in.get_tag());
        FAIL() << "an F3 first item was taken";
    } catch (const FormatError& e) {
        EXPECT_EQ(e.rule, FormatError::Rule::kF7FirstItem);
        EXPECT_EQ(e.name(), "F7");
    }
}
