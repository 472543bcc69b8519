// Trace data formats: field split, the four decoders and their encoders, the block walk of a
// received packet, and the format answers.
#include "protocol/TraceFormats.h"

#include "TraceReference.h"

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

// Bytes as they stand in a record, for texts whose escapes are written out by hand.
std::string Raw(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes)
        s.push_back(static_cast<char>(b));
    return s;
}

// A byte format's decoder and its reference, each with the first value it finds too wide.
struct TDecoded {
    std::string text;
    std::string firstWide;
};

TDecoded DecodeFast(int format, std::string_view escaped, std::size_t count) {
    TWidthCheck check;
    TDecoded d;
    if (format == 2)
        d.text = DecodeBinaryAbsolute(escaped, &check);
    else if (format == 3)
        d.text = DecodeBinaryDifferential(escaped, &check);
    else
        d.text = DecodePackedBinary(escaped, count, &check);
    d.firstWide = check.FirstValue;
    return d;
}

TDecoded DecodeReference(int format, std::string_view escaped, std::size_t count) {
    using namespace trace_reference;
    if (format == 2) {
        const auto values = Format2Values(escaped);
        return {UnsignedText(values), FirstWideValue(values, 0)};
    }
    if (format == 3) {
        const auto values = Format3Values(escaped);
        return {SignedText(values), FirstWideValue(values, -999)};
    }
    const auto values = Format4Values(escaped, count);
    return {UnsignedText(values), FirstWideValue(values, 0)};
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

// Fixed cases for the byte formats, each decoded by the decoder and by the reference: every mode
// switch of the packed format in both directions and at odd unit positions, and escaped bytes
// where a record begins and ends.
TEST(TraceFormats, ByteFormatsAndTheirReferenceOnFixedCases) {
    struct Case {
        const char* what;
        int format;
        std::string escaped;
        std::size_t count;
        std::string text;
    };
    const Case cases[] = {
        // 2479 in 16-bit; to 8-bit; -7; to 4-bit; the difference -7 + 1, then unchanged.
        {"16 to 8 to 4", 4, Bytes({0xAF, 0x09, 0x00, 0x80, 0xF9, 0x80, 0x10}), 4, "2479247224662460"},
        // 1000; to 8-bit; +5; to 4-bit; d 5+1; back to 8-bit; -3; to 16-bit; 2000.
        {"4 to 8 to 16", 4, Bytes({0xE8, 0x03, 0x00, 0x80, 0x05, 0x80, 0x18, 0xFD, 0x81, 0xD0, 0x07}), 5,
         "10001005101110082000"},
        // Two 16-bit points set the difference (10) that 4-bit mode then changes by 0, +1, -1.
        {"16-bit difference carried into 4-bit", 4, Bytes({0x64, 0x00, 0x6E, 0x00, 0x00, 0x80, 0x80, 0x01, 0xF0}), 5,
         "01000110012001310141"},
        // 4-bit +0, +0, then to 8-bit at an odd unit: the 8-bit field -2 spans two bytes.
        {"8-bit field across bytes", 4, Bytes({0xF4, 0x01, 0x00, 0x80, 0x02, 0x80, 0x00, 0x8F, 0xE8, 0x00}), 6,
         "050005020504050605040502"},
        // 4-bit, to 8-bit at an odd unit, at once to 16-bit: the 16-bit field 1234 spans three bytes.
        {"16-bit field across bytes", 4, Bytes({0x2C, 0x01, 0x00, 0x80, 0x01, 0x80, 0x00, 0x88, 0x1D, 0x20, 0x40}), 5,
         "03000301030203031234"},
        // The first point straight after the switch to 4-bit: the difference is the first value.
        {"4-bit after the first point", 4, Bytes({0xF4, 0x01, 0x00, 0x80, 0x80, 0x00}), 2, "05001000"},
        {"4-bit wraps below zero", 4, Bytes({0x01, 0x00, 0x00, 0x80, 0xFE, 0x80, 0x0F}), 4, "0001655356553365530"},
        // 16 to 8 to 16, 16; 16 to 8 to 4 to 8, +112 from a unit past the end.
        {"every switch, the last field past the end", 4, Bytes({0x00, 0x80, 0x81, 0x10, 0x00, 0x00, 0x80, 0x80, 0x87}),
         2, "00160128"},
        {"escaped first and last bytes", 4, Raw({0x1B, 0x8A, 0x1B, 0x8D, 0x00, 0x80, 0x1B, 0x9B}), 2, "33383365"},
        {"ESC ending the record", 4, Raw({0xE8, 0x03, 0x1B}), 2, "10000000"},
        {"16-bit value 0x8000 only switches", 4, Bytes({0x00, 0x80, 0x00, 0x80}), 1, "0000"},

        {"escaped first byte", 2, Raw({0x1B, 0x8D, 0x00}), 0, "0013"},
        {"escaped last byte", 2, Raw({0x00, 0x1B, 0x9B}), 0, "6912"},
        {"escaped odd last byte ignored", 2, Raw({0xAF, 0x09, 0x1B, 0x8D}), 0, "2479"},
        {"ESC ending the record", 2, Raw({0xAF, 0x1B}), 0, "0175"},

        {"escaped first value", 3, Raw({0x1B, 0x86, 0x1B, 0x9B}), 0, "6918"},
        {"escaped last difference", 3, Raw({0xE8, 0x03, 0x1B, 0x9B}), 0, "10001027"},
        {"escaped absolute value at the end", 3, Raw({0xE8, 0x03, 0x80, 0x1B, 0x8D, 0x1B, 0x9B}), 0, "10006925"},
        {"ESC ending the record", 3, Raw({0xE8, 0x03, 0x1B}), 0, "10001000"},
        {"ESC after 0x80 ending the record", 3, Raw({0xE8, 0x03, 0x80, 0x1B}), 0, "10000000"},
        {"ESC 0x80 is a zero difference", 3, Raw({0xE8, 0x03, 0x1B, 0x80, 0x05, 0x00}), 0, "1000100010051005"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("format ") + std::to_string(c.format) + ": " + c.what);
        EXPECT_EQ(DecodeReference(c.format, c.escaped, c.count).text, c.text);
        EXPECT_EQ(DecodeFast(c.format, c.escaped, c.count).text, c.text);
    }
}

// The decoders against their reference on many texts built from the bytes that matter: the mode
// switches, the absolute-value mark, ESC and escaped bytes, and values near the width limits.
TEST(TraceFormats, ByteFormatsDecodeAsTheirReference) {
    const int interesting[] = {0x00, 0x01, 0x07, 0x08, 0x0F, 0x10, 0x1B, 0x27, 0x7F,
                               0x80, 0x81, 0x88, 0x8D, 0x9B, 0xF0, 0xF8, 0xFE, 0xFF};
    std::mt19937 rng(21);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const std::size_t length = rng() % 48;
        for (std::size_t i = 0; i < length; ++i)
            text.push_back(
                static_cast<char>(rng() % 3 == 0 ? rng() % 256 : interesting[rng() % std::size(interesting)]));
        const std::size_t count = rng() % 40;
        for (int format : {2, 3, 4}) {
            const TDecoded fast = DecodeFast(format, text, count);
            const TDecoded reference = DecodeReference(format, text, count);
            ASSERT_EQ(fast.text, reference.text) << "format " << format << ", round " << round;
            ASSERT_EQ(fast.firstWide, reference.firstWide) << "format " << format << ", round " << round;
        }
    }
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
