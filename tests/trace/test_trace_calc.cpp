// Tests of TTraceCalc: measurements, box and circumference changes, refusals, mirroring and
// single radii, plus a literal quadratic rescale that the linear-time one must match exactly;
// rounding with ties to even in every floating width.
#include "trace/TrceCalc.h"

#include "common/Errors.h"
#include "common/Numbers.h"
#include "trace/RoundTiesToEven.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <typeinfo>
#include <vector>

namespace {
constexpr double kPi = std::numbers::pi;

std::string Group(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%.4d", value);
    return text;
}

std::string Repeat(const std::string& group, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += group;
    return text;
}

// A trace of `count` points sampled from a radius in mm as a function of the angle.
std::string MakeTrace(std::size_t count, const std::function<double(double)>& radius) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += Group(static_cast<int>(std::lround(radius(2 * kPi * i / count) * 100)));
    return text;
}

// An outline 50 mm wide whose upper half is an ellipse 15 mm high and whose lower half is one
// 20 mm deep: radius 15.00 at 90°, 20.00 at 270°, box B 35.
double TopAndBottom(double theta) {
    const double a = 25;
    const double b = std::sin(theta) >= 0 ? 15 : 20;
    return a * b / std::hypot(b * std::cos(theta), a * std::sin(theta));
}

std::string Mm(double value) {
    return FormatFixed(value, 2);
}

// The message of the Exception `action` raises; fails the test when it raises nothing.
std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& error) {
        return error.what();
    }
    ADD_FAILURE() << "no exception";
    return {};
}

class DecimalSeparatorGuard {
public:
    explicit DecimalSeparatorGuard(char separator) : FSaved(DecimalSeparator()) { SetDecimalSeparator(separator); }
    ~DecimalSeparatorGuard() { SetDecimalSeparator(FSaved); }

private:
    char FSaved;
};

const std::string kCircle400 = Repeat("2500", 400);
const std::string kCircle10 = Repeat("2500", 10);
} // namespace

TEST(TraceCalcTest, NewObjectIsEmptyAndMeasuresZero) {
    TTraceCalc calc;
    EXPECT_EQ(calc.OriginalTrace(), "");
    EXPECT_EQ(calc.CurrentTrace(), "");
    EXPECT_FALSE(calc.MeasurementsStale());
    EXPECT_FALSE(calc.RescalePending());
    EXPECT_FALSE(calc.LockBAtDatum);
    EXPECT_EQ(calc.Trace(), "");
    EXPECT_EQ(calc.BoxA(), 0);
    EXPECT_EQ(calc.BoxB(), 0);
    EXPECT_EQ(calc.Circumference(), 0);
    EXPECT_EQ(calc.EffectiveDiameter(), 0);
    EXPECT_EQ(calc.EffectiveDiameterAngle(), 0);
    EXPECT_EQ(calc.PointCount(), 0u);
    EXPECT_EQ(calc.MirroredTrace(), "");
}

TEST(TraceCalcTest, MeasuresKnownShapes) {
    struct Case {
        const char* name;
        std::string text;
        double boxA, boxB, circumference, diameter, angle;
    };
    const double circle = 400 * 50 * std::sin(kPi / 400);
    const Case cases[] = {
        {"circle of 400", kCircle400, 50, 50, circle, 50, 0},
        {"trailing characters ignored", kCircle400 + "123", 50, 50, circle, 50, 0},
        {"single group", "1234", 12.34, 0, 0, 24.68, 0},
        {"all radii zero", Repeat("0000", 8), 0, 0, 0, 0, 0},
        // Equal largest radii at 90° and 180°: the first wins, also for a radius (12.34) that a
        // double does not hold exactly.
        {"first of equal largest radii", "0100123412340100", 13.34, 13.34,
         std::sqrt(2.0) + 2 * std::sqrt(1 + 12.34 * 12.34) + 12.34 * std::sqrt(2.0), 24.68, 90},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTraceCalc calc;
        calc.SetTrace(c.text);
        EXPECT_NEAR(calc.BoxA(), c.boxA, 1e-9);
        EXPECT_NEAR(calc.BoxB(), c.boxB, 1e-9);
        EXPECT_NEAR(calc.Circumference(), c.circumference, 1e-9);
        EXPECT_NEAR(calc.EffectiveDiameter(), c.diameter, 1e-12);
        EXPECT_NEAR(calc.EffectiveDiameterAngle(), c.angle, 1e-9);
        EXPECT_FALSE(calc.MeasurementsStale());
        EXPECT_EQ(calc.WantedA(), calc.BoxA());
        EXPECT_EQ(calc.WantedB(), calc.BoxB());
    }
}

TEST(TraceCalcTest, CircleCircumferenceIsTheInscribedPolygon) {
    TTraceCalc calc;
    calc.SetTrace(kCircle400);
    EXPECT_EQ(FormatFixed(calc.Circumference(), 3), "157.078");
}

TEST(TraceCalcTest, ZeroRadiiKeepThePreviousDiameterAngle) {
    TTraceCalc calc;
    calc.SetTrace("0100123412340100");
    EXPECT_EQ(calc.EffectiveDiameterAngle(), 90);
    calc.SetTrace(Repeat("0000", 8));
    EXPECT_EQ(calc.EffectiveDiameter(), 0);
    EXPECT_EQ(calc.EffectiveDiameterAngle(), 90);
}

TEST(TraceCalcTest, EmptyTextStaysStaleAndKeepsEarlierBoxes) {
    TTraceCalc calc;
    calc.SetTrace(kCircle10);
    EXPECT_NEAR(calc.BoxA(), 50, 1e-9);
    calc.SetTrace("");
    EXPECT_EQ(calc.Circumference(), 0);
    EXPECT_EQ(calc.EffectiveDiameter(), 0);
    EXPECT_NEAR(calc.BoxA(), 50, 1e-9);
    EXPECT_TRUE(calc.MeasurementsStale());
}

TEST(TraceCalcTest, BlankPaddedAndSignedGroupsReadAsNumbers) {
    TTraceCalc padded;
    padded.SetTrace(" 950+950  95-000");
    TTraceCalc zeros;
    zeros.SetTrace("0950095000950000");
    EXPECT_EQ(padded.BoxA(), zeros.BoxA());
    EXPECT_EQ(padded.BoxB(), zeros.BoxB());
    EXPECT_EQ(padded.Circumference(), zeros.Circumference());
    EXPECT_EQ(padded.Radius(0), 9.5);
    EXPECT_EQ(padded.Radius(1), 9.5);
    EXPECT_EQ(padded.Radius(2), 0.95);
    EXPECT_EQ(padded.Radius(3), 0);
}

TEST(TraceCalcTest, MeasuresOnceOnTheFirstGetterAfterAChange) {
    TTraceCalc calc;
    calc.SetTrace(kCircle10);
    EXPECT_TRUE(calc.MeasurementsStale());
    EXPECT_FALSE(calc.RescalePending());
    EXPECT_NEAR(calc.BoxB(), 2 * 25 * std::sin(2 * kPi * 2 / 10), 1e-9);
    EXPECT_FALSE(calc.MeasurementsStale());

    // A box change measures first and waits for a getter.
    calc.SetTrace(kCircle400);
    calc.SetBoxA(55);
    EXPECT_FALSE(calc.MeasurementsStale());
    EXPECT_TRUE(calc.RescalePending());
    EXPECT_EQ(calc.WantedA(), 55);
    EXPECT_EQ(calc.CurrentTrace(), kCircle400);
    EXPECT_EQ(calc.PointCount(), 400u);
    EXPECT_EQ(calc.Radius(1), 25);
    calc.Trace();
    EXPECT_FALSE(calc.RescalePending());
    EXPECT_FALSE(calc.MeasurementsStale());
    EXPECT_NE(calc.CurrentTrace(), kCircle400);
}

TEST(TraceCalcTest, GroupThatIsNotANumberFailsTheMeasurement) {
    struct Case {
        const char* text;
        const char* message;
    } const cases[] = {
        {"100012x41000", "'12x4' is not a valid integer value"},
        // The last group is read first, for the chord that closes the outline.
        {"100010001x00", "'1x00' is not a valid integer value"},
        {"1000100010 0", "'10 0' is not a valid integer value"},
        {"10001000100 ", "'100 ' is not a valid integer value"},
        {"1000    1000", "'    ' is not a valid integer value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TTraceCalc calc;
        calc.SetTrace(c.text);
        try {
            calc.BoxA();
            ADD_FAILURE() << "no exception";
        } catch (const EConvertError& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
        EXPECT_TRUE(calc.MeasurementsStale());
        EXPECT_THROW(calc.SetBoxA(10), EConvertError);
        EXPECT_FALSE(calc.RescalePending());
        EXPECT_EQ(calc.WantedA(), 0);
        EXPECT_THROW(calc.SetCircumference(10), EConvertError);
        EXPECT_EQ(calc.CurrentTrace(), c.text);
    }
}

TEST(TraceCalcTest, CharactersAfterTheLastGroupAreNotRead) {
    TTraceCalc calc;
    calc.SetTrace("100010001000x y");
    EXPECT_EQ(calc.PointCount(), 3u);
    EXPECT_NO_THROW(calc.BoxA());
}

TEST(TraceCalcTest, RadiusReadsOneGroupOrExplainsTheFailure) {
    struct Case {
        std::string text;
        std::size_t index;
        const char* message;
    } const cases[] = {
        {"", 0, "Invalid data point 0 requested\r(valid values are 0 through -1)"},
        {"100010011002", 3, "Invalid data point 3 requested\r(valid values are 0 through 2)"},
        {"100010011002xy", 3, "Invalid data point 3 requested\r(valid values are 0 through 2)"},
        {"100010011002", 65536, "Invalid data point 65536 requested\r(valid values are 0 through 2)"},
        {"100012x41002", 1, "Error retrieving data point 1\r'12x4' is not a valid integer value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        TTraceCalc calc;
        calc.SetTrace(c.text);
        try {
            calc.Radius(c.index);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& error) {
            EXPECT_STREQ(error.what(), c.message);
            EXPECT_EQ(typeid(error), typeid(Exception));
        }
    }
    TTraceCalc calc;
    calc.SetTrace("100012x40950");
    EXPECT_EQ(calc.Radius(0), 10);
    EXPECT_EQ(calc.Radius(2), 9.5);
}

TEST(TraceCalcTest, MirrorsAboutTheVerticalAxis) {
    struct Case {
        std::vector<int> groups;
        std::vector<int> mirrored;
    } const cases[] = {
        {{1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007}, {1004, 1003, 1002, 1001, 1000, 1007, 1006, 1005}},
        {{1000, 1001, 1002, 1003, 1004, 1005, 1006}, {1003, 1002, 1001, 1000, 1006, 1005, 1004}},
        {{1234}, {1234}},
        {{1000, 2000}, {2000, 1000}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        std::string text;
        std::string expected;
        for (int g : c.groups)
            text += Group(g);
        for (int g : c.mirrored)
            expected += Group(g);
        SCOPED_TRACE(text);
        TTraceCalc calc;
        calc.SetTrace(text + "xy");
        EXPECT_EQ(calc.MirroredTrace(), expected) << "the characters after the last group are dropped";
        TTraceCalc back;
        back.SetTrace(expected);
        EXPECT_EQ(back.MirroredTrace(), text);
    }
}

TEST(TraceCalcTest, MirrorOfAnAsymmetricShapeSwapsLeftAndRight) {
    // Wider to the right (0°) than to the left (180°): the mirror image is wider to the left.
    TTraceCalc calc;
    calc.SetTrace(MakeTrace(512, [](double theta) { return 25 + 3 * std::cos(theta); }));
    TTraceCalc mirrored;
    mirrored.SetTrace(calc.MirroredTrace());
    EXPECT_EQ(mirrored.Radius(0), calc.Radius(256));
    EXPECT_EQ(mirrored.Radius(256), calc.Radius(0));
    EXPECT_EQ(mirrored.Radius(128), calc.Radius(128));
    EXPECT_NEAR(mirrored.BoxA(), calc.BoxA(), 1e-9);
    EXPECT_NEAR(mirrored.Circumference(), calc.Circumference(), 1e-9);
}

TEST(TraceCalcTest, BoxAChangeOfACircle) {
    TTraceCalc calc;
    calc.SetTrace(kCircle400);
    calc.SetBoxA(55);
    const std::string trace = calc.Trace();
    EXPECT_EQ(trace.substr(0, 16), "2750275027502749");
    EXPECT_EQ(trace.size(), kCircle400.size());
    EXPECT_EQ(Mm(calc.BoxA()), "55.00");
    EXPECT_EQ(Mm(calc.BoxB()), "50.00");
    EXPECT_EQ(calc.WantedA(), calc.BoxA());
    EXPECT_EQ(calc.OriginalTrace(), kCircle400);
    // Stretched along x only: the radius at 90° keeps its length.
    EXPECT_EQ(calc.Radius(100), 25);
    EXPECT_EQ(calc.Radius(200), 27.5);
}

TEST(TraceCalcTest, BoxChangeDropsTrailingCharacters) {
    TTraceCalc calc;
    calc.SetTrace(kCircle400 + "12");
    calc.SetBoxB(45);
    EXPECT_EQ(calc.Trace().size(), kCircle400.size());
    EXPECT_EQ(Mm(calc.BoxB()), "45.00");
}

TEST(TraceCalcTest, BoxBChangeWithAndWithoutLockAtDatum) {
    struct Case {
        bool lock;
        double top, bottom;
        const char* boxB;
    } const cases[] = {
        {false, 17.14, 22.86, "40.00"},
        {true, 20.00, 20.71, "40.71"},
    };
    const std::string shape = MakeTrace(400, TopAndBottom);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lock ? "locked" : "not locked");
        TTraceCalc calc;
        calc.LockBAtDatum = c.lock;
        calc.SetTrace(shape);
        ASSERT_EQ(calc.Radius(100), 15);
        ASSERT_EQ(calc.Radius(300), 20);
        ASSERT_EQ(Mm(calc.BoxB()), "35.00");
        calc.SetBoxB(40);
        calc.Trace();
        EXPECT_DOUBLE_EQ(calc.Radius(100), c.top);
        EXPECT_DOUBLE_EQ(calc.Radius(300), c.bottom);
        EXPECT_EQ(Mm(calc.BoxB()), c.boxB);
        EXPECT_EQ(Mm(calc.BoxA()), "50.00");
    }
}

TEST(TraceCalcTest, LockedBoxAChangeEqualsTheUnlockedOne) {
    const std::string shape = MakeTrace(400, TopAndBottom);
    TTraceCalc plain;
    plain.SetTrace(shape);
    plain.SetBoxA(53);
    TTraceCalc locked;
    locked.LockBAtDatum = true;
    locked.SetTrace(shape);
    locked.SetBoxA(53);
    EXPECT_EQ(locked.Trace(), plain.Trace());
    EXPECT_EQ(Mm(locked.BoxA()), "53.00");
    EXPECT_EQ(Mm(locked.BoxB()), "35.00");
}

TEST(TraceCalcTest, BoxChangeOfAZeroBoxStaysPending) {
    struct Case {
        const char* name;
        std::string text;
        bool changeA;
    } const cases[] = {
        {"all radii zero, box A", Repeat("0000", 8), true},
        {"single group, box B 0, box A asked", "1234", true},
        {"empty text", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTraceCalc calc;
        calc.SetTrace(c.text);
        const double boxA = calc.BoxA();
        const double boxB = calc.BoxB();
        if (c.changeA)
            calc.SetBoxA(20);
        else
            calc.SetBoxB(20);
        EXPECT_EQ(calc.Trace(), c.text);
        EXPECT_EQ(calc.BoxA(), boxA);
        EXPECT_EQ(calc.BoxB(), boxB);
        EXPECT_TRUE(calc.RescalePending());
    }
}

TEST(TraceCalcTest, SecondBoxChangeScalesTheOriginalByTheCurrentFactor) {
    // Deliberate: the second change takes its factor from the current size (55) but
    // applies it to the trace as given (50), so 50 × 60 / 55. Callers use a new object per change.
    TTraceCalc calc;
    calc.SetTrace(kCircle400);
    calc.SetBoxA(55);
    EXPECT_EQ(Mm(calc.BoxA()), "55.00");
    calc.SetBoxA(60);
    EXPECT_NEAR(calc.BoxA(), 50.0 * 60 / 55, 0.01);
}

TEST(TraceCalcTest, BoxChangeOfMoreThan4096Points) {
    TTraceCalc calc;
    calc.LockBAtDatum = true;
    calc.SetTrace(MakeTrace(6000, TopAndBottom));
    calc.SetBoxB(40);
    EXPECT_EQ(calc.Trace().size(), 6000u * 4);
    EXPECT_EQ(calc.Radius(1500), 20);
    // As with 400 points, to within the rounding of the finer radii.
    EXPECT_NEAR(calc.BoxB(), 40.71, 0.015);
}

TEST(TraceCalcTest, CircumferenceChangeScalesEveryRadius) {
    TTraceCalc calc;
    calc.SetTrace(kCircle400 + "xyz");
    calc.Circumference();
    calc.SetCircumference(150);
    EXPECT_TRUE(calc.MeasurementsStale());
    EXPECT_EQ(calc.CurrentTrace(), Repeat("2387", 400) + "xyz");
    EXPECT_EQ(calc.OriginalTrace(), kCircle400 + "xyz");
    EXPECT_FALSE(calc.RescalePending());
    EXPECT_NEAR(calc.Circumference(), 150, 0.01 * 2 * kPi);
    EXPECT_EQ(calc.Radius(399), 23.87);
}

TEST(TraceCalcTest, CircumferenceChangeMeasuresAStaleTextFirst) {
    // Nothing measured yet: the held circumference is 0, so the comparison does not stop it.
    TTraceCalc calc;
    calc.SetTrace(kCircle400);
    calc.SetCircumference(150);
    EXPECT_EQ(calc.Trace(), Repeat("2387", 400));
}

TEST(TraceCalcTest, CircumferenceWithinAHundredthOfTheHeldValueDoesNothing) {
    TTraceCalc calc;
    calc.SetTrace(kCircle400);
    const double held = calc.Circumference();
    for (double wanted : {held, held + 0.0099, held - 0.0099, 157.08}) {
        calc.SetCircumference(wanted);
        EXPECT_EQ(calc.CurrentTrace(), kCircle400);
        EXPECT_FALSE(calc.MeasurementsStale());
    }
    calc.SetCircumference(held + 0.02);
    EXPECT_TRUE(calc.MeasurementsStale());
}

TEST(TraceCalcTest, CircumferenceChangeOfAZeroCircumferenceDividesByZero) {
    for (const std::string& text : {std::string(), Repeat("0000", 6), std::string("1234")}) {
        SCOPED_TRACE(text);
        TTraceCalc calc;
        calc.SetTrace(text);
        try {
            calc.SetCircumference(100);
            ADD_FAILURE() << "no exception";
        } catch (const EZeroDivide& error) {
            EXPECT_STREQ(error.what(), "Floating point division by zero");
        }
        EXPECT_EQ(calc.CurrentTrace(), text);
    }
}

TEST(TraceCalcTest, CircumferenceOfZeroEmptiesEveryRadius) {
    // Wanted sizes of zero are not refused: every radius becomes 0.
    TTraceCalc calc;
    calc.SetTrace(kCircle10);
    calc.Circumference();
    calc.SetCircumference(0);
    EXPECT_EQ(calc.Trace(), Repeat("0000", 10));
}

TEST(TraceCalcTest, RefusesARadiusWithoutAFourCharacterForm) {
    // 10 × 50 × sin(π/10) = 154.508 mm around a 25 mm circle.
    struct Case {
        const char* name;
        std::function<void(TTraceCalc&)> change;
        const char* message;
    } const cases[] = {
        {"box A of 200", [](TTraceCalc& c) { c.SetBoxA(200); }, "Radius 100.00 mm is out of range (0.00 to 99.99 mm)"},
        {"box B of 400", [](TTraceCalc& c) { c.SetBoxB(400); }, "Radius 114.43 mm is out of range (0.00 to 99.99 mm)"},
        {"circumference -5", [](TTraceCalc& c) { c.SetCircumference(-5); },
         "Radius -0.81 mm is out of range (0.00 to 99.99 mm)"},
        {"circumference 700", [](TTraceCalc& c) { c.SetCircumference(700); },
         "Radius 113.26 mm is out of range (0.00 to 99.99 mm)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTraceCalc calc;
        calc.SetTrace(kCircle10);
        const double boxA = calc.BoxA();
        const double boxB = calc.BoxB();
        const double circumference = calc.Circumference();
        const std::string message = MessageOf([&] {
            c.change(calc);
            calc.Trace();
        });
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(calc.CurrentTrace(), kCircle10);
        EXPECT_FALSE(calc.RescalePending());
        EXPECT_FALSE(calc.MeasurementsStale());
        EXPECT_EQ(calc.Trace(), kCircle10);
        EXPECT_EQ(calc.BoxA(), boxA);
        EXPECT_EQ(calc.BoxB(), boxB);
        EXPECT_EQ(calc.Circumference(), circumference);
        EXPECT_EQ(calc.WantedA(), boxA);
        EXPECT_EQ(calc.WantedB(), boxB);
    }
}

TEST(TraceCalcTest, RefusalNamesTheValueWithTheUsersSeparator) {
    DecimalSeparatorGuard comma(',');
    TTraceCalc calc;
    calc.SetTrace(kCircle10);
    calc.SetBoxA(200);
    EXPECT_EQ(MessageOf([&] { calc.BoxA(); }), "Radius 100,00 mm is out of range (0,00 to 99,99 mm)");
}

TEST(TraceCalcTest, ARefusedBoxChangeIsForgotten) {
    // After SetBoxA(200) is refused, a box B change must not bring the refused width back.
    TTraceCalc calc;
    calc.SetTrace(kCircle400);
    calc.SetBoxA(200);
    EXPECT_THROW(calc.Trace(), Exception);
    calc.SetBoxB(55);
    EXPECT_EQ(Mm(calc.BoxA()), "50.00");
    EXPECT_EQ(Mm(calc.BoxB()), "55.00");
}

TEST(TraceCalcTest, ARefusedCircumferenceChangeLeavesTheObjectUsable) {
    TTraceCalc calc;
    calc.SetTrace(kCircle400);
    calc.Circumference();
    EXPECT_THROW(calc.SetCircumference(-5), Exception);
    EXPECT_FALSE(calc.MeasurementsStale());
    calc.SetCircumference(150);
    EXPECT_EQ(calc.Trace(), Repeat("2387", 400));
}

namespace {
// The rescale written the plain way: a linear scan of the tables for every interpolated
// radius and rotation one place at a time. Quadratic, but plainly faithful; the class, which
// does both in linear time, must give the same groups and refuse the same changes.
std::optional<std::string> LiteralRescale(const std::string& original, double boxA, double boxB, double wantedA,
                                          double wantedB, bool lock, bool extendedArctangent = false) {
    using Ext = long double;
    const Ext pi = std::numbers::pi_v<long double>;
    const std::size_t n = original.size() / 4;
    const double sx = static_cast<Ext>(wantedA) / boxA;
    const double sy = lock ? (2 * static_cast<Ext>(wantedB) - boxB) / boxB : static_cast<Ext>(wantedB) / boxB;
    const double step = 2 * pi / n;
    std::vector<double> radius(n);
    std::vector<double> angle(n);
    // The class takes the arctangent in double precision; the tests below compare both ways.
    auto arctangent = [&](Ext q) -> Ext {
        return extendedArctangent ? std::atan(q) : std::atan(static_cast<double>(q));
    };
    auto store = [&](std::size_t i, double x, double y) {
        radius[i] = std::sqrt(static_cast<Ext>(x) * x + static_cast<Ext>(y) * y);
        if (x == 0)
            angle[i] = y >= 0 ? pi / 2 : 3 * pi / 2;
        else if (x < 0)
            angle[i] = arctangent(static_cast<Ext>(y) / x) + pi;
        else if (y < 0)
            angle[i] = arctangent(static_cast<Ext>(y) / x) + 2 * pi;
        else
            angle[i] = arctangent(static_cast<Ext>(y) / x);
    };
    auto interpolate = [&](double theta) -> double {
        std::size_t j = 0;
        std::optional<std::size_t> lo;
        std::optional<std::size_t> hi;
        while (j < n) {
            if (theta >= angle[j]) {
                lo = j;
                ++j;
            } else {
                hi = j;
                break;
            }
        }
        Ext angleHi = 0;
        Ext angleLo = 0;
        if (!hi) {
            hi = 0;
            angleHi = angle[0] + 2 * pi;
        } else {
            angleHi = angle[*hi];
        }
        if (!lo) {
            lo = n - 1;
            angleLo = angle[n - 1] - 2 * pi;
        } else {
            angleLo = angle[*lo];
        }
        return radius[*lo] + (radius[*hi] - static_cast<Ext>(radius[*lo])) * (theta - angleLo) / (angleHi - angleLo);
    };
    auto resample = [&]() -> std::optional<std::string> {
        std::string text;
        for (std::size_t i = 0; i < n; ++i) {
            const Ext value = std::nearbyint(100 * static_cast<Ext>(interpolate(static_cast<Ext>(i) * step)));
            if (!(value >= 0 && value <= 9999))
                return std::nullopt;
            text += Group(static_cast<int>(value));
        }
        return text;
    };
    double topY = -1e300;
    auto cosine = [&](std::size_t i) {
        Ext s, c;
        ExtendedSinCos(static_cast<Ext>(i) * step, s, c);
        return c;
    };
    auto sine = [&](std::size_t i) {
        Ext s, c;
        ExtendedSinCos(static_cast<Ext>(i) * step, s, c);
        return s;
    };
    for (std::size_t i = 0; i < n; ++i) {
        const double r = static_cast<Ext>(StrToInt(original.substr(4 * i, 4))) / 100;
        const double x = cosine(i) * r * sx;
        double y = sine(i) * r;
        if (!lock || i > n / 2)
            y = y * static_cast<Ext>(sy);
        store(i, x, y);
        topY = std::max(topY, y);
    }
    std::optional<std::string> text = resample();
    if (!text || !lock || sy == 1)
        return text;
    const double offset = static_cast<Ext>(wantedB) / 2 - topY;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = static_cast<Ext>(StrToInt(text->substr(4 * i, 4))) / 100;
        store(i, cosine(i) * r, sine(i) * r + offset);
    }
    while (angle[0] > angle[n - 1]) {
        std::rotate(angle.begin(), angle.begin() + 1, angle.end());
        std::rotate(radius.begin(), radius.begin() + 1, radius.end());
    }
    return resample();
}
} // namespace

TEST(TraceCalcTest, BoxChangesMatchTheLiteralRescale) {
    std::mt19937 random(20240611);
    const std::size_t counts[] = {1, 2, 3, 4, 7, 64, 255, 400, 512};
    // Smooth outlines, outlines off the centre (after a locked change the centre may lie
    // outside, so the tables are far from sorted) and radii at random.
    const std::function<double(double)> shapes[] = {
        TopAndBottom,
        [](double t) { return 22 + 6 * std::cos(3 * t) + 2 * std::sin(t); },
        [](double t) { return std::sin(t) > 0.2 ? 30 * std::sin(t) : 4.0; },
        [&](double) { return std::uniform_real_distribution<double>(0, 45)(random); },
    };
    std::uniform_real_distribution<double> wanted(-40, 160);
    int refused = 0;
    int compared = 0;
    for (int round = 0; round < 300; ++round) {
        const std::size_t count = counts[random() % std::size(counts)];
        const std::string text = MakeTrace(count, shapes[random() % std::size(shapes)]);
        const bool lock = random() % 2 == 0;
        const bool changeA = random() % 3 == 0;
        const double size = wanted(random);
        SCOPED_TRACE(testing::Message() << "round " << round << ", " << count << " points, lock " << lock
                                        << (changeA ? ", box A " : ", box B ") << size << ", trace " << text);
        TTraceCalc calc;
        calc.LockBAtDatum = lock;
        calc.SetTrace(text);
        const double boxA = calc.BoxA();
        const double boxB = calc.BoxB();
        if (boxA == 0 || boxB == 0)
            continue;
        if (changeA)
            calc.SetBoxA(size);
        else
            calc.SetBoxB(size);
        const std::optional<std::string> expected =
            LiteralRescale(text, boxA, boxB, changeA ? size : boxA, changeA ? boxB : size, lock);
        ++compared;
        if (expected) {
            EXPECT_EQ(calc.Trace(), *expected);
        } else {
            ++refused;
            EXPECT_THROW(calc.Trace(), Exception);
            EXPECT_EQ(calc.Trace(), text);
        }
    }
    // Both outcomes must have been exercised for the comparison to mean anything.
    EXPECT_GT(refused, 10);
    EXPECT_GT(compared - refused, 100);
}

// The arctangent in double precision against one in extended precision: for real outlines, with
// point counts a tracer sends and sizes an operator asks for, not one group differs. (Degenerate
// tables, a handful of points or negative sizes, can tip a comparison at an exact axis point.)
TEST(TraceCalcTest, DoublePrecisionArctangentChangesNoGroupOfARealOutline) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    int compared = 0;
    for (int round = 0; round < 200; ++round) {
        const std::size_t count = std::vector<std::size_t>{200, 360, 400, 512, 1000}[random() % 5];
        const double a = 20 + 8 * unit(random), b = 14 + 8 * unit(random), phase = 6 * unit(random);
        const std::string text = MakeTrace(count, [&](double t) {
            return a * b / std::hypot(b * std::cos(t), a * std::sin(t)) + 1.5 * std::sin(3 * t + phase);
        });
        const bool lock = random() % 2 == 0;
        const bool changeA = random() % 2 == 0;
        const double size = (changeA ? 2 * a : 2 * b) * (0.8 + 0.4 * unit(random));
        TTraceCalc calc;
        calc.LockBAtDatum = lock;
        calc.SetTrace(text);
        const double boxA = calc.BoxA();
        const double boxB = calc.BoxB();
        changeA ? calc.SetBoxA(size) : calc.SetBoxB(size);
        const auto expected =
            LiteralRescale(text, boxA, boxB, changeA ? size : boxA, changeA ? boxB : size, lock, true);
        ASSERT_TRUE(expected);
        EXPECT_EQ(calc.Trace(), *expected) << "round " << round;
        ++compared;
    }
    EXPECT_EQ(compared, 200);
}

TEST(TraceCalcTest, GroupsRoundToNearestWithTiesToEven) {
    // Halving every radius puts each group on a tie: 0.5, 1.5, 2.5 ... hundredths. Rounding with
    // the wrong width for long double would give 0 (or 2048) everywhere, truncation 0, 1, 2, 3 ...
    struct Case {
        const char* name;
        double factor; // wanted circumference over the measured one, an exact power of two
        const char* trace;
        const char* want; // the trace, or the refusal's message
    } const cases[] = {
        {"ties", 0.5, "000100030005000700090011", "000000020002000400040006"},
        {"negative ties", -0.5, "00010007", "Radius -0.04 mm is out of range (0.00 to 99.99 mm)"},
        {"-0.5 rounds to zero", -0.5, "00010001", "00000000"},
        {"large values", 0x1p40, "00010002", "Radius 10995116277.76 mm is out of range (0.00 to 99.99 mm)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTraceCalc calc;
        calc.SetTrace(c.trace);
        const double circumference = calc.Circumference();
        std::string got;
        try {
            calc.SetCircumference(circumference * c.factor);
            got = calc.CurrentTrace();
        } catch (const Exception& error) {
            got = error.what();
        }
        EXPECT_EQ(got, c.want);
    }
}

namespace {
// Ties at the small end and at the top of the type's width, where a shift fitted to another width
// either stops rounding or rounds to a coarser step.
template <typename Float, int Digits> void CheckRoundTiesToEven(const char* name) {
    SCOPED_TRACE(name);
    Float top = 1; // 2^(Digits-2): the largest power of two whose halves the type still holds
    for (int i = 2; i < Digits; ++i)
        top = top + top;
    struct Case {
        Float value, want;
    } const cases[] = {
        {0.5, 0},
        {1.5, 2},
        {2.5, 2},
        {-2.5, -2},
        {-1.5, -2},
        {0.49999999999999994, 0}, // just below a half: adding 0.5 and truncating would give 1
        {2.5000000000000004, 3},
        {1e300, 1e300},
        {-1e300, -1e300},
        {top + 0.5, top},
        {top + 1.5, top + 2},
        {-(top + 2.5), -(top + 2)},
        {top + top + 1, top + top + 1}, // whole already
    };
    const auto round = [](Float value) { return RoundTiesToEven<Float, Digits>(value); };
    for (const auto& c : cases) {
        const Float got = round(c.value);
        EXPECT_TRUE(got == c.want) << static_cast<double>(c.value) << " gave " << static_cast<double>(got);
    }
    EXPECT_TRUE(std::signbit(static_cast<double>(round(-0.25))));
    const Float nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(round(nan) != round(nan));
}
} // namespace

TEST(RoundTiesToEvenTest, EveryFloatingWidth) {
    CheckRoundTiesToEven<double, std::numeric_limits<double>::digits>("double");
    CheckRoundTiesToEven<long double, std::numeric_limits<long double>::digits>("long double");
#if defined(__SIZEOF_FLOAT128__)
    CheckRoundTiesToEven<__float128, 113>("__float128");
#endif
}
