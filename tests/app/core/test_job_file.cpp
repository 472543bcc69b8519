// Tests of the job trace file: the records in file order with the copy, trace block, box and type
// rules, the radii records, the file name and the saving.
#include "app/core/JobFile.h"

#include "CoreTestUtil.h"
#include "app/core/JobIntake.h"
#include "app/core/JobKeys.h"
#include "app/core/TextFile.h"
#include "app/core/TraceImport.h"
#include "common/Errors.h"
#include "trace/TrceCalc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

using coretest::Circle;
using coretest::Ellipse;
using coretest::ReadBytes;
using coretest::TSeparator;
using coretest::TTempFolder;

namespace {
using TLines = std::vector<std::string>;

TRecordList ListOf(const TLines& lines) {
    TRecordList list;
    for (const std::string& line : lines)
        list.Add(line);
    return list;
}

// The lines of the file after REQ=FIL.
TLines BodyOf(const TRecordList& records) {
    EXPECT_EQ(records.Line(0), "REQ=FIL");
    return TLines(records.Lines().begin() + 1, records.Lines().end());
}

// A measurement of a trace as the geometry gives it, two decimals.
std::string Measured(const std::string& trace, double (TTraceCalc::*measure)()) {
    TTraceCalc calc;
    calc.SetTrace(trace);
    return FormatFixed((calc.*measure)(), 2);
}

// A trace whose groups count up from 1000, so that every group is told apart.
std::string CountingTrace(int points) {
    std::string trace;
    for (int i = 0; i < points; ++i)
        trace += std::to_string(1000 + i);
    return trace;
}
} // namespace

TEST(AddRadiiRecords, FifteenGroupsToARecord) {
    const std::string g15 = "0001000200030004000500060007000800090010001100120013001400150016";
    const struct {
        std::string Trace;
        TLines Records;
    } cases[] = {
        {"", {}},
        {"123", {}},
        {"0001", {"R=0001"}},
        {"00010002x", {"R=0001;0002"}},
        {" 922+922-922", {"R=0922;0922;0000"}}, // four digits whatever form the tracer used
        {"ab c-1.5", {"R=0000;0015"}},          // no number: the digits the reader would keep
        {g15.substr(0, 60), {"R=0001;0002;0003;0004;0005;0006;0007;0008;0009;0010;0011;0012;0013;0014;0015"}},
        {g15, {"R=0001;0002;0003;0004;0005;0006;0007;0008;0009;0010;0011;0012;0013;0014;0015", "R=0016"}},
    };
    for (const auto& c : cases) {
        TRecordList list;
        list.Add("KEEP=1");
        AddRadiiRecords(list, c.Trace);
        TLines expected{"KEEP=1"};
        expected.insert(expected.end(), c.Records.begin(), c.Records.end());
        EXPECT_EQ(list.Lines(), expected) << c.Trace;
    }
    TRecordList list;
    AddRadiiRecords(list, g15);
    EXPECT_EQ(list.Line(0).size(), 76u);
}

// A tracer job with a 400-point right trace and no left one, written to disk.
TEST(BuildTraceFileRecords, RightTraceOf400PointsGivesTheExactFile) {
    const std::string rt = CountingTrace(400);
    const TRecordList job =
        ListOf({"REQ=TRC", "JOB=123", "VEN=TAKUBO", "MODEL=T1", "DBL=18.00", "FTYP=1", "ETYP=1", "TRCFMT=1;400;E;R;F",
                "R=1000;1001", "ZFMT=1;400;E;R;F", "Z=0001;0002", "_RtTrace=" + rt, "_RtZData=00010002", "CRC=ABCD"});
    const TTraceFormats formats = CaptureTraceFormats(job);
    const TRecordList records = BuildTraceFileRecords(job, {formats.Rt, formats.Lt, false, {}, {}});

    TTempFolder folder;
    const std::string fileName = TraceFileName(folder / "traces", job);
    EXPECT_EQ(fileName, folder / "traces/123.txt");
    SaveTraceFile(fileName, records);

    // The box records the program adds stand before the trace block, where a reopened file's
    // copied records stand.
    const auto twice = [](const std::string& value) { return value + ";" + value; };
    std::string expected = "REQ=FIL\r\nVEN=TAKUBO\r\nMODEL=T1\r\nDBL=18.00\r\nFTYP=1\r\nETYP=1\r\n";
    expected += "HBOX=" + twice(Measured(rt, &TTraceCalc::BoxA)) + "\r\n";
    expected += "VBOX=" + twice(Measured(rt, &TTraceCalc::BoxB)) + "\r\n";
    expected += "CIRC=" + twice(Measured(rt, &TTraceCalc::Circumference)) + "\r\n";
    expected += "TRCFMT=1;400;E;R;F\r\n";
    for (int record = 0; record < 27; ++record) {
        expected += "R=";
        for (int point = record * 15; point < std::min(400, record * 15 + 15); ++point)
            expected += (point > record * 15 ? ";" : "") + std::to_string(1000 + point);
        expected += "\r\n";
    }
    EXPECT_EQ(ReadBytes(fileName), expected);

    EXPECT_EQ(records.Line(10), "R=1000;1001;1002;1003;1004;1005;1006;1007;1008;1009;1010;1011;1012;1013;1014");
    EXPECT_EQ(records.Line(36), "R=1390;1391;1392;1393;1394;1395;1396;1397;1398;1399");
}

TEST(BuildTraceFileRecords, CopiesUpperCaseRecordsExceptThoseItWritesItself) {
    const TRecordList job =
        ListOf({"VEN=V",         "DBL=18",    "dbl=1",     "Dbl=2",   "1ABC=2",           "_RtTrace=",
                "_LtZData=0001", "no equals", "=x",        "Z=1",     "ZFMT=1",           "CRC=1",
                "ANS=1",         "REQ=TRC",   "JOB=123",   "R=0001",  "TRCFMT=1;1;E;R;F", "MODEL=M",
                "XYZ=1",         "XYZ=2",     "Ven=lower", "\xc4X=1", "HBOX=1",           "VBOX=2",
                "CIRC=3"});
    const TRecordList records = BuildTraceFileRecords(job, {});
    EXPECT_EQ(BodyOf(records),
              (TLines{"VEN=V", "MODEL=M", "DBL=18", "Dbl=2", "XYZ=1", "XYZ=2", "HBOX=1", "VBOX=2", "CIRC=3"}));
}

TEST(BuildTraceFileRecords, TraceBlocksAlwaysSayFormatOneAtEqualAngles) {
    const std::string rt = Circle(400, 20);
    const std::string lt = Circle(512, 21) + "12"; // trailing characters fill no group
    const TRecordList job = ListOf({"HBOX=1", "VBOX=2", "CIRC=3", "_RtTrace=" + rt, "_LtTrace=" + lt});
    const struct {
        std::string Rt;
        std::string Lt;
        TLines Headers;
    } cases[] = {
        {"2;400;E;R;F", "4;512;E;L;P", {"TRCFMT=1;400;E;R;F", "TRCFMT=1;512;E;L;P"}},
        {"1;400;E;R;F", "", {"TRCFMT=1;400;E;R;F"}},
        {"0;400;E;R;F", "10", {"TRCFMT=1;512;E;L;0"}},
        {"", "", {}},
    };
    for (const auto& c : cases) {
        const TRecordList records = BuildTraceFileRecords(job, {c.Rt, c.Lt, false, {}, {}});
        TLines headers;
        std::size_t radii = 0;
        for (const std::string& line : records.Lines()) {
            if (line.rfind("TRCFMT=", 0) == 0)
                headers.push_back(line);
            radii += line.rfind("R=", 0) == 0;
        }
        EXPECT_EQ(headers, c.Headers) << c.Rt << " / " << c.Lt;
        const bool right = c.Rt >= "1";
        const bool left = c.Lt >= "1";
        EXPECT_EQ(radii, (right ? 27u : 0u) + (left ? 35u : 0u)) << c.Rt << " / " << c.Lt;
    }
}

TEST(BuildTraceFileRecords, UnequalAngleFormatsAreNeverCapturedSoNoBlockIsWritten) {
    const TRecordList job = ListOf({"TRCFMT=1;400;U;R;F", "TRCFMT=1;400;U;L;F", "HBOX=1", "VBOX=2", "CIRC=3",
                                    "_RtTrace=" + Circle(400, 20), "_LtTrace=" + Circle(400, 20)});
    const TTraceFormats formats = CaptureTraceFormats(job);
    const TRecordList records = BuildTraceFileRecords(job, {formats.Rt, formats.Lt, false, {}, {}});
    EXPECT_EQ(BodyOf(records), (TLines{"HBOX=1", "VBOX=2", "CIRC=3"}));
}

TEST(BuildTraceFileRecords, BoxRecordsPassUnlessMissingEmptyOrTheShapeChanged) {
    const std::string rt = Circle(400, 20);
    const std::string lt = Ellipse(400, 24, 18);
    const std::string both = "HBOX=40.00;48.00";
    ASSERT_EQ("HBOX=" + Measured(rt, &TTraceCalc::BoxA) + ";" + Measured(lt, &TTraceCalc::BoxA), both);
    const std::string circ =
        "CIRC=" + Measured(rt, &TTraceCalc::Circumference) + ";" + Measured(lt, &TTraceCalc::Circumference);
    const std::string vbox = "VBOX=40.00;36.00";

    TRecordList job = ListOf({"HBOX=50.00;50.00", "DBL=18", "VBOX=", "_RtTrace=" + rt, "_LtTrace=" + lt});
    EXPECT_EQ(BodyOf(BuildTraceFileRecords(job, {})), (TLines{"HBOX=50.00;50.00", "DBL=18", vbox, circ}));
    TJobFileInputs modified;
    modified.ShapeModified = true;
    EXPECT_EQ(BodyOf(BuildTraceFileRecords(job, modified)), (TLines{both, "DBL=18", vbox, circ}));

    {
        // The file means the same on every workstation.
        const TSeparator comma(',');
        EXPECT_EQ(BuildTraceFileRecords(job, modified).Line(1), "HBOX=40.00;48.00");
    }

    // Shapes the caller holds are taken as they are, whatever traces the records hold.
    const std::string swappedCirc =
        "CIRC=" + Measured(lt, &TTraceCalc::Circumference) + ";" + Measured(rt, &TTraceCalc::Circumference);
    EXPECT_EQ(BodyOf(BuildTraceFileRecords(job, modified, MakeEyeShape(lt), MakeEyeShape(rt))),
              (TLines{"HBOX=48.00;40.00", "DBL=18", "VBOX=36.00;40.00", swappedCirc}));
    EXPECT_EQ(BuildTraceFileRecords(job, modified, nullptr, MakeEyeShape(lt)).Line(1), "HBOX=48.00;48.00");

    // One eye alone gives both values.
    job = ListOf({"_LtTrace=" + lt});
    EXPECT_EQ(BuildTraceFileRecords(job, {}).Line(1), "HBOX=48.00;48.00");
    job = ListOf({"_RtTrace=" + rt});
    EXPECT_EQ(BuildTraceFileRecords(job, {}).Line(1), "HBOX=40.00;40.00");
    EXPECT_EQ(BodyOf(BuildTraceFileRecords(ListOf({}), {})),
              (TLines{"HBOX=0.00;0.00", "VBOX=0.00;0.00", "CIRC=0.00;0.00"}));
}

// A job file written on a workstation with a decimal comma, opened and written again, holds full
// stops in the numbers the program reads back, whatever the locale; other text stays as it came.
TEST(BuildTraceFileRecords, NumbersReadBackAreWrittenWithAFullStop) {
    const std::pair<std::string, std::string> cases[] = {
        {"DBL=19,50", "DBL=19.50"},
        {"HBOX=51,28;51,28", "HBOX=51.28;51.28"},
        {"VBOX=40,08;40.08", "VBOX=40.08;40.08"},
        {"CIRC=150,03;?", "CIRC=150.03;?"},
        {"DBL=1,234.5", "DBL=1,234.5"}, // no number with a decimal comma
        {"HBOX=a,b;", "HBOX=a,b;"},
        {"FED=1,5", "FED=1,5"}, // a record the program never reads
    };
    for (const char separator : {'.', ','}) {
        const TSeparator users(separator);
        for (const auto& [record, written] : cases) {
            SCOPED_TRACE(record + " " + separator);
            const TLines lines = BuildTraceFileRecords(ListOf({record}), {}).Lines();
            EXPECT_NE(std::find(lines.begin(), lines.end(), written), lines.end());
        }
    }
}

TEST(BuildTraceFileRecords, UnmeasurableTraceRaisesOnlyWhenABoxIsComputed) {
    const TRecordList job = ListOf({"HBOX=1", "VBOX=2", "CIRC=3", "_RtTrace=0001x002"});
    EXPECT_NO_THROW(BuildTraceFileRecords(job, {}));
    TJobFileInputs modified;
    modified.ShapeModified = true;
    EXPECT_THROW(BuildTraceFileRecords(job, modified), EConvertError);
}

TEST(BuildTraceFileRecords, TypeRule) {
    using TKey = std::optional<std::string>;
    const struct {
        TLines Tracer;
        TKey Frame;
        TKey Edge;
        TLines Body; // the lines of the file after the box records of the job
    } cases[] = {
        {{"FTYP=1", "ETYP=1"}, {}, {}, {"FTYP=1", "ETYP=1", "BOX"}},
        {{"FTYP=1", "ETYP=1"}, "2", "-1", {"FTYP=2", "ETYP=1", "BOX"}},
        {{"ETYP=1"}, {}, "2", {"ETYP=2", "BOX", "FTYP=3"}},
        {{}, {}, "2", {"BOX", "FTYP=3", "ETYP=2"}},
        {{}, "1", "3", {"BOX", "FTYP=1", "ETYP=3"}},
        {{"FTYP=0", "ETYP=3"}, {}, {}, {"ETYP=3", "BOX"}},
        {{"FTYP=0"}, "1", {}, {"FTYP=1", "BOX"}},
        {{"FTYP=0"}, {}, "2", {"FTYP=3", "BOX", "ETYP=2"}},
        {{"ETYP=2", "FTYP=1"}, {}, {}, {"ETYP=2", "FTYP=3", "BOX"}},
        {{"ETYP=2"}, "1", {}, {"ETYP=2", "BOX", "FTYP=3"}},
        {{"FTYP=2"}, "3", "4", {"FTYP=3", "BOX", "ETYP=4"}},
        {{"FTYP=2", "ETYP=3"}, "0", "-1", {"FTYP=2", "ETYP=3", "BOX"}},
        {{"FTYP=0", "ETYP=1", "FTYP=0", "FTYP=2"}, {}, {}, {"ETYP=1", "BOX"}},
    };
    for (const auto& c : cases) {
        TLines jobLines = c.Tracer;
        jobLines.insert(jobLines.end(), {"HBOX=1", "VBOX=2", "CIRC=3"});
        TJobFileInputs inputs;
        inputs.FrameKey = c.Frame;
        inputs.EdgeKey = c.Edge;
        TLines expected;
        for (const std::string& line : c.Body) {
            if (line == "BOX")
                expected.insert(expected.end(), {"HBOX=1", "VBOX=2", "CIRC=3"});
            else
                expected.push_back(line);
        }
        EXPECT_EQ(BodyOf(BuildTraceFileRecords(ListOf(jobLines), inputs)), expected)
            << testing::PrintToString(c.Tracer) << " frame " << c.Frame.value_or("none") << " edge "
            << c.Edge.value_or("none");
    }
}

TEST(TraceFileName, JobNumberPlusTxtInTheTracesFolder) {
    const std::pair<TLines, std::string> cases[] = {
        {{"JOB=12345"}, "/x/traces/12345.txt"},     {{}, "/x/traces/no-job-number-1.txt"},
        {{"job=7 8"}, "/x/traces/7 8.txt"},         {{"JOB=1/../../etc/9"}, "/x/traces/1_.._.._etc_9.txt"},
        {{"JOB=1\\..\\9"}, "/x/traces/1_.._9.txt"}, {{"JOB=../x"}, "/x/traces/_._x.txt"},
        {{"JOB=.hidden"}, "/x/traces/_hidden.txt"},
    };
    for (const auto& [job, name] : cases)
        EXPECT_EQ(TraceFileName("/x/traces", ListOf(job)), name);
}

// A job number names its file the same way on every system: what Windows cannot store is
// cleaned, names that were fine stay as they are.
TEST(TraceFileName, NamesWindowsCannotStoreAreCleanedAlike) {
    const std::pair<std::string, std::string> cases[] = {
        {"1:2*3?4\"5<6>7|8", "1_2_3_4_5_6_7_8"},
        {"1\t2", "1_2"},
        {"CON", "_CON"},
        {"con.12", "_con.12"},
        {"Nul .5", "_Nul .5"},
        {"AUX", "_AUX"},
        {"PRN.x.y", "_PRN.x.y"},
        {"COM1", "_COM1"},
        {"lpt9.txt", "_lpt9.txt"},
        {"COM0", "COM0"},
        {"COM10", "COM10"},
        {"CONSOLE", "CONSOLE"},
        {"1CON", "1CON"},
        {"12 CON.5", "12 CON.5"},
        {"123-4_5 (6)", "123-4_5 (6)"},
    };
    for (const auto& [job, stem] : cases)
        EXPECT_EQ(TraceFileName("/x/traces", ListOf({"JOB=" + job})), "/x/traces/" + stem + ".txt") << job;
}

// A job number too long for a file name is saved under a visible prefix and a hash of the whole
// number, cut between whole characters; a number of the longest length kept stays as it is.
TEST(TraceFileName, LongJobNumberIsShortenedToAPrefixAndAHash) {
    TTempFolder folder;
    std::string umlauts;
    for (int i = 0; i < 20; ++i)
        umlauts += "\xC3\xA4"; // two bytes each
    const struct {
        std::string Job;
        std::string Stem;
        bool Shortened;
    } cases[] = {
        {std::string(kMaxJobFileStem, '7'), std::string(kMaxJobFileStem, '7'), false},
        {std::string(300, '1'), std::string(111, '1') + "-b5868461", true},
        {std::string(299, '1') + "2", std::string(111, '1') + "-b2867fa8", true},
        {std::string(110, '1') + umlauts, std::string(110, '1') + "-7355c183", true},
    };
    for (const auto& c : cases) {
        bool shortened = !c.Shortened;
        const std::string name = TraceFileName(folder.Path(), ListOf({"JOB=" + c.Job}), &shortened);
        EXPECT_EQ(name, folder / (c.Stem + ".txt"));
        EXPECT_EQ(shortened, c.Shortened);
        SaveTraceFile(name, ListOf({"REQ=FIL"}));
    }
    EXPECT_EQ(coretest::FolderEntries(folder.Path()).size(), std::size(cases));
}

TEST(TraceFileName, JobsWithoutANumberNeverOverwriteEachOther) {
    TTempFolder folder;
    for (const char* content : {"first", "second"})
        SaveTraceFile(TraceFileName(folder.Path(), ListOf({})), ListOf({content}));
    EXPECT_EQ(coretest::FolderEntries(folder.Path()), (TLines{"no-job-number-1.txt", "no-job-number-2.txt"}));
    EXPECT_EQ(ReadBytes(folder / "no-job-number-1.txt"), "first\r\n");
}

TEST(SaveTraceFile, CreatesTheFolderReplacesTheFileAndRaisesOnFailure) {
    TTempFolder folder;
    SaveTraceFile(folder / "traces/1.txt", ListOf({"REQ=FIL", "A=1"}));
    SaveTraceFile(folder / "traces/1.txt", ListOf({"REQ=FIL"}));
    EXPECT_EQ(ReadBytes(folder / "traces/1.txt"), "REQ=FIL\r\n");
    EXPECT_EQ(coretest::FolderEntries(folder / "traces"), (TLines{"1.txt"}));

    coretest::WriteBytes(folder / "file", "x");
    EXPECT_THROW(SaveTraceFile(folder / "file/traces/1.txt", ListOf({"REQ=FIL"})), EInOutError);
}

// The points of a trace text, four characters each.
std::vector<int> Points(const std::string& trace) {
    std::vector<int> points;
    for (std::size_t at = 0; at + 4 <= trace.size(); at += 4)
        points.push_back(StrToInt(trace.substr(at, 4)));
    return points;
}

// A job written, reopened as the Open button reads it and written again: the same points and the
// same bytes, whatever form the tracer's records had.
TEST(BuildTraceFileRecords, WrittenJobReadsBackToTheSameJob) {
    const std::string circle = Circle(40, 20);
    const struct {
        const char* Name;
        TLines Tracer;           // the tracer's records besides the trace
        std::string Rt;          // the right trace as the tracer handed it
        std::vector<int> Points; // the right trace's points after reopening, when not the circle
    } cases[] = {
        {"blanks and signs in radii", {"TRCFMT=1;4;E;R;F"}, "25002500 250+250", {2500, 2500, 250, 250}},
        {"quoted radius with a blank", {"TRCFMT=1;4;E;R;F"}, "2500 922 9222500", {2500, 922, 922, 2500}},
        {"label differing in case", {"JoB=1", "Trcfmt=1;9;E;L;F", "TRCFMT=1;40;E;R;F", "Xy=1"}, circle, {}},
        {"label with a blank", {"TRCFMT=1;40;E;R;F", "R =0001;0002", "TRCFMT =1;2;E;L;F", "DBL =18"}, circle, {}},
        {"empty type letter", {"TRCFMT=1;40;E;R;"}, circle, {}},
        {"no box records", {"TRCFMT=1;40;E;R;F", "DBL=18.00"}, circle, {}},
        {"box records after the trace", {"TRCFMT=1;40;E;R;F", "R=2500", "HBOX=1;1", "FTYP=2", "CIRC=3;3"}, circle, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TLines tracerLines = c.Tracer;
        tracerLines.insert(tracerLines.begin(), {"REQ=TRC", "JOB=77", "VEN=TAKUBO"});
        tracerLines.push_back("_RtTrace=" + c.Rt);
        const TRecordList tracerJob = ListOf(tracerLines);
        TTraceFormats formats = CaptureTraceFormats(tracerJob);
        TJobFileInputs inputs{formats.Rt, formats.Lt, false, {}, {}};
        const TRecordList written = BuildTraceFileRecords(tracerJob, inputs);

        const TRecordList reopened = JobFromTraceFile(written.Lines(), "/x/traces/77.txt");
        const std::vector<int> expectedPoints = c.Points.empty() ? Points(c.Rt) : c.Points;
        EXPECT_EQ(Points(reopened.Value(jobkey::RtTrace)), expectedPoints);
        EXPECT_EQ(reopened.Value(jobkey::LtTrace), "");
        EXPECT_EQ(reopened.Value("JOB"), "77");
        for (const std::string& line : written.Lines())
            EXPECT_NE(line.back(), ';') << line;

        formats = CaptureTraceFormats(reopened);
        inputs = {formats.Rt, formats.Lt, false, {}, {}};
        EXPECT_EQ(BuildTraceFileRecords(reopened, inputs).Lines(), written.Lines());
    }
}
