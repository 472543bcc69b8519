// Tests of trace file import: the header and radii patterns (also against the standard library's
// regular expressions over generated lines), a written file read back, and the job number.
#include "app/core/TraceImport.h"

#include "CoreTestUtil.h"
#include "app/core/JobFile.h"
#include "app/core/JobKeys.h"
#include "app/core/TextFile.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>

using coretest::Circle;
using coretest::Ellipse;
using coretest::TTempFolder;

namespace {
using TLines = std::vector<std::string>;

// The import's patterns as the standard library reads them.
TImportedTraces RegexParse(const TLines& lines) {
    static const std::regex header("^TRCFMT\\s*=\\s*1\\s*;\\s*(\\d+)\\s*;\\s*E\\s*;\\s*([RL])");
    static const std::regex radii("^R\\s*=\\s*([\\d;\\s]+)");
    static const std::regex nonDigit("[^\\d]");
    TImportedTraces traces;
    char eye = '\0';
    for (const std::string& line : lines) {
        std::smatch match;
        if (std::regex_search(line, match, header))
            eye = match.str(2)[0];
        else if (std::regex_search(line, match, radii))
            (eye == 'R' ? traces.Rt : traces.Lt) += std::regex_replace(match.str(1), nonDigit, "");
    }
    return traces;
}
} // namespace

TEST(ParseTraceFileLines, HeadersSelectTheEyeAndRadiiRecordsAddTheirDigits) {
    const struct {
        const char* Name;
        TLines Lines;
        std::string Rt;
        std::string Lt;
    } cases[] = {
        {"radii before any header go to the left eye",
         {"R=0001;0002", "TRCFMT=1;2;E;R;F", "R=0003;0004"},
         "00030004",
         "00010002"},
        {"a format-2 header does not match: the previous eye continues",
         {"TRCFMT=1;1;E;R;F", "R=0001", "TRCFMT=2;1;E;L;F", "R=0002", "TRCFMT=1;1;E;L;F", "R=0003"},
         "00010002",
         "0003"},
        {"a letter inside a record ends the run", {"TRCFMT=1;3;E;L;F", "R=0001;0002;A003;0004"}, "", "00010002"},
        {"a short radius shifts every later point", {"TRCFMT=1;3;E;R;F", "R=0001;002;0003"}, "00010020003", ""},
        {"blanks and tabs anywhere the patterns allow",
         {"TRCFMT \t= 1 ; 400 ;E\t; R ;F", "R = 0001 ;\t0002", "R=\t0003", "R =", "R=x0004"},
         "000100020003",
         ""},
        {"letter case and other records",
         {"trcfmt=1;1;E;R;F", "r=0001", "REQ=FIL", "RX=0002", "TRCFMT=1;1;E;R;F", "DBL=18.00", " R=0003", "R=0004"},
         "0004",
         ""},
        {"a header needs a point count and an eye letter",
         {"TRCFMT=1;;E;R;F", "R=0001", "TRCFMT=1;5;E;X", "R=0002", "TRCFMT=12;5;E;R", "R=0003", "TRCFMT=1;5;U;R",
          "R=0004", "TRCFMT=1;5;E;R", "R=0005"},
         "0005",
         "0001000200030004"},
    };
    for (const auto& c : cases) {
        const TImportedTraces traces = ParseTraceFileLines(c.Lines);
        EXPECT_EQ(traces.Rt, c.Rt) << c.Name;
        EXPECT_EQ(traces.Lt, c.Lt) << c.Name;
    }
}

TEST(ParseTraceFileLines, AgreesWithTheStandardRegularExpressions) {
    // Lines that match, mutated into near misses by inserting, deleting and replacing pieces.
    const TLines templates = {"TRCFMT=1;400;E;R;F",
                              "TRCFMT = 1 ;\t4; E ;L",
                              "R=0001;0002;0003",
                              "R = 0004 ; 0005",
                              "REQ=FIL",
                              "DBL=18.00",
                              ""};
    const TLines pieces = {"TRCFMT", "R", "=",  "1",  "12", ";",    "E", "L", "R",
                           "U",      " ", "\t", "\v", "x",  "0001", "-", "\r"};
    std::mt19937 random(11);
    const auto below = [&random](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    std::size_t digits[2] = {0, 0};
    for (int round = 0; round < 5000; ++round) {
        TLines lines;
        for (std::size_t l = below(9); l > 0; --l) {
            std::string line = templates[below(templates.size())];
            for (std::size_t m = below(4); m > 0; --m) {
                const std::size_t at = below(line.size() + 1);
                switch (below(3)) {
                case 0:
                    line.insert(at, pieces[below(pieces.size())]);
                    break;
                case 1:
                    line.erase(at, 1);
                    break;
                default:
                    line.replace(at, 1, pieces[below(pieces.size())]);
                    break;
                }
            }
            lines.push_back(line);
        }
        const TImportedTraces expected = RegexParse(lines);
        const TImportedTraces actual = ParseTraceFileLines(lines);
        ASSERT_EQ(actual.Rt, expected.Rt) << testing::PrintToString(lines);
        ASSERT_EQ(actual.Lt, expected.Lt) << testing::PrintToString(lines);
        digits[0] += expected.Rt.size();
        digits[1] += expected.Lt.size();
    }
    // The generator reaches both eyes often enough.
    EXPECT_GT(digits[0], 1000u);
    EXPECT_GT(digits[1], 1000u);
}

TEST(ParseTraceFileLines, AWrittenFileReadsBackPointForPoint) {
    const std::string rt = Circle(400, 20);
    const std::string lt = Ellipse(1000, 24, 17);
    TRecordList job;
    for (const char* line : {"JOB=12345", "DBL=18.00", "FTYP=2"})
        job.Add(line);
    job.SetValue(jobkey::RtTrace, rt);
    job.SetValue(jobkey::LtTrace, lt);
    TTempFolder folder;
    const std::string fileName = TraceFileName(folder / "traces", job);
    SaveTraceFile(fileName, BuildTraceFileRecords(job, {"1;400;E;R;F", "3;1000;E;L;F", false, {}, {}}));

    const TImportedTraces traces = ParseTraceFileLines(ReadLines(fileName));
    EXPECT_EQ(traces.Rt, rt);
    EXPECT_EQ(traces.Lt, lt);
    EXPECT_EQ(JobNumberFromFileName(fileName), "12345");
}

TEST(JobNumberFromFileName, NameWithoutFolderAndExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"/home/op/traces/12345.txt", "12345"},
        {"order-0042.txt", "order-0042"},
        {"/a/b.d/archive.tar.gz", "archive.tar"},
        {"/a/b.d/noext", "noext"},
        {"/a/.txt", ""},
        {"/a/", ""},
        {"", ""},
    };
    for (const auto& [fileName, job] : cases)
        EXPECT_EQ(JobNumberFromFileName(fileName), job) << fileName;
}

// A file that gives no job to show is named with its reason; a job trace file with one eye is one.
TEST(UnusableTraceFile, NoTraceEmptyOrBinaryIsRefused) {
    const struct {
        TLines Lines;
        std::string Problem;
    } cases[] = {
        {{}, "the file is empty"},
        {{"", "  ", "\t"}, "the file is empty"},
        {{"REQ=FIL", std::string("R=2500;\0\x01", 10)}, "it is not a text file"},
        {{"\x7f"
          "ELF\x02\x01"},
         "it is not a text file"},
        {{"shopping list", "milk"}, "it holds no trace"},
        {{"REQ=FIL", "CIRC=0.00;0.00", "TRCFMT=1;2;E;R;F", "R=2500;2500"}, "it holds no trace"},
        {{"TRCFMT=1;4;E;R;F", "R=0000;0000;0000;0000"}, "it holds no trace"},
        {{"TRCFMT=1;4;E;L;F", "R=2500;2000;2500;2000"}, ""},
        {{"TRCFMT=1;4;E;R;F", "R=2500;2000;2500;2000", "NOTE=\ttabbed"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Problem);
        EXPECT_EQ(UnusableTraceFile(c.Lines), c.Problem);
    }
}
