// Trace data formats: field split, the four decoders and their encoders, the block walk of a
// received packet, and the format answers.
#include "protocol/TraceFormats.h"

#include <gtest/gtest.h>

#include <random>

using namespace std::string_literals;

namespace {
std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes)
        s.push_back(static_cast<char>(b));
    return EscapeText(s);
}

TRecordList Records(std::initializer_list<std::string> lines) {
    TRecordList list;
    for (const auto& line : lines)
        list.Add(line);
    return list;
}

std::string WalkError(const TRecordList& records) {
    TEyeRec right, left;
    try {
        DecodeTraceBlocks(records, right, left);
    } catch (const EOMAParseException& e) {
        return e.what();
    }
    return "(accepted)";
}
} // namespace

TEST(TraceFormats, SplitFields) {
    struct Case {
        std::string text;
        std::vector<std::string> fields;
    };
    const Case cases[] = {
        {"1;400;E;B;F", {"1", "400", "E", "B", "F"}},
        {"2479 ; 2472", {"2479", "2472"}},
        {"2479;;2472", {"2479", "", "2472"}},
        {"2479,2472;1", {"2479", "2472", "1"}},
        {"a b\tc", {"a", "b", "c"}},
        {"a;", {"a", ""}},
        {"a ;", {"a", ""}},
        {"a; ", {"a"}}, // the separator is not at the very end
        {";a", {"", "a"}},
        {"", {}},
        {" \x01 ", {}},
        {"\"x;y\";z", {"x;y", "z"}},
        {"\"a\"\"b\"", {"a\"b"}},
        {"\"\";1", {"", "1"}},
        {"\"open", {"open"}},
        {"\"ab\"cd", {"ab", "cd"}},
        {"\xE9t\xE9;x", {"\xE9t\xE9", "x"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitFields(c.text), c.fields) << c.text;
}

TEST(TraceFormats, DecodersOnFixedExamples) {
    EXPECT_EQ(DecodeAsciiValues("2479;2472") + DecodeAsciiValues("950"), "247924720950");
    EXPECT_EQ(DecodeAsciiValues("2479;;2472"), "247900002472");
    EXPECT_EQ(DecodeAsciiValues("12345;1"), "123450001");
    // The edges of the one-pass path for plain digit fields and of the general split behind it.
    const struct {
        const char* value;
        const char* text;
    } ascii[] = {
        {"0", "0000"},         {"9999,7;05", "999900070005"}, {"1;", "00010000"},
        {";1", "00000001"},    {"1;2;", "000100020000"},      {"0123;1", "01230001"},
        {" 12;3", "00120003"}, {"1a;2", "001a0002"},          {"", ""},
    };
    for (const auto& c : ascii)
        EXPECT_EQ(DecodeAsciiValues(c.value), c.text) << c.value;

    EXPECT_EQ(DecodeBinaryAbsolute(Bytes({0xAF, 0x09, 0xA8, 0x09})), "24792472");
    EXPECT_EQ(DecodeBinaryAbsolute(Bytes({0xAF, 0x09, 0xA8})), "2479"); // odd last byte ignored
    EXPECT_EQ(DecodeBinaryAbsolute(Bytes({0x1B, 0x00, 0xFF, 0xFF})), "002765535");

    EXPECT_EQ(DecodeBinaryDifferential(Bytes({0xAF, 0x09, 0xF9, 0x80, 0xD0, 0x07, 0x05})), "2479247220002005");
    EXPECT_EQ(DecodeBinaryDifferential(Bytes({0x05, 0x00, 0xEF})), "0005-012"); // 5 - 17 = -12
    EXPECT_EQ(DecodeBinaryDifferential(Bytes({0x00, 0x00, 0xF9})), "0000-007");
    EXPECT_EQ(DecodeBinaryDifferential(Bytes({0x10, 0x00, 0x80})), "00160000"); // missing bytes read 0
    EXPECT_EQ(DecodeBinaryDifferential(""), "0000");

    EXPECT_EQ(DecodePackedBinary(Bytes({0xAF, 0x09, 0x00, 0x80, 0xF9, 0x80, 0x10}), 4), "2479247224662460");
    EXPECT_EQ(DecodePackedBinary(Bytes({0xAF, 0x09}), 0), "");
    EXPECT_EQ(DecodePackedBinary("", 3), "000000000000");
    EXPECT_EQ(DecodePackedBinary("", kMaxPackedPoints + 1), "");
    // 16-bit arithmetic wraps: 0 then an 8-bit difference of -1 gives 65535.
    EXPECT_EQ(DecodePackedBinary(Bytes({0x00, 0x00, 0x00, 0x80, 0xFF}), 2), "000065535");
}

TEST(TraceFormats, WidthCheckNamesTheFirstValueWithoutAFourCharacterForm) {
    TWidthCheck c1, c2, c3, c4, c5, c6;
    DecodeAsciiValues("2479;02479;123456", &c1);
    DecodeBinaryAbsolute(Bytes({0x0F, 0x27, 0x10, 0x27}), &c2);                                         // 9999, 10000
    DecodeBinaryDifferential(Bytes({0x00, 0x00, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81}), &c3); // 0, -127, ...
    DecodeBinaryDifferential(Bytes({0xE7, 0x03, 0x80, 0x00, 0x00, 0x81}), &c4);                         // 999, 0, -127
    DecodePackedBinary(Bytes({0x10, 0x27}), 1, &c5);
    DecodeBinaryAbsolute(Bytes({0x0F, 0x27}), &c6);
    EXPECT_TRUE(c1.Overflow);
    EXPECT_EQ(c1.FirstValue, "02479");
    EXPECT_EQ(c2.FirstValue, "10000");
    EXPECT_EQ(c3.FirstValue, "-1016");
    EXPECT_FALSE(c4.Overflow);
    EXPECT_EQ(c5.FirstValue, "10000");
    EXPECT_FALSE(c6.Overflow);
}

TEST(TraceFormats, EncodersRoundTripThroughTheDecoders) {
    std::mt19937 rng(7);
    std::vector<std::vector<int>> shapes;
    // A smooth frame-like outline (4-bit mode), one with jumps (8- and 16-bit modes), random
    // radii, and single points.
    for (int n : {1, 2, 400, 4096}) {
        std::vector<int> smooth, jumpy, random;
        for (int i = 0; i < n; ++i) {
            smooth.push_back(2500 + static_cast<int>(300 * std::sin(i * 6.283185307 / n)));
            jumpy.push_back((i % 17 == 0) ? 9999 : (i % 5 == 0 ? 0 : 2000 + (i % 200)));
            random.push_back(static_cast<int>(rng() % 10000));
        }
        shapes.push_back(smooth);
        shapes.push_back(jumpy);
        shapes.push_back(random);
    }
    for (const auto& values : shapes) {
        const std::string expected = RadiiText(values);
        std::vector<uint16_t> words(values.begin(), values.end());

        std::string ascii;
        for (const std::string& record : EncodeAsciiRecords(values, "R", 13)) {
            ASSERT_TRUE(record.starts_with("R="));
            AppendAsciiValues(ascii, std::string_view(record).substr(2));
        }
        EXPECT_EQ(ascii, expected);
        EXPECT_EQ(DecodeBinaryAbsolute(EncodeBinaryAbsolute(words)), expected);
        EXPECT_EQ(DecodeBinaryDifferential(EncodeBinaryDifferential(words)), expected);
        EXPECT_EQ(DecodePackedBinary(EncodePackedBinary(words), words.size()), expected);
    }
    // Full 16-bit range for the byte formats (format 4 cannot start a point at 0x8000 in 16-bit mode).
    std::vector<uint16_t> wide;
    std::string expectedWide;
    for (int i = 0; i < 3000; ++i) {
        uint16_t v = static_cast<uint16_t>(rng());
        if (v == 0x8000)
            v = 0x8001;
        wide.push_back(v);
        expectedWide += (v < 10000 ? std::string(4 - std::to_string(v).size(), '0') : "") + std::to_string(v);
    }
    EXPECT_EQ(DecodeBinaryAbsolute(EncodeBinaryAbsolute(wide)), expectedWide);
    EXPECT_EQ(DecodeBinaryDifferential(EncodeBinaryDifferential(wide)), expectedWide);
    EXPECT_EQ(DecodePackedBinary(EncodePackedBinary(wide), wide.size()), expectedWide);
    // A smooth outline packs into far fewer bytes than the absolute format.
    std::vector<uint16_t> smooth(shapes[3 * 3].begin(), shapes[3 * 3].end());
    EXPECT_LT(EncodePackedBinary(smooth).size() * 3, EncodeBinaryAbsolute(smooth).size());
}

TEST(TraceFormats, BlockWalkAssignsEyesAndFollowsTheRecordRules) {
    TEyeRec right, left;
    DecodeTraceBlocks(
        Records({"REQ=TRC", "TRCFMT=1;3;E;R;F", "R=2479;2472", "R=950", "ZFMT=1;2;E;R", "Z=5;-3", "TRCFMT=2;2;E;L;F",
                 "R=" + Bytes({0xAF, 0x09, 0xA8, 0x09}), "TRCFMT=1;1;E;R", "R=1", "X=after"}),
        right, left);
    EXPECT_EQ(right.Radii, "2479247209500001"); // a second format-1 block appends
    EXPECT_EQ(right.ZData, "000500-3");
    EXPECT_EQ(left.Radii, "24792472");
    EXPECT_EQ(left.ZData, "");

    // 'B' and anything but exactly 'R' go to the left eye; formats 2 to 4 replace what was there.
    TEyeRec r2, l2;
    DecodeTraceBlocks(Records({"TRCFMT=1;1;E;B", "R=1", "TRCFMT=3;1;E;r", "R=" + Bytes({0x10, 0x00})}), r2, l2);
    EXPECT_EQ(r2.Radii, "");
    EXPECT_EQ(l2.Radii, "0016");

    // The record after a format-2 header is passed over even when it is not R=, so a header
    // there is never seen; an unknown format decodes nothing and the walk goes on at once.
    TEyeRec r3, l3;
    DecodeTraceBlocks(Records({"TRCFMT=2;1;E;R", "TRCFMT=1;1;E;L", "R=7", "TRCFMT=9;1;E;R", "TRCFMT=1;1;E;R", "R=8"}),
                      r3, l3);
    EXPECT_EQ(r3.Radii, "0008");
    EXPECT_EQ(l3.Radii, "");

    TEyeRec r4, l4;
    DecodeTraceBlocks(Records({"TRCFMT=4;4;E;R", "R=" + Bytes({0xAF, 0x09, 0x00, 0x80, 0xF9, 0x80, 0x10})}), r4, l4);
    EXPECT_EQ(r4.Radii, "2479247224662460");
}

TEST(TraceFormats, BlockWalkRefusesBadHeadersAndWideRadii) {
    EXPECT_EQ(WalkError(Records({"TRCFMT=1;400;E", "R=1"})), "Bad TRCFMT header: 1;400;E");
    EXPECT_EQ(WalkError(Records({"ZFMT"})), "Bad ZFMT header: ");
    EXPECT_EQ(WalkError(Records({"TRCFMT=4;abc;E;R", "R=1"})), "Bad point count in TRCFMT header: abc");
    EXPECT_EQ(WalkError(Records({"TRCFMT=4;5000;E;R", "R=1"})),
              "Point count out of range in TRCFMT header: 5000 (0 to 4096)");
    EXPECT_EQ(WalkError(Records({"TRCFMT=4;-1;E;R", "R=1"})),
              "Point count out of range in TRCFMT header: -1 (0 to 4096)");
    EXPECT_EQ(WalkError(Records({"TRCFMT=4;4096;E;R", "R="})), "(accepted)");
    EXPECT_EQ(WalkError(Records({"TRCFMT=2;2;E;L", "R=" + Bytes({0x10, 0x27})})),
              "TRCFMT block refused: value 10000 has no four-character form");
    EXPECT_EQ(WalkError(Records({"TRCFMT=1;2;E;R", "R=2500;10000"})),
              "TRCFMT block refused: value 10000 has no four-character form");
    EXPECT_EQ(WalkError(Records(
                  {"TRCFMT=3;2;E;R", "R=" + Bytes({0x00, 0x00, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81})})),
              "TRCFMT block refused: value -1016 has no four-character form");
    // Z texts keep their wider values.
    EXPECT_EQ(WalkError(Records({"ZFMT=2;2;E;L", "Z=" + Bytes({0x10, 0x27})})), "(accepted)");
    // Other records are never headers, whatever their case.
    EXPECT_EQ(WalkError(Records({"trcfmt=1", "TRCFMTX=1"})), "(accepted)");
}

TEST(TraceFormats, FormatAnswerPicksTheBestOfferedHeader) {
    struct Case {
        std::vector<std::string> offers;
        uint16_t max;
        std::string answer;
    };
    const Case cases[] = {
        {{"1;400;E;B;F", "4;512;E;B;F"}, 512, "4;512;E;B"},
        {{"4;1000;E;B;F"}, 512, "0"},
        {{"4;1000;E;B;F"}, 4096, "4;1000;E;B"},
        {{"2;400;U;B;F"}, 512, "0"},
        {{"1;200;E;B;F", "1;400;U;B;F"}, 512, "1;400;U;B"},
        {{"1;200;E;B;F", "1;400;U;R;F"}, 512, "1;200;E;B"}, // more points, but not both eyes
        {{"3;400;E;B", "2;400;E;B"}, 512, "3;400;E;B"},     // a lower format never replaces
        {{"1;x;E;B", "1;300;E"}, 512, "0"},
        {{}, 512, "0"},
    };
    for (const Case& c : cases) {
        TRecordList received;
        received.Add("REQ=INI");
        for (const auto& offer : c.offers)
            received.Add("TRCFMT=" + offer);
        received.Add("ZFMT=1;100;E;B");
        EXPECT_EQ(FormatAnswer(received, "TRCFMT", c.max), c.answer) << c.answer;
    }
    TOMAMachine m;
    m.ParsePacket("\x1C"
                  "REQ=INI\r\nTRCFMT=1;400;E;B;F\r\nZFMT=1;400;E;B;F\r\n\x1E\x1D");
    EXPECT_EQ(TraceFormatAnswer(m), "1;400;E;B");
    EXPECT_EQ(ZFormatAnswer(m), "1;400;E;B");
}
