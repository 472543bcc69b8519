// The job sheet's content read from job trace file records, the pair of eyes at true size, and
// the SVG and DXF outlines read back and measured as a CAD program would.
#include "export/JobSheet.h"

#include "ExportParse.h"
#include "app/core/JobFile.h"
#include "common/Numbers.h"
#include "trace/TrceCalc.h"
#include "trace_shapes.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <sstream>
#include <string>

using namespace export_parse;

namespace {
constexpr double kTolerance = 0.05;

// The records of a job trace file as the program writes them: a format-1 block per eye.
TRecordList FileRecords(const std::string& rt, const std::string& lt, const std::string& dbl,
                        const std::string& ftyp = {}, const std::string& etyp = {}) {
    TRecordList records;
    records.Add("REQ=FIL");
    if (!dbl.empty())
        records.Add("DBL=" + dbl);
    if (!ftyp.empty())
        records.Add("FTYP=" + ftyp);
    if (!etyp.empty())
        records.Add("ETYP=" + etyp);
    for (const auto& [eye, radii] : {std::pair{'R', rt}, std::pair{'L', lt}}) {
        if (radii.empty())
            continue;
        records.Add("TRCFMT=1;" + std::to_string(radii.size() / 4) + ";E;" + eye + ";F");
        AddRadiiRecords(records, radii);
    }
    return records;
}

std::string Mirror(const std::string& radii) {
    TTraceCalc calc;
    calc.SetTrace(radii);
    return calc.MirroredTrace();
}

struct TPairCase {
    const char* Name;
    std::string Rt, Lt, Dbl;
    double ExpectedDbl;
};

const TPairCase kPairs[] = {
    {"EllipsesAt18", trace_shapes::Ellipse50x40(), trace_shapes::Ellipse50x40(), "18.00", 18},
    {"EggsAtACommaDbl", trace_shapes::Egg(), Mirror(trace_shapes::Egg()), "16,5", 16.5},
    {"OddPointCountAndNoLeftEye", trace_shapes::Egg(399), "", "20.25", 20.25},
    {"NoDblTouches", trace_shapes::Ellipse50x40(100), trace_shapes::Egg(), "", 0},
};

class PairExport : public ::testing::TestWithParam<TPairCase> {
protected:
    TJobSheet Sheet() const {
        const TPairCase& c = GetParam();
        return JobSheetFromRecords(FileRecords(c.Rt, c.Lt, c.Dbl), "123", "2026-12-11 10:31");
    }
    // Each eye as the job file measures it.
    static void ExpectEye(const TExtent& drawn, const TEyeShapePtr& shape) {
        ASSERT_TRUE(shape);
        EXPECT_NEAR(drawn.Width(), shape->BoxA(), kTolerance);
        EXPECT_NEAR(drawn.Height(), shape->BoxB(), kTolerance);
    }
    static void ExpectPair(const TExtent& right, const TExtent& left, const TJobSheet& sheet) {
        ExpectEye(right, sheet.Rt);
        ExpectEye(left, sheet.Lt);
        // As seen from the front: the right eye on the left, nasal edges DBL apart, box centres level.
        EXPECT_NEAR(left.Left - right.Right, GetParam().ExpectedDbl, kTolerance);
        EXPECT_NEAR((right.Top + right.Bottom) / 2, (left.Top + left.Bottom) / 2, kTolerance);
    }
};

TEST_P(PairExport, SvgOutlinesMeasureBackToTheBoxesAndTheDbl) {
    const TJobSheet sheet = Sheet();
    const std::string svg = SvgOfJob(sheet);
    bool closed = false;
    const auto paths = SvgPaths(svg, &closed);
    ASSERT_EQ(paths.size(), 2u) << svg.substr(0, 400);
    EXPECT_TRUE(closed);
    const TExtent right = ExtentOf(paths.at("right"));
    const TExtent left = ExtentOf(paths.at("left"));
    ExpectPair(right, left, sheet);
    EXPECT_EQ(paths.at("right").size(), sheet.Rt->Outline().size());

    // The page is in millimetres and its viewBox, in the same units, holds both outlines.
    const std::string width = Attribute(svg, "width");
    const std::string height = Attribute(svg, "height");
    ASSERT_EQ(width.substr(width.size() - 2), "mm");
    ASSERT_EQ(height.substr(height.size() - 2), "mm");
    std::istringstream viewBox(Attribute(svg, "viewBox"));
    double vx = 0, vy = 0, vw = 0, vh = 0;
    ASSERT_TRUE(viewBox >> vx >> vy >> vw >> vh);
    EXPECT_DOUBLE_EQ(vw, std::stod(width));
    EXPECT_DOUBLE_EQ(vh, std::stod(height));
    EXPECT_LE(vx, right.Left);
    EXPECT_GE(vx + vw, left.Right);
    EXPECT_LE(vy, -std::max(right.Top, left.Top));
    EXPECT_GE(vy + vh, -std::min(right.Bottom, left.Bottom));
    EXPECT_NEAR(vw, left.Right - right.Left + 4, kTolerance);
}

TEST_P(PairExport, DxfPolylinesMeasureBackToTheBoxesAndTheDbl) {
    const TJobSheet sheet = Sheet();
    const TDxf dxf = ParseDxf(DxfOfJob(sheet));
    EXPECT_EQ(dxf.Header.at("$ACADVER"), "AC1009");
    EXPECT_EQ(dxf.Header.at("$INSUNITS"), "4");
    ASSERT_EQ(dxf.Polylines.size(), 2u);
    EXPECT_EQ(dxf.Flags.at("RIGHT") & 1, 1);
    EXPECT_EQ(dxf.Flags.at("LEFT") & 1, 1);
    ExpectPair(ExtentOf(dxf.Polylines.at("RIGHT")), ExtentOf(dxf.Polylines.at("LEFT")), sheet);
    EXPECT_EQ(dxf.Polylines.at("LEFT").size(), sheet.Lt->Outline().size());
}

INSTANTIATE_TEST_SUITE_P(Pairs, PairExport, ::testing::ValuesIn(kPairs),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(JobSheet, ReadsTheFileRecordsAndCompletesAMissingEye) {
    TJobSheet sheet = JobSheetFromRecords(FileRecords(trace_shapes::Egg(), "", "17,5", "2", "3"), "42", "d");
    EXPECT_EQ(sheet.JobNumber, "42");
    EXPECT_EQ(sheet.Date, "d");
    EXPECT_EQ(sheet.DBL, std::optional<double>(17.5));
    EXPECT_EQ(sheet.FrameType, "Metal");
    EXPECT_EQ(sheet.EdgeType, "Groove");
    ASSERT_TRUE(sheet.Rt && sheet.Lt);
    EXPECT_FALSE(sheet.RtMirrored);
    EXPECT_TRUE(sheet.LtMirrored);
    EXPECT_EQ(sheet.Lt->Radii(), Mirror(trace_shapes::Egg()));

    sheet = JobSheetFromRecords(FileRecords("", trace_shapes::Egg(), "", "0", "-1"), "", "");
    EXPECT_TRUE(sheet.RtMirrored);
    EXPECT_FALSE(sheet.LtMirrored);
    EXPECT_EQ(sheet.DBL, std::nullopt);
    EXPECT_EQ(sheet.FrameType, "");
    EXPECT_EQ(sheet.EdgeType, "Uncut");

    sheet = JobSheetFromRecords(FileRecords("", "", "18"), "1", "");
    EXPECT_FALSE(sheet.Rt || sheet.Lt);
    EXPECT_TRUE(LayOutEyes(sheet).Eyes.empty());
    EXPECT_EQ(SvgPaths(SvgOfJob(sheet)).size(), 0u);
}

TEST(JobSheet, TheRightEyeIsDrawnUnmirroredWithItsNasalSideInward) {
    // The egg's wide end is at angle 0: on the right eye, seen from the front, that is the nasal
    // side, towards the left eye; the left eye's mirrored egg has its wide end towards the right eye.
    const TJobSheet sheet =
        JobSheetFromRecords(FileRecords(trace_shapes::Egg(), Mirror(trace_shapes::Egg()), "18"), "1", "");
    const TEyePair pair = LayOutEyes(sheet);
    ASSERT_EQ(pair.Eyes.size(), 2u);
    EXPECT_EQ(pair.Eyes[0].Eye, 'R');
    EXPECT_NEAR(pair.Eyes[0].Outline.front().X, pair.Eyes[0].Right, 1e-9);
    EXPECT_NEAR(pair.Eyes[0].Right, -9, 1e-9);
    EXPECT_NEAR(pair.Eyes[1].Left, 9, 1e-9);
    EXPECT_NEAR(pair.Width(), 2 * 40 + 18, kTolerance);
    // The wide end lies 25 mm from the trace centre, the narrow end 15 mm.
    const double rtCentre = pair.Eyes[0].Outline.front().X - 25;
    EXPECT_NEAR(rtCentre - pair.Eyes[0].Left, 15, kTolerance);
}

TEST(JobSheet, TheLayoutKeepsTrueSizeWhereThePairFitsAndSaysSoWhereNot) {
    struct TCase {
        double BoxA, Dbl, PageWidth, PageHeight, Scale;
    };
    const TCase cases[] = {
        {50, 18, 210, 297, 1},
        {50, 18, 215.9, 279.4, 1},
        {70, 60, 210, 297, 180.0 / 200},
    };
    for (const TCase& c : cases) {
        const std::string radii = trace_shapes::Sampled(360, [&](double) { return c.BoxA / 2; });
        const TJobSheet sheet = JobSheetFromRecords(FileRecords(radii, radii, FormatFixedPoint(c.Dbl, 2)), "1", "");
        const TJobSheetLayout layout = LayOutJobSheet(sheet, c.PageWidth, c.PageHeight);
        SCOPED_TRACE(c.PageWidth);
        EXPECT_NEAR(layout.Scale, c.Scale, 1e-3);
        EXPECT_NEAR(layout.Drawing.Width, (2 * c.BoxA + c.Dbl) * c.Scale, kTolerance);
        EXPECT_NEAR(layout.Drawing.X + layout.Drawing.Width / 2, c.PageWidth / 2, 1e-9);
        EXPECT_GE(layout.Drawing.Y, layout.Text.Y + layout.Text.Height);
        EXPECT_EQ(layout.Bar.Width, kCalibrationBarMm);
        EXPECT_GE(layout.Bar.Y, layout.Drawing.Y + layout.Drawing.Height);
        EXPECT_LE(layout.Bar.Y + layout.Bar.Height, c.PageHeight - layout.Margin);
    }
}

TEST(JobSheet, TheTableHoldsEveryMeasureOfBothEyes) {
    const TJobSheet sheet = JobSheetFromRecords(FileRecords(trace_shapes::Ellipse50x40(), "", "18", "1", "4"), "7", "");
    const auto table = JobSheetTable(sheet);
    std::map<std::string, std::vector<std::string>> rows;
    for (const auto& row : table)
        rows[row.at(0)] = row;
    EXPECT_EQ(rows.at("Box A"), (std::vector<std::string>{"Box A", "50.00 mm", "50.00 mm"}));
    EXPECT_EQ(rows.at("Box B").at(2), "40.00 mm");
    EXPECT_EQ(rows.at("Circumference").at(1), FormatFixed(sheet.Rt->Circumference(), 2) + " mm");
    EXPECT_EQ(rows.at("Effective diameter").at(1), FormatFixed(sheet.Rt->EffectiveDiameter(), 2) + " mm");
    EXPECT_EQ(rows.at("Trace"), (std::vector<std::string>{"Trace", "traced", "mirror of right"}));
    EXPECT_EQ(rows.at("DBL").at(1), "18.00 mm");
    EXPECT_EQ(rows.at("Frame").at(1), "Plastic");
    EXPECT_EQ(rows.at("Edge").at(1), "Mini-Bevel");
}
} // namespace
