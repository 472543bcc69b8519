// Tests of shape editing: both eyes from their base traces, the left eye following the right
// eye's shown value, a job without one eye, the Lock B option and refusals.
#include "app/core/ShapeEdit.h"

#include "CoreTestUtil.h"
#include "common/Errors.h"
#include "trace/TrceCalc.h"

#include <gtest/gtest.h>

using coretest::Ellipse;
using coretest::MakeTrace;
using coretest::TSeparator;

namespace {
std::string Mm(double value) {
    return FormatFixed(value, 2);
}

struct TMeasures {
    std::string BoxA, BoxB, Circumference;
    bool operator==(const TMeasures&) const = default;
};

TMeasures MeasuresOf(const std::string& trace) {
    TTraceCalc calc;
    calc.SetTrace(trace);
    return {Mm(calc.BoxA()), Mm(calc.BoxB()), Mm(calc.Circumference())};
}

// The edit on radii texts: the base traces made shapes, the rescaled shapes given as their texts
// and the measurements shown.
struct TEdit {
    std::string RtTrace, LtTrace;
    double BoxA = 0, BoxB = 0, Circumference = 0;
};

TEdit Rescale(const std::string& rt, const std::string& lt, TShapeOp op, double wanted, bool lockBAtDatum) {
    const TShapeEditResult result = RescaleJob(MakeEyeShape(rt), MakeEyeShape(lt), op, wanted, lockBAtDatum);
    const TShapeMeasures shown = result.Shown();
    return {result.Rt ? result.Rt->Radii() : "", result.Lt ? result.Lt->Radii() : "", shown.BoxA, shown.BoxB,
            shown.Circumference};
}

// Upper half 15 mm high, lower half 20 mm deep, 50 mm wide: Lock B at Datum makes a difference.
const std::string kRight = MakeTrace(400, [](double t) {
    const double b = std::sin(t) >= 0 ? 15 : 20;
    return 25 * b / std::hypot(b * std::cos(t), 25 * std::sin(t));
});
// A left eye of another size: it is rescaled to the right eye's value, not by the same factor.
const std::string kLeft = Ellipse(512, 23, 16);
} // namespace

TEST(RescaleJob, BothEyesTakeTheWantedMeasurement) {
    const struct {
        TShapeOp Op;
        double Wanted;
        std::string TMeasures::*Field;
    } cases[] = {
        {TShapeOp::BoxA, 52.3, &TMeasures::BoxA},
        {TShapeOp::BoxB, 31.7, &TMeasures::BoxB},
        {TShapeOp::Circumference, 140, &TMeasures::Circumference},
    };
    for (const auto& c : cases) {
        const TEdit result = Rescale(kRight, kLeft, c.Op, c.Wanted, false);
        const TMeasures right = MeasuresOf(result.RtTrace);
        const TMeasures left = MeasuresOf(result.LtTrace);
        EXPECT_EQ(right, (TMeasures{Mm(result.BoxA), Mm(result.BoxB), Mm(result.Circumference)}));
        EXPECT_NEAR(std::stod(right.*c.Field), c.Wanted, 0.06);
        // The left eye is rescaled to what the right eye's edit shows.
        const TEdit leftAlone = Rescale("", kLeft, c.Op, std::stod(right.*c.Field), false);
        EXPECT_EQ(result.LtTrace, leftAlone.LtTrace);
        EXPECT_NEAR(std::stod(left.*c.Field), std::stod(right.*c.Field), 0.06);
        EXPECT_EQ(result.LtTrace.size(), kLeft.size());
    }
}

TEST(RescaleJob, LeftTargetReadsTheShownValueWithTheUsersSeparator) {
    const TEdit point = Rescale(kRight, kLeft, TShapeOp::BoxA, 47.123, false);
    const TSeparator comma(',');
    const TEdit result = Rescale(kRight, kLeft, TShapeOp::BoxA, 47.123, false);
    EXPECT_EQ(result.RtTrace, point.RtTrace);
    EXPECT_EQ(result.LtTrace, point.LtTrace);
    EXPECT_NE(result.LtTrace, kLeft);
}

TEST(RescaleJob, JobWithoutARightTraceTakesTheOperatorsValue) {
    for (const TShapeOp op : {TShapeOp::BoxA, TShapeOp::BoxB, TShapeOp::Circumference}) {
        const double wanted = op == TShapeOp::Circumference ? 150 : 40;
        const TEdit result = Rescale("", kLeft, op, wanted, false);
        EXPECT_EQ(result.RtTrace, "");
        const TMeasures left = MeasuresOf(result.LtTrace);
        EXPECT_EQ(left, (TMeasures{Mm(result.BoxA), Mm(result.BoxB), Mm(result.Circumference)}));
        const std::string& value = op == TShapeOp::BoxA   ? left.BoxA
                                   : op == TShapeOp::BoxB ? left.BoxB
                                                          : left.Circumference;
        EXPECT_NEAR(std::stod(value), wanted, 0.06);
    }
}

TEST(RescaleJob, AnEyeWithoutATraceStaysEmpty) {
    for (const TShapeOp op : {TShapeOp::BoxA, TShapeOp::BoxB, TShapeOp::Circumference}) {
        const TEdit result = Rescale(kRight, "", op, 45, false);
        EXPECT_EQ(result.LtTrace, "");
        EXPECT_EQ(result.RtTrace.size(), kRight.size());
        const TEdit none = Rescale("", "", op, 45, false);
        EXPECT_EQ(none.RtTrace + none.LtTrace, "");
        EXPECT_EQ(none.BoxA + none.BoxB + none.Circumference, 0);
    }
}

TEST(RescaleJob, LockBAtDatumKeepsTheUpperHalf) {
    // Top 15 mm above and bottom 20 mm below the centre, box B 35 made 40: unlocked the whole
    // shape is stretched; locked only the lower half is, and the shape moves up to the datum.
    const TEdit free = Rescale(kRight, kLeft, TShapeOp::BoxB, 40, false);
    const TEdit locked = Rescale(kRight, kLeft, TShapeOp::BoxB, 40, true);
    const auto at = [](const std::string& trace, std::size_t point) { return trace.substr(point * 4, 4); };
    EXPECT_EQ(at(free.RtTrace, 100) + " " + at(free.RtTrace, 300) + " " + Mm(free.BoxB), "1714 2286 40.00");
    EXPECT_EQ(at(locked.RtTrace, 100) + " " + at(locked.RtTrace, 300) + " " + Mm(locked.BoxB), "2000 2071 40.71");
    EXPECT_NE(free.LtTrace, locked.LtTrace);
}

TEST(RescaleJob, EveryChangeStartsFromTheBase) {
    const TEdit wider = Rescale(kRight, kLeft, TShapeOp::BoxA, 60, false);
    const TEdit taller = Rescale(kRight, kLeft, TShapeOp::BoxB, 40, false);
    const TEdit chained = Rescale(wider.RtTrace, wider.LtTrace, TShapeOp::BoxB, 40, false);
    // The box A change is not kept: the width is the base's again.
    EXPECT_EQ(Mm(taller.BoxA), MeasuresOf(kRight).BoxA);
    EXPECT_NE(Mm(chained.BoxA), Mm(taller.BoxA));
}

TEST(RescaleJob, RefusedOrUnmeasurableRescaleRaises) {
    EXPECT_THROW(Rescale(kRight, kLeft, TShapeOp::BoxA, 250, false), Exception);
    EXPECT_THROW(Rescale(kRight, kLeft, TShapeOp::Circumference, 900, false), Exception);
    // A round right eye fits; a long, flat left eye of the same circumference would not.
    const std::string round = coretest::Circle(400, 30);
    const std::string flat = Ellipse(400, 90, 5);
    EXPECT_NO_THROW(Rescale(round, "", TShapeOp::Circumference, 450, false));
    EXPECT_THROW(Rescale(round, flat, TShapeOp::Circumference, 450, false), Exception);
    EXPECT_THROW(Rescale("0001x002", kLeft, TShapeOp::BoxA, 40, false), EConvertError);
    EXPECT_THROW(Rescale(kRight, "0001x002", TShapeOp::BoxA, 40, false), EConvertError);
}
