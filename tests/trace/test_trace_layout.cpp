// Tests of the drawing layout without a screen: scales, lens boxes, centres, crosses, marks and
// outline points, for both eyes, one eye and the mirrored eye, and the areas and traces that
// leave nothing to draw.
#include "trace/TraceLayout.h"

#include "common/Errors.h"
#include "trace/EyeShape.h"
#include "trace/TrceCalc.h"
#include "trace_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {
using trace_shapes::Groups;

// A 440 × 295 panel less its one-pixel bevel.
constexpr TLayoutRect kPanelArea{1, 1, 439, 294};

TTraceLayout Layout(const std::string& radii, uint16_t dbl, TDrawEyeType mode, const TLayoutRect& area = kPanelArea) {
    return LayoutTrace(TEyeShape(radii), dbl, mode, area);
}

class TraceLayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        TTraceCalc calc;
        calc.SetTrace(Ellipse);
        ASSERT_EQ(calc.BoxA(), 50.0);
        ASSERT_EQ(calc.BoxB(), 40.0);
        ASSERT_EQ(calc.EffectiveDiameter(), 50.0);
        ASSERT_EQ(calc.EffectiveDiameterAngle(), 0.0);
        ASSERT_EQ(calc.PointCount(), 360u);
    }
    const std::string Ellipse = trace_shapes::Ellipse50x40();
};

TEST_F(TraceLayoutTest, BothEyesSideBySideWithTheGapBetween) {
    const TTraceLayout layout = Layout(Ellipse, 1800, deBoth);
    EXPECT_DOUBLE_EQ(layout.Scale, 118.0 / 438);
    ASSERT_EQ(layout.Eyes.size(), 2u);

    const TEyeDrawing& right = layout.Eyes[0];
    EXPECT_EQ(right.Eye, deRight);
    EXPECT_EQ(right.Box, (TLayoutRect{2, 73, 187, 221}));
    EXPECT_EQ(right.Centre, (TLayoutPoint{94, 147}));
    EXPECT_EQ(right.CrossArm, 4); // 185 div 50 = 3, raised to the minimum
    ASSERT_EQ(right.Polygon.size(), 360u);
    EXPECT_EQ(right.Polygon[0], (TLayoutPoint{186, 147}));
    EXPECT_EQ(right.Polygon[90], (TLayoutPoint{94, 73}));

    const TEyeDrawing& left = layout.Eyes[1];
    EXPECT_EQ(left.Eye, deLeft);
    EXPECT_EQ(left.Box, (TLayoutRect{253, 73, 438, 221}));
    EXPECT_EQ(left.Centre, (TLayoutPoint{345, 147}));
    EXPECT_EQ(left.CrossArm, 4);
    // Mirrored: angle 0 points at the gap, towards the other eye.
    EXPECT_EQ(left.Polygon[0], (TLayoutPoint{253, 147}));
    EXPECT_EQ(left.Polygon[90], (TLayoutPoint{345, 73}));
}

TEST_F(TraceLayoutTest, OneEyeFillsTheLimitingDirection) {
    const TTraceLayout layout = Layout(Ellipse, 1800, deRight);
    EXPECT_DOUBLE_EQ(layout.Scale, 40.0 / 293);
    ASSERT_EQ(layout.Eyes.size(), 1u);
    const TEyeDrawing& eye = layout.Eyes[0];
    EXPECT_EQ(eye.Eye, deRight);
    EXPECT_EQ(eye.Box, (TLayoutRect{37, 1, 403, 293}));
    EXPECT_EQ(eye.Centre, (TLayoutPoint{220, 147}));
    EXPECT_EQ(eye.CrossArm, 8);                            // 366 div 50 = 7, odd, raised to 8
    EXPECT_EQ(eye.Polygon[0], (TLayoutPoint{403, 147}));   // 25.00 mm at angle 0
    EXPECT_EQ(eye.Polygon[90], (TLayoutPoint{220, 1}));    // 20.00 mm at 90°, up
    EXPECT_EQ(eye.Polygon[270], (TLayoutPoint{220, 293})); // and at 270°, down
    // 25 mm at this box's scale is 182.99999... pixels: rounded for the outline, truncated for
    // the mark.
    EXPECT_EQ(eye.MarkEnd, (TLayoutPoint{402, 147}));
}

TEST_F(TraceLayoutTest, LeftEyeIsTheMirrorImage) {
    const TEyeDrawing right = Layout(Ellipse, 0, deRight).Eyes.at(0);
    const TEyeDrawing left = Layout(Ellipse, 0, deLeft).Eyes.at(0);
    EXPECT_EQ(left.Eye, deLeft);
    EXPECT_EQ(left.Box, right.Box);
    EXPECT_EQ(left.Polygon[0], (TLayoutPoint{37, 147}));
    EXPECT_EQ(left.MarkEnd, (TLayoutPoint{38, 147}));
    ASSERT_EQ(left.Polygon.size(), right.Polygon.size());
    for (std::size_t i = 0; i < right.Polygon.size(); ++i) {
        EXPECT_EQ(left.Polygon[i].X - 220, 220 - right.Polygon[i].X) << i;
        EXPECT_EQ(left.Polygon[i].Y, right.Polygon[i].Y) << i;
    }
}

TEST_F(TraceLayoutTest, DblInWholeMillimetresOrHundredths) {
    for (const auto& [given, stored] : std::vector<std::pair<uint16_t, uint16_t>>{
             {0, 0}, {1, 100}, {18, 1800}, {99, 9900}, {100, 100}, {1800, 1800}, {65535, 65535}})
        EXPECT_EQ(NormaliseDBL(given), stored) << given;

    const TTraceLayout hundredths = Layout(Ellipse, 1800, deBoth);
    const TTraceLayout millimetres = Layout(Ellipse, 18, deBoth);
    EXPECT_EQ(millimetres.Eyes.at(0).Box, hundredths.Eyes.at(0).Box);
    EXPECT_EQ(millimetres.Eyes.at(1).Box, hundredths.Eyes.at(1).Box);

    // No gap: the boxes meet at the centre of the area.
    const TTraceLayout touching = Layout(Ellipse, 0, deBoth);
    EXPECT_EQ(touching.Eyes.at(0).Box.Right, 220);
    EXPECT_EQ(touching.Eyes.at(1).Box.Left, 220);
}

TEST_F(TraceLayoutTest, GapBelowOneMillimetreLaidOutInHundredths) {
    const TEyeShape shape(Ellipse);
    // 0.50 mm: about a pixel either side at 100.5/438 mm per pixel; read through NormaliseDBL
    // the same 50 would be a 50 mm gap.
    const TTraceLayout narrow = LayoutTraceHundredths(shape, 50, deBoth, kPanelArea);
    EXPECT_EQ(narrow.Eyes.at(0).Box.Right, 219);
    EXPECT_EQ(narrow.Eyes.at(1).Box.Left, 221);
    const TTraceLayout wide = LayoutTrace(shape, 50, deBoth, kPanelArea);
    EXPECT_LT(wide.Eyes.at(0).Box.Right, 220 - 50);
}

// Outline points round to the nearest pixel with ties to even: at 0.5 mm per pixel 12.25 mm is
// 24.5 pixels (24) and 12.75 mm is 25.5 pixels (26).
TEST(TraceLayout, OutlineRoundsHalvesToEven) {
    const TTraceLayout layout = Layout(Groups({2500, 1225, 2500, 1275}), 0, deRight, {0, 0, 100, 60});
    ASSERT_EQ(layout.Eyes.size(), 1u);
    const TEyeDrawing& eye = layout.Eyes[0];
    EXPECT_EQ(eye.Box, (TLayoutRect{0, 5, 100, 55}));
    EXPECT_EQ(eye.Centre, (TLayoutPoint{50, 30}));
    EXPECT_EQ(eye.Polygon, (std::vector<TLayoutPoint>{{100, 30}, {50, 6}, {0, 30}, {50, 56}}));
}

// Four points share the largest radius 11.50 mm at 45°, 135°, 225° and 315°: the mark goes to
// the first, and is truncated (32.53 pixels give 32) where the outline point is rounded (33).
TEST(TraceLayout, MarkPointsToTheFirstLargestRadius) {
    const std::string radii = Groups({1000, 1150, 1000, 1150, 1000, 1150, 1000, 1150});
    const TEyeDrawing right = Layout(radii, 0, deRight, {0, 0, 80, 80}).Eyes.at(0);
    EXPECT_EQ(right.Centre, (TLayoutPoint{40, 40}));
    EXPECT_EQ(right.Polygon[1], (TLayoutPoint{73, 7}));
    EXPECT_EQ(right.MarkEnd, (TLayoutPoint{72, 8}));
    const TEyeDrawing left = Layout(radii, 0, deLeft, {0, 0, 80, 80}).Eyes.at(0);
    EXPECT_EQ(left.Polygon[1], (TLayoutPoint{7, 7}));
    EXPECT_EQ(left.MarkEnd, (TLayoutPoint{8, 8}));
}

TEST(TraceLayout, EveryPointOfALongTraceIsDrawn) {
    const std::string radii = trace_shapes::Ellipse50x40(4096);
    const TTraceLayout layout = Layout(radii, 0, deRight);
    ASSERT_EQ(layout.Eyes.size(), 1u);
    const TEyeDrawing& eye = layout.Eyes[0];
    ASSERT_EQ(eye.Polygon.size(), 4096u);
    EXPECT_EQ(eye.Box, (TLayoutRect{37, 1, 403, 293}));
    EXPECT_EQ(eye.Polygon[0], (TLayoutPoint{403, 147}));
    EXPECT_EQ(eye.Polygon[1024], (TLayoutPoint{220, 1}));
    EXPECT_EQ(eye.Polygon[2048], (TLayoutPoint{37, 147}));
}

// Nothing to scale to or nothing to scale: the background alone, without an error.
TEST(TraceLayout, NothingToDrawGivesNoEyes) {
    const std::string ellipse = trace_shapes::Ellipse50x40();
    struct Case {
        const char* Name;
        std::string Radii;
        TLayoutRect Area;
    };
    const std::vector<Case> cases{
        {"empty trace", "", kPanelArea},
        {"less than one group", "250", kPanelArea},
        {"all radii 0", Groups({0, 0, 0, 0, 0, 0, 0, 0}), kPanelArea},
        {"zero width", ellipse, {5, 1, 5, 294}},
        {"zero height", ellipse, {1, 7, 439, 7}},
        {"inverted", ellipse, {439, 294, 1, 1}},
        {"too small for a box", ellipse, {0, 0, 1, 1}},
    };
    for (const Case& c : cases)
        for (TDrawEyeType mode : {deBoth, deRight, deLeft}) {
            TTraceLayout layout;
            EXPECT_NO_THROW(layout = Layout(c.Radii, 1800, mode, c.Area)) << c.Name;
            EXPECT_TRUE(layout.Eyes.empty()) << c.Name << " mode " << int(mode);
        }
}

// One point: box A 25.00 (the box holds the centre), box B 0 — a flat shape on the centre line.
TEST(TraceLayout, ZeroBoxBDrawsFlat) {
    for (TDrawEyeType mode : {deBoth, deRight, deLeft}) {
        const TTraceLayout layout = Layout(Groups({2500}), 1800, mode);
        ASSERT_FALSE(layout.Eyes.empty()) << int(mode);
        for (const TEyeDrawing& eye : layout.Eyes) {
            EXPECT_EQ(eye.Box.Top, 147);
            EXPECT_EQ(eye.Box.Bottom, 147);
            ASSERT_EQ(eye.Polygon.size(), 1u);
            EXPECT_EQ(eye.Polygon[0].Y, 147);
            EXPECT_NE(eye.Polygon[0].X, eye.Centre.X);
        }
    }
}

TEST(TraceLayout, MalformedTraceRaisesTheConversionError) {
    const std::string radii = trace_shapes::Ellipse50x40().substr(0, 40) + "25x0";
    for (const TLayoutRect& area : {kPanelArea, TLayoutRect{}}) {
        try {
            Layout(radii, 0, deBoth, area);
            ADD_FAILURE() << "no error";
        } catch (const EConvertError& error) {
            EXPECT_STREQ(error.what(), "'25x0' is not a valid integer value");
        }
    }
}

// ---- at a given scale --------------------------------------------------------------------------

struct TScaleCase {
    const char* Name;
    std::string Radii;
    double Dbl;
    double PixelsPerMmX;
    double PixelsPerMmY;
    TLayoutRect Area;
    TLayoutRect RightBox;
    TLayoutRect LeftBox;
    TLayoutPoint RightCentre;
    TLayoutPoint LeftCentre;
    std::size_t Point; // an outline point whose place both eyes are checked for
    TLayoutPoint RightPoint;
    TLayoutPoint LeftPoint;
};

TEST(TraceLayoutAtScale, BothEyesAtTheScaleGivenWithTheDblBetweenTheBoxes) {
    const std::string ellipse = trace_shapes::Ellipse50x40();
    const std::string egg = trace_shapes::Egg();
    constexpr TLayoutRect area{0, 0, 600, 400}; // centre (300, 200)
    const TScaleCase cases[] = {
        // 50 + 18 + 50 mm at 4 px/mm: 472 pixels, the middle of the DBL on x = 300.
        {"square pixels",
         ellipse,
         18,
         4,
         4,
         area,
         {64, 120, 264, 280},
         {336, 120, 536, 280},
         {164, 200},
         {436, 200},
         0,
         {264, 200},
         {336, 200}},
        {"top of the outline",
         ellipse,
         18,
         4,
         4,
         area,
         {64, 120, 264, 280},
         {336, 120, 536, 280},
         {164, 200},
         {436, 200},
         90,
         {164, 120},
         {436, 120}},
        // Taller than wide pixels: the vertical scale of its own.
        {"other vertical scale",
         ellipse,
         18,
         4,
         2,
         area,
         {64, 160, 264, 240},
         {336, 160, 536, 240},
         {164, 200},
         {436, 200},
         90,
         {164, 160},
         {436, 160}},
        // 100 dpi: 3.937 px/mm, each edge rounded on its own (nasal 264.57, temple 67.72).
        {"100 dpi",
         ellipse,
         18,
         100 / 25.4,
         100 / 25.4,
         area,
         {68, 121, 265, 279},
         {335, 121, 532, 279},
         {166, 200},
         {434, 200},
         0,
         {265, 200},
         {335, 200}},
        {"no DBL: the boxes touch",
         ellipse,
         0,
         4,
         4,
         area,
         {100, 120, 300, 280},
         {300, 120, 500, 280},
         {200, 200},
         {400, 200},
         0,
         {300, 200},
         {300, 200}},
        // 25 mm nasal, 15 mm temporal of the trace centre: the box centre is 5 mm nasal of it
        // and the nasal edges stay the DBL apart.
        {"trace centre off the box centre",
         egg,
         18,
         4,
         4,
         area,
         {104, 0, 264, 0},
         {336, 0, 496, 0},
         {184, 200},
         {416, 200},
         180,
         {104, 200},
         {496, 200}},
        // Larger than the area: laid out all the same, reaching past it.
        {"larger than the area",
         ellipse,
         18,
         4,
         4,
         {0, 0, 200, 100},
         {-136, -30, 64, 130},
         {136, -30, 336, 130},
         {-36, 50},
         {236, 50},
         0,
         {64, 50},
         {136, 50}},
    };
    for (const TScaleCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TEyeShape shape(c.Radii);
        const TTraceLayout layout = LayoutTraceAtScale(shape, c.Dbl, c.PixelsPerMmX, c.PixelsPerMmY, c.Area);
        EXPECT_DOUBLE_EQ(layout.Scale, 1 / c.PixelsPerMmX);
        ASSERT_EQ(layout.Eyes.size(), 2u);
        const TEyeDrawing& right = layout.Eyes[0];
        const TEyeDrawing& left = layout.Eyes[1];
        EXPECT_EQ(right.Eye, deRight);
        EXPECT_EQ(left.Eye, deLeft);
        if (c.RightBox.Top == c.RightBox.Bottom) { // only the horizontal edges given
            EXPECT_EQ(right.Box.Left, c.RightBox.Left);
            EXPECT_EQ(right.Box.Right, c.RightBox.Right);
            EXPECT_EQ(left.Box.Left, c.LeftBox.Left);
            EXPECT_EQ(left.Box.Right, c.LeftBox.Right);
        } else {
            EXPECT_EQ(right.Box, c.RightBox);
            EXPECT_EQ(left.Box, c.LeftBox);
        }
        EXPECT_EQ(right.Centre, c.RightCentre);
        EXPECT_EQ(left.Centre, c.LeftCentre);
        ASSERT_EQ(right.Polygon.size(), shape.Outline().size());
        ASSERT_EQ(left.Polygon.size(), shape.Outline().size());
        EXPECT_EQ(right.Polygon[c.Point], c.RightPoint);
        EXPECT_EQ(left.Polygon[c.Point], c.LeftPoint);
    }
}

TEST(TraceLayoutAtScale, MarkRunsFromTheBoxCentreToTheFarthestPoint) {
    const TEyeShape shape(trace_shapes::Egg());
    const TTraceLayout layout = LayoutTraceAtScale(shape, 18, 10, 10, {0, 0, 1200, 800});
    ASSERT_EQ(layout.Eyes.size(), 2u);
    for (const TEyeDrawing& eye : layout.Eyes) {
        const double reach = std::hypot(eye.MarkEnd.X - eye.Centre.X, eye.MarkEnd.Y - eye.Centre.Y);
        // Half the effective diameter at 10 px/mm, within the rounding of two points.
        EXPECT_NEAR(reach, shape.EffectiveDiameter() / 2 * 10, 1.5);
        EXPECT_NE(std::find(eye.Polygon.begin(), eye.Polygon.end(), eye.MarkEnd), eye.Polygon.end());
    }
    // The mirrored eye's mark mirrors the right eye's about the middle of the DBL.
    EXPECT_EQ(layout.Eyes[0].MarkEnd.X + layout.Eyes[1].MarkEnd.X, 2 * 600);
    EXPECT_EQ(layout.Eyes[0].MarkEnd.Y, layout.Eyes[1].MarkEnd.Y);
}

// The left eye as traced: its own mirror image of the right trace lays out exactly as the right
// trace mirrored for it, and an eye of another size keeps its own box at the same scale.
TEST(TraceLayoutAtScale, TheLeftTraceWhenGivenIsDrawnAsTraced) {
    const std::string egg = trace_shapes::Egg();
    TTraceCalc calc;
    calc.SetTrace(egg);
    const TEyeShape right(egg);
    const TEyeShape mirrored(calc.MirroredTrace());
    const TLayoutRect area{0, 0, 1200, 800};
    const TTraceLayout alone = LayoutTraceAtScale(right, 18, 5, 5, area);
    const TTraceLayout withLeft = LayoutTraceAtScale(right, 18, 5, 5, area, &mirrored);
    ASSERT_EQ(withLeft.Eyes.size(), 2u);
    EXPECT_EQ(withLeft.Eyes[1].Box, alone.Eyes[1].Box);
    EXPECT_EQ(withLeft.Eyes[1].Centre, alone.Eyes[1].Centre);
    EXPECT_EQ(withLeft.Eyes[1].MarkEnd, alone.Eyes[1].MarkEnd);
    EXPECT_EQ(withLeft.Eyes[0].Polygon, alone.Eyes[0].Polygon);

    const TEyeShape smaller(trace_shapes::Ellipse50x40());
    const TTraceLayout pair = LayoutTraceAtScale(right, 18, 5, 5, area, &smaller);
    ASSERT_EQ(pair.Eyes.size(), 2u);
    // 18 mm apart from nasal edge to nasal edge, the left box 50 mm wide, both centred on y.
    EXPECT_EQ(pair.Eyes[1].Box.Left - pair.Eyes[0].Box.Right, 90);
    EXPECT_EQ(pair.Eyes[1].Box.Right - pair.Eyes[1].Box.Left, 250);
    EXPECT_EQ(pair.Eyes[1].Centre.Y, 400);
    EXPECT_EQ(pair.Eyes[0].Centre.Y, 400);
}

TEST(TraceLayoutAtScale, NothingToDrawGivesNoEyes) {
    const TEyeShape ellipse(trace_shapes::Ellipse50x40());
    const TEyeShape empty{std::string()};
    constexpr TLayoutRect area{0, 0, 600, 400};
    EXPECT_TRUE(LayoutTraceAtScale(empty, 18, 4, 4, area).Eyes.empty());
    EXPECT_TRUE(LayoutTraceAtScale(ellipse, 18, 0, 4, area).Eyes.empty());
    EXPECT_TRUE(LayoutTraceAtScale(ellipse, 18, 4, std::nan(""), area).Eyes.empty());
    EXPECT_TRUE(LayoutTraceAtScale(ellipse, 18, 4, 4, {10, 10, 10, 400}).Eyes.empty());
    // A DBL below zero or no number is no gap, not an overlap.
    for (const double dbl : {-5.0, std::nan("")})
        EXPECT_EQ(LayoutTraceAtScale(ellipse, dbl, 4, 4, area).Eyes[0].Box.Right, 300);
}
} // namespace
