#include "trace/EyeShape.h"

#include "trace/TrceCalc.h"
#include "trace_shapes.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(EyeShape, MeasuresAsTheCalculatorAndBoxesTheOutline) {
    const std::string egg = trace_shapes::Egg();
    const TEyeShape shape(egg);
    TTraceCalc calc;
    calc.SetTrace(egg);
    EXPECT_EQ(shape.BoxA(), calc.BoxA());
    EXPECT_EQ(shape.BoxB(), calc.BoxB());
    EXPECT_EQ(shape.Circumference(), calc.Circumference());
    ASSERT_EQ(shape.Outline().size(), 360u);
    // The egg reaches 25 mm to the right and 15 mm to the left of its centre.
    EXPECT_NEAR(shape.Right(), 25.0, 0.01);
    EXPECT_NEAR(shape.Left(), -15.0, 0.01);
    EXPECT_NEAR(shape.Right() - shape.Left(), shape.BoxA(), 1e-9);
    EXPECT_NEAR(shape.Top() - shape.Bottom(), shape.BoxB(), 1e-9);
    EXPECT_NEAR(shape.BoxCentreX(), 5.0, 0.01);
    // From the box centre the farthest points lie above and below it, not at the widest radius.
    EXPECT_GT(shape.EffectiveDiameter(), shape.BoxA());
    EXPECT_LT(shape.EffectiveDiameter(), calc.EffectiveDiameter());
}

TEST(EyeShape, EllipseHasItsBoxAndAnEmptyTextNothing) {
    const TEyeShape ellipse(trace_shapes::Ellipse50x40());
    EXPECT_NEAR(ellipse.BoxA(), 50.0, 1e-9);
    EXPECT_NEAR(ellipse.BoxB(), 40.0, 1e-9);
    EXPECT_NEAR(ellipse.EffectiveDiameter(), 50.0, 1e-9);

    EXPECT_EQ(MakeEyeShape(""), nullptr);
    EXPECT_TRUE(TEyeShape("").Empty());
    EXPECT_THROW(TEyeShape("12x4"), std::exception);
}

TEST(EyeShape, FromTheCalculatorAsFromItsText) {
    TTraceCalc calc;
    calc.SetTrace(trace_shapes::Egg());
    calc.SetBoxA(44);
    const TEyeShape taken(calc);
    const TEyeShape parsed(calc.Trace());
    EXPECT_EQ(taken.Radii(), parsed.Radii());
    EXPECT_EQ(taken.BoxA(), parsed.BoxA());
    EXPECT_EQ(taken.Circumference(), parsed.Circumference());
    EXPECT_EQ(taken.EffectiveDiameter(), parsed.EffectiveDiameter());
    ASSERT_EQ(taken.PointCount(), calc.PointCount());
    for (std::size_t i = 0; i < calc.PointCount(); ++i)
        ASSERT_EQ(taken.Radius(i), calc.Radius(i)) << i;
    EXPECT_EQ(taken.CentredDiameter(), calc.EffectiveDiameter());
    EXPECT_EQ(taken.FarthestAngle(), calc.EffectiveDiameterAngle());

    TTraceCalc empty;
    EXPECT_EQ(MakeEyeShape(empty), nullptr);
}
