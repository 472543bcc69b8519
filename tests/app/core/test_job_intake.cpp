// Tests of job intake: packet text to record lines, the vendor pattern (also against the standard
// library's regular expressions over generated lines), the captured formats and the job number.
#include "app/core/JobIntake.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

namespace {
TRecordList ListOf(const std::vector<std::string>& lines) {
    TRecordList list;
    for (const std::string& line : lines)
        list.Add(line);
    return list;
}

// The vendor pattern as the standard library reads it.
bool RegexVendor(const TRecordList& lines, std::string& vendor) {
    static const std::regex pattern("^VEN\\s*=\\s*(\\S+)$", std::regex::ECMAScript | std::regex::multiline);
    std::string text;
    for (std::size_t i = 0; i < lines.Count(); ++i)
        text += (i ? "\r\n" : "") + lines.Line(i);
    std::smatch match;
    if (!std::regex_search(text, match, pattern))
        return false;
    vendor = match[1];
    return true;
}
} // namespace

TEST(PacketToRecords, KeepsPrintableCharactersAndSplitsAtLineEnds) {
    using namespace std::string_literals;
    const std::string packet = "\x1cREQ=TRC\r\n\r\n\nJOB=\x1b"
                               "12\x80\xff"
                               "3\n\rDEL=\x7f~\r\x1e"
                               "CRC=1A2B\x1d\0"s;
    EXPECT_EQ(PacketToRecords(packet).Lines(),
              (std::vector<std::string>{"REQ=TRC", "JOB=123", "DEL=\x7f~", "CRC=1A2B"}));
    EXPECT_TRUE(PacketToRecords("").Empty());
    EXPECT_TRUE(PacketToRecords("\x1c\x1d\r\n").Empty());
}

TEST(FindVendor, ThePatternOverTheJoinedLines) {
    const struct {
        std::vector<std::string> Lines;
        const char* Vendor; // nullptr: no match
    } cases[] = {
        {{"REQ=INI", "VEN=TAKUBO", "MODEL=T1"}, "TAKUBO"},
        {{"VEN = \tTAKUBO"}, "TAKUBO"},
        {{"VEN=TAK UBO"}, nullptr},
        {{"VEN=TAKUBO "}, nullptr},
        {{" VEN=TAKUBO"}, nullptr},
        {{"ven=TAKUBO"}, nullptr},
        {{"XVEN=TAKUBO"}, nullptr},
        {{"VEN="}, nullptr},
        {{"VEN=", "TAKUBO"}, "TAKUBO"}, // \s* runs over the line break
        {{"VEN", "=", "", "X"}, "X"},
        {{"VEN=", "A B"}, nullptr},
        {{"VEN=A B", "VEN=second"}, "second"},
        {{"VEN=first", "VEN=second"}, "first"},
        {{"VENDOR=X"}, nullptr},
        {{"VEN==X"}, "=X"},
        {{"A=1\rVEN=CR"}, "CR"},
        {{}, nullptr},
    };
    for (const auto& c : cases) {
        std::string vendor = "earlier";
        const bool found = FindVendor(ListOf(c.Lines), vendor);
        EXPECT_EQ(found, c.Vendor != nullptr) << testing::PrintToString(c.Lines);
        EXPECT_EQ(vendor, c.Vendor ? c.Vendor : "earlier") << testing::PrintToString(c.Lines);
    }
}

TEST(FindVendor, AgreesWithTheStandardRegularExpression) {
    // Pieces that make the pattern match, nearly match and fail in every place.
    const std::vector<std::string> pieces = {"VEN", "VEN", "=", "=", " ",  "\t", "\v",   "\f",   "TAKUBO", "X",
                                             "ven", "V",   "E", "N", "\r", "\n", "\x80", "\x7f", ";",      ""};
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::uniform_int_distribution<int> lineCount(0, 5);
    std::uniform_int_distribution<int> pieceCount(0, 6);
    int matches = 0;
    for (int round = 0; round < 20000; ++round) {
        TRecordList lines;
        for (int l = lineCount(random); l > 0; --l) {
            std::string line;
            for (int p = pieceCount(random); p > 0; --p)
                line += pieces[pick(random)];
            lines.Add(line);
        }
        std::string expected = "none";
        std::string actual = "none";
        const bool expectedFound = RegexVendor(lines, expected);
        ASSERT_EQ(FindVendor(lines, actual), expectedFound) << testing::PrintToString(lines.Lines());
        ASSERT_EQ(actual, expected) << testing::PrintToString(lines.Lines());
        matches += expectedFound;
    }
    EXPECT_GT(matches, 200); // the generator reaches the matching cases often enough
}

TEST(CaptureTraceFormats, LastQualifyingLineOfEachEye) {
    const struct {
        std::vector<std::string> Lines;
        std::string Rt;
        std::string Lt;
    } cases[] = {
        {{"TRCFMT=1;400;E;R;F", "R=0001", "TRCFMT=1;400;E;L;F"}, "1;400;E;R;F", "1;400;E;L;F"},
        {{"  TRCFMT=2;512;E;L;F\t"}, "", "2;512;E;L;F\t"},
        {{"TRCFMT=1;400;E;R;F", "TRCFMT=3;1000;E;R;P"}, "3;1000;E;R;P", ""},
        {{"TRCFMT=1;400;E;R;E;L;F"}, "1;400;E;R;E;L;F", ""},
        {{"TRCFMT=1;400;U;R;F", "TRCFMT=1;400;U;L;F"}, "", ""},
        {{"trcfmt=1;400;E;R;F", "TRCFMT =1;400;E;R;F", "XTRCFMT=1;400;E;R;F"}, "", ""},
        {{"TRCFMT=" + std::string(120, '9') + "E;R;F"}, std::string(99, '9'), ""},
        {{"ZFMT=E;R;", "DBL=E;L;"}, "", ""},
    };
    for (const auto& c : cases) {
        const TTraceFormats formats = CaptureTraceFormats(ListOf(c.Lines));
        EXPECT_EQ(formats.Rt, c.Rt) << testing::PrintToString(c.Lines);
        EXPECT_EQ(formats.Lt, c.Lt) << testing::PrintToString(c.Lines);
    }
}

TEST(CleanJobDigits, CutsToTheDigitsAtBothEnds) {
    const std::pair<const char*, const char*> cases[] = {
        {"000123A", "123"}, {"A0012B", "12"}, {"0000", ""}, {"", ""},       {"12 34", "12 34"},   {"9", "9"},
        {" 7x0 ", "7x0"},   {"ABC", ""},      {"10", "10"}, {"0x10", "10"}, {"5/../6", "5/../6"},
    };
    for (const auto& [job, cleaned] : cases)
        EXPECT_EQ(CleanJobDigits(job), cleaned) << job;
}
