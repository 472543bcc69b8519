// The simulated tracer's shapes: generated outlines measure as asked, the mirror is the other
// eye, and a job trace file is read back with a missing eye mirrored.
#include "Shapes.h"
#include "SimError.h"

#include "protocol/TraceFormats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <stdexcept>
#include <string>

#include <unistd.h>

using namespace sim;

namespace {

struct TOutlineCase {
    TShapeKind Kind;
    double A, B;
    std::size_t Points;
    double Circumference; // of the smooth outline, mm
    // The polygon is a little shorter than the smooth outline, but radii rounded to 0.01 mm make
    // it zigzag, which adds length the more points there are.
    double Tolerance;
};

double EllipsePerimeter(double a, double b) {
    // Ramanujan's second approximation; far closer than the tolerances used here.
    const double p = a / 2, q = b / 2;
    const double h = (p - q) * (p - q) / ((p + q) * (p + q));
    return std::numbers::pi * (p + q) * (1 + 3 * h / (10 + std::sqrt(4 - 3 * h)));
}

double RoundRectPerimeter(double a, double b) {
    const double rc = std::min(a, b) / 4;
    return 2 * (a + b) - 8 * rc + 2 * std::numbers::pi * rc;
}

class TracerSimOutline : public testing::TestWithParam<TOutlineCase> {};

TEST_P(TracerSimOutline, MeasuresAsAsked) {
    const TOutlineCase& c = GetParam();
    const TRadii radii = OutlineRadii(c.Kind, c.A, c.B, c.Points);
    ASSERT_EQ(radii.size(), c.Points);
    for (int r : radii) {
        EXPECT_GE(r, 0);
        EXPECT_LE(r, 9999);
    }
    const TOutlineMeasures m = MeasureRadii(radii);
    // Radii are rounded to 0.01 mm, and a coarse outline misses the extremes between its points.
    const double boxTolerance = c.Points >= 360 ? 0.03 : 0.3;
    EXPECT_NEAR(m.BoxA, c.A, boxTolerance);
    EXPECT_NEAR(m.BoxB, c.B, boxTolerance);
    EXPECT_NEAR(m.Circumference, c.Circumference, c.Tolerance);
}

INSTANTIATE_TEST_SUITE_P(Shapes, TracerSimOutline,
                         testing::Values(TOutlineCase{skCircle, 50, 50, 400, 50 * std::numbers::pi, 0.02},
                                         TOutlineCase{skCircle, 60, 60, 512, 60 * std::numbers::pi, 0.02},
                                         TOutlineCase{skEllipse, 52, 38, 400, EllipsePerimeter(52, 38), 0.03},
                                         TOutlineCase{skEllipse, 38, 52, 1000, EllipsePerimeter(38, 52), 0.1},
                                         TOutlineCase{skEllipse, 52, 38, 64, EllipsePerimeter(52, 38), 0.6},
                                         TOutlineCase{skRoundRect, 52, 38, 400, RoundRectPerimeter(52, 38), 0.1},
                                         TOutlineCase{skRoundRect, 40, 60, 4096, RoundRectPerimeter(40, 60), 0.8}),
                         [](const testing::TestParamInfo<TOutlineCase>& info) {
                             const TOutlineCase& c = info.param;
                             const char* kind = c.Kind == skCircle    ? "Circle"
                                                : c.Kind == skEllipse ? "Ellipse"
                                                                      : "RoundRect";
                             return kind + std::to_string(static_cast<int>(c.A)) + "x" +
                                    std::to_string(static_cast<int>(c.B)) + "With" + std::to_string(c.Points) +
                                    "Points";
                         });

TEST(TracerSimShapes, CircleHasTheInscribedPolygonCircumference) {
    EXPECT_EQ(OutlineRadii(skCircle, 50, 10, 8), TRadii(8, 2500)) << "box B plays no part";
    const TRadii radii = OutlineRadii(skCircle, 50, 50, 400);
    EXPECT_EQ(radii, TRadii(400, 2500));
    const TOutlineMeasures m = MeasureRadii(radii);
    EXPECT_NEAR(m.BoxA, 50.0, 1e-9);
    EXPECT_NEAR(m.BoxB, 50.0, 1e-9);
    EXPECT_NEAR(m.Circumference, 400 * 50 * std::sin(std::numbers::pi / 400), 1e-6); // 157.078
}

TEST(TracerSimShapes, RoundRectRunsAlongItsStraightSides) {
    // At angle 0 the ray meets the right side, at 90 degrees the top.
    const TRadii radii = OutlineRadii(skRoundRect, 52, 38, 400);
    EXPECT_EQ(radii[0], 2600);
    EXPECT_EQ(radii[100], 1900);
    EXPECT_EQ(radii[200], 2600);
    EXPECT_EQ(radii[300], 1900);
    // The corner is cut: along the diagonal of the box the outline stays inside the sharp corner.
    const double diagonal = std::atan2(19.0, 26.0);
    const auto atDiagonal = static_cast<std::size_t>(std::lround(diagonal / (2 * std::numbers::pi) * 400));
    EXPECT_LT(radii[atDiagonal], static_cast<int>(std::hypot(26.0, 19.0) * 100) - 100);
}

TEST(TracerSimShapes, RefusesOutlinesThatDoNotFitFourDigits) {
    EXPECT_THROW(OutlineRadii(skCircle, 200, 200, 400), std::invalid_argument);
    // Corners of a 170 mm square reach 102.6 mm from the centre; those of a 150 mm one 90.5 mm.
    EXPECT_THROW(OutlineRadii(skRoundRect, 170, 170, 400), std::invalid_argument);
    EXPECT_NO_THROW(OutlineRadii(skRoundRect, 150, 150, 400));
    EXPECT_THROW(OutlineRadii(skEllipse, 0, 38, 400), std::invalid_argument);
    EXPECT_THROW(OutlineRadii(skEllipse, 52, 38, 0), std::invalid_argument);
    EXPECT_NO_THROW(OutlineRadii(skCircle, 199.98, 10, 400));
}

TEST(TracerSimShapes, MirrorReflectsInTheYAxis) {
    EXPECT_EQ(MirroredRadii(TRadii{1, 2, 3, 4}), (TRadii{3, 2, 1, 4}));
    EXPECT_EQ(MirroredRadii(TRadii{1, 2, 3, 4, 5}), (TRadii{3, 2, 1, 5, 4}));
    EXPECT_EQ(MirroredRadii(TRadii{}), TRadii{});

    // An outline pushed to the right comes out pushed to the left, same size.
    TRadii lopsided(400);
    for (std::size_t i = 0; i < lopsided.size(); ++i)
        lopsided[i] = 2000 + static_cast<int>(std::lround(500 * std::cos(2 * std::numbers::pi * i / 400.0)));
    const TRadii mirrored = MirroredRadii(lopsided);
    EXPECT_EQ(mirrored[0], lopsided[200]);
    EXPECT_EQ(mirrored[200], lopsided[0]);
    EXPECT_EQ(mirrored[100], lopsided[100]);
    EXPECT_EQ(MirroredRadii(mirrored), lopsided);
    const TOutlineMeasures a = MeasureRadii(lopsided), b = MeasureRadii(mirrored);
    EXPECT_NEAR(a.BoxA, b.BoxA, 1e-9);
    EXPECT_NEAR(a.BoxB, b.BoxB, 1e-6);
    EXPECT_NEAR(a.Circumference, b.Circumference, 1e-6);
}

TEST(TracerSimShapes, ResampleKeepsTheOutline) {
    const TRadii ellipse = OutlineRadii(skEllipse, 52, 38, 400);
    EXPECT_EQ(ResampleRadii(ellipse, 400), ellipse);
    const TRadii twice = ResampleRadii(ellipse, 800);
    ASSERT_EQ(twice.size(), 800u);
    for (std::size_t i = 0; i < 400; ++i)
        EXPECT_EQ(twice[2 * i], ellipse[i]);
    const TOutlineMeasures m = MeasureRadii(ResampleRadii(ellipse, 512));
    EXPECT_NEAR(m.BoxA, 52, 0.05);
    EXPECT_NEAR(m.BoxB, 38, 0.05);
}

TEST(TracerSimShapes, ZWaveStaysSmall) {
    const TRadii z = ZWave(400);
    ASSERT_EQ(z.size(), 400u);
    EXPECT_EQ(*std::min_element(z.begin(), z.end()), 250);
    EXPECT_EQ(*std::max_element(z.begin(), z.end()), 550);
}

class TracerSimTraceFile : public testing::Test {
protected:
    void SetUp() override {
        FDir = std::filesystem::temp_directory_path() / ("tracer_sim_shapes_" + std::to_string(::getpid()) + "_" +
                                                         testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(FDir);
    }
    void TearDown() override { std::filesystem::remove_all(FDir); }

    std::string Write(const std::string& name, const std::string& content) {
        const auto path = FDir / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    // A job trace file block: the header, then R records of 15 four-digit groups.
    static std::string Block(char eye, const TRadii& radii) {
        std::string text = "TRCFMT=1;" + std::to_string(radii.size()) + ";E;" + eye + ";F\r\n";
        const std::string groups = RadiiText(radii);
        for (std::size_t i = 0; i < radii.size(); i += 15) {
            text += "R=";
            for (std::size_t k = i; k < std::min(i + 15, radii.size()); ++k)
                text += (k > i ? ";" : "") + groups.substr(4 * k, 4);
            text += "\r\n";
        }
        return text;
    }

    std::filesystem::path FDir;
};

TEST_F(TracerSimTraceFile, ReadsBothEyes) {
    const TRadii right = OutlineRadii(skEllipse, 52, 38, 400);
    const TRadii left = OutlineRadii(skRoundRect, 50, 36, 400);
    const std::string path = Write("12345.txt", "REQ=FIL\r\nVEN=TAKUBO\r\nDBL=18.00\r\n" + Block('R', right) +
                                                    Block('L', left) + "HBOX=52.00;50.00\r\nFTYP=1\r\n");
    const TJobShape shape = ReadTraceFile(path);
    EXPECT_EQ(shape.Right, right);
    EXPECT_EQ(shape.Left, left);
}

TEST_F(TracerSimTraceFile, MirrorsAMissingEye) {
    const TRadii right = OutlineRadii(skEllipse, 52, 38, 400);
    // Lines ended by LF alone are read as well.
    const std::string rightOnly = Write("r.txt", "REQ=FIL\r\n" + Block('R', right));
    TJobShape shape = ReadTraceFile(rightOnly);
    EXPECT_EQ(shape.Right, right);
    EXPECT_EQ(shape.Left, MirroredRadii(right));

    std::string leftBlock = Block('L', right);
    std::erase(leftBlock, '\r');
    shape = ReadTraceFile(Write("l.txt", "REQ=FIL\n" + leftBlock));
    EXPECT_EQ(shape.Left, right);
    EXPECT_EQ(shape.Right, MirroredRadii(right));
}

TEST_F(TracerSimTraceFile, MakeJobShapeResamplesTheFile) {
    const TRadii right = OutlineRadii(skEllipse, 52, 38, 400);
    TShapeParams params;
    params.Kind = skFile;
    params.Path = Write("f.txt", Block('R', right));
    TJobShape shape = MakeJobShape(params, 400);
    EXPECT_EQ(shape.Right, right);
    EXPECT_EQ(shape.RightZ.size(), 400u);
    shape = MakeJobShape(params, 512);
    ASSERT_EQ(shape.Right.size(), 512u);
    ASSERT_EQ(shape.Left.size(), 512u);
    EXPECT_NEAR(MeasureRadii(shape.Right).BoxA, 52, 0.05);
    EXPECT_EQ(shape.Left, MirroredRadii(shape.Right));
}

TEST_F(TracerSimTraceFile, RefusesUnusableFiles) {
    struct TCase {
        const char* Name;
        std::string Content;
        const char* Message;
    };
    const TCase cases[] = {
        {"empty.txt", "", "no trace found"},
        {"noblock.txt", "REQ=FIL\r\nHBOX=52.00;52.00\r\n", "no trace found"},
        {"badheader.txt", "TRCFMT=1;400\r\nR=2500\r\n", "Bad TRCFMT header"},
        {"wide.txt", "TRCFMT=1;2;E;R;F\r\nR=2500;12345\r\n", "no four-character form"},
        {"negative.txt", "TRCFMT=1;2;E;R;F\r\nR=2500;-012\r\n", "out of range"},
    };
    for (const TCase& c : cases) {
        try {
            ReadTraceFile(Write(c.Name, c.Content));
            ADD_FAILURE() << c.Name << " was accepted";
        } catch (const ESimError& e) {
            EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << c.Name << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find(c.Name), std::string::npos) << "names the file: " << e.what();
        }
    }
    try {
        ReadTraceFile((FDir / "missing.txt").string());
        ADD_FAILURE() << "a missing file was accepted";
    } catch (const ESimError& e) {
        EXPECT_NE(std::string(e.what()).find("cannot read"), std::string::npos) << e.what();
    }
}

} // namespace
