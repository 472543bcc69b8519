// Tests of the trace panel and the drawing object on an offscreen screen: the pixels of the
// background, the filled lenses, the mirrored eye and the outline, the trace validation of
// ShowTrace, the shape held by ShowShape, OnDrawShape per paint, failed paints, and the colour
// values of the settings.
#include "trace/GraphTrace.h"
#include "trace/TracePanel.h"

#include "common/Errors.h"
#include "trace/TraceLayout.h"
#include "trace/TrceCalc.h"
#include "trace_shapes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QRect>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {
constexpr uint32_t kBlue = 0xFF0000;
constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kYellow = 0x00FFFF;

// The panel of the main window's size, with colours no palette uses.
class TracePanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        Panel.resize(440, 295);
        Panel.BGColor = kBlue;
        Panel.FillColor = kYellow;
        Panel.OnDrawShape = [this](QObject* sender) {
            EXPECT_EQ(sender, &Panel);
            ++Paints;
        };
        Panel.OnPaintError = [this](const std::string& message) { Errors.push_back(message); };
    }

    // One paint of the whole panel.
    QImage Paint() { return Panel.grab().toImage(); }

    static uint32_t At(const QImage& image, int x, int y) { return ValueFromColor(image.pixelColor(x, y)); }

    uint32_t Dark() const { return ValueFromColor(Panel.palette().color(QPalette::Dark)); }

    TTracePanel Panel;
    int Paints = 0;
    std::vector<std::string> Errors;
    const std::string Ellipse = trace_shapes::Ellipse50x40();
};

TEST_F(TracePanelTest, EmptyPanelShowsTheBackgroundInsideARaisedBevel) {
    const QImage image = Paint();
    EXPECT_EQ(Paints, 1);
    EXPECT_EQ(At(image, 0, 0), ValueFromColor(Panel.palette().color(QPalette::Light)));
    EXPECT_EQ(At(image, 439, 294), Dark());
    EXPECT_EQ(At(image, 0, 200), ValueFromColor(Panel.palette().color(QPalette::Light)));
    EXPECT_EQ(At(image, 200, 294), Dark());
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{1, 1}, {438, 293}, {220, 147}, {94, 147}})
        EXPECT_EQ(At(image, x, y), kBlue) << x << "," << y;
    EXPECT_TRUE(Errors.empty());
}

TEST_F(TracePanelTest, BothEyesFilledWithOutlineCrossAndGap) {
    Panel.ShowTrace(Ellipse, 18.0);
    const QImage image = Paint();
    EXPECT_EQ(Paints, 1);
    // Inside each lens, clear of the cross and the mark (centres 94,147 and 345,147).
    for (int cx : {94, 345})
        for (const auto& [dx, dy] : std::vector<std::pair<int, int>>{{10, 10}, {-10, 10}, {10, -10}, {-30, -30}})
            EXPECT_EQ(At(image, cx + dx, 147 + dy), kYellow) << cx + dx << "," << 147 + dy;
    // The gap, the corners of the boxes outside the ellipse, and above and below the boxes.
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{220, 147}, {4, 75}, {436, 219}, {94, 60}, {345, 230}})
        EXPECT_EQ(At(image, x, y), kBlue) << x << "," << y;
    // Outline (top of the right lens), centre crosses and their arms, in the bevel's dark colour.
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{94, 73}, {94, 147}, {90, 147}, {345, 151}})
        EXPECT_EQ(At(image, x, y), Dark()) << x << "," << y;
    EXPECT_TRUE(Errors.empty());
}

TEST_F(TracePanelTest, LeftEyeDrawnMirrored) {
    // The egg reaches 25 mm to the right of its centre and 15 mm to the left; at this size its
    // centre is at 220,147 and 150 pixels are about 21 mm.
    Panel.DrawEye = deRight;
    Panel.ShowTrace(trace_shapes::Egg(), 18.0);
    QImage image = Paint();
    EXPECT_EQ(At(image, 370, 150), kYellow);
    EXPECT_EQ(At(image, 70, 150), kBlue);

    Panel.DrawEye = deLeft;
    image = Paint();
    EXPECT_EQ(At(image, 370, 150), kBlue);
    EXPECT_EQ(At(image, 70, 150), kYellow);
    EXPECT_EQ(Paints, 2);
}

TEST_F(TracePanelTest, EmptyTextClearsTheDrawing) {
    Panel.ShowTrace(Ellipse, 18.0);
    ASSERT_EQ(At(Paint(), 104, 157), kYellow);
    Panel.ShowTrace("", 0);
    EXPECT_TRUE(Panel.Trace().empty());
    const QImage image = Paint();
    EXPECT_EQ(At(image, 104, 157), kBlue);
    EXPECT_EQ(At(image, 94, 147), kBlue);
    EXPECT_EQ(Paints, 2);
}

// The panel keeps the measured shape it is given and paints it as the text it was made from.
TEST_F(TracePanelTest, ShapeGivenIsHeldAndDrawnAsItsText) {
    Panel.ShowTrace(Ellipse, 18.0);
    const QImage fromText = Paint();
    const TEyeShapePtr shape = MakeEyeShape(Ellipse);
    Panel.ShowShape(shape, 18.0);
    EXPECT_EQ(Panel.Shape(), shape);
    EXPECT_EQ(Panel.Trace(), Ellipse);
    EXPECT_EQ(Paint(), fromText);
    Panel.ShowShape(nullptr, 0);
    EXPECT_TRUE(Panel.Trace().empty());
    EXPECT_EQ(At(Paint(), 104, 157), kBlue);
}

TEST_F(TracePanelTest, MalformedTextRaisesAndKeepsThePreviousDrawing) {
    Panel.ShowTrace(Ellipse, 18.0);
    EXPECT_THROW(Panel.ShowTrace(Ellipse.substr(0, 40) + "25x0", 5.0), EConvertError);
    EXPECT_EQ(Panel.Trace(), Ellipse);
    EXPECT_EQ(Panel.DBL(), 18.0);
    const QImage image = Paint();
    EXPECT_EQ(At(image, 104, 157), kYellow);
    EXPECT_EQ(At(image, 355, 157), kYellow);
    EXPECT_TRUE(Errors.empty());
}

// 0.50 mm is a gap of about one pixel either side of the centre, not 50 mm.
TEST_F(TracePanelTest, DblBelowOneMillimetreIsHundredths) {
    Panel.ShowTrace(Ellipse, 0.5);
    const QImage image = Paint();
    EXPECT_EQ(At(image, 200, 150), kYellow);
    EXPECT_EQ(At(image, 240, 150), kYellow);
    EXPECT_EQ(At(image, 220, 150), kBlue);
}

TEST_F(TracePanelTest, OutOfRangeDblStillDraws) {
    for (double dbl : {-3.0, 1e9, std::numeric_limits<double>::quiet_NaN()}) {
        Panel.ShowTrace(Ellipse, dbl);
        Paint();
    }
    EXPECT_EQ(Paints, 3);
    EXPECT_TRUE(Errors.empty());
}

// A paint that fails inside keeps its background, stays out of the event loop and is reported
// once, however often the panel is painted again, until the trace is shown anew.
TEST_F(TracePanelTest, FailedPaintReportedOnce) {
    Panel.ShowTrace(Ellipse, 18.0);
    Panel.OnDrawShape = [](QObject*) { throw std::runtime_error("no room for the shape"); };
    QImage image;
    for (int i = 0; i < 3; ++i)
        image = Paint();
    EXPECT_EQ(Errors, std::vector<std::string>{"no room for the shape"});
    EXPECT_EQ(At(image, 1, 1), kBlue);
    Panel.ShowTrace(Ellipse, 18.0);
    Paint();
    EXPECT_EQ(Errors.size(), 2u);
}

// The columns and rows the filled lenses reach, the outline included: {left, top, right, bottom}.
QRect Drawn(const QImage& image, uint32_t background) {
    int left = image.width(), top = image.height(), right = -1, bottom = -1;
    for (int y = 1; y < image.height() - 1; ++y)
        for (int x = 1; x < image.width() - 1; ++x)
            if (ValueFromColor(image.pixelColor(x, y)) != background) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

// 50 + 18 + 50 mm across and 40 mm high at the screen's own resolution, whatever the panel's
// size; the fitted view of the same panel is another size.
TEST_F(TracePanelTest, TrueScaleDrawsBothEyesOneToOne) {
    const QScreen* screen = Panel.screen();
    ASSERT_NE(screen, nullptr);
    const QSizeF perMm = Panel.PixelsPerMm();
    EXPECT_DOUBLE_EQ(perMm.width(), screen->physicalDotsPerInchX() / 25.4);
    EXPECT_DOUBLE_EQ(perMm.height(), screen->physicalDotsPerInchY() / 25.4);

    Panel.resize(640, 300);
    Panel.ShowTrace(Ellipse, 18.0);
    Panel.DrawEye = deRight; // the true-scale view always shows both eyes
    Panel.TrueScale = true;
    for (const QSize& size : {QSize(640, 300), QSize(700, 400)}) {
        Panel.resize(size);
        const QRect drawn = Drawn(Paint(), kBlue);
        EXPECT_NEAR(drawn.width() - 1, 118 * perMm.width(), 1.5) << size.width();
        EXPECT_NEAR(drawn.height() - 1, 40 * perMm.height(), 1.5) << size.width();
        EXPECT_NEAR(drawn.center().x(), size.width() / 2, 1) << size.width();
        // The DBL between the two lenses, on the panel's centre.
        EXPECT_EQ(At(Paint(), size.width() / 2, size.height() / 2), kBlue);
    }

    Panel.TrueScale = false;
    Panel.DrawEye = deBoth;
    const QRect fitted = Drawn(Paint(), kBlue);
    EXPECT_GT(std::abs(fitted.width() - 1 - 118 * perMm.width()), 50);
    EXPECT_TRUE(Errors.empty());
}

// A pair larger than the panel is cut at the bevel, centred: both lenses reach the panel's edges.
TEST_F(TracePanelTest, TrueScaleClipsInsideTheBevel) {
    Panel.resize(200, 100);
    Panel.ShowTrace(Ellipse, 18.0);
    Panel.TrueScale = true;
    const QImage image = Paint();
    EXPECT_EQ(At(image, 0, 50), ValueFromColor(Panel.palette().color(QPalette::Light)));
    EXPECT_EQ(At(image, 199, 50), Dark());
    EXPECT_EQ(At(image, 50, 0), ValueFromColor(Panel.palette().color(QPalette::Light)));
    EXPECT_EQ(At(image, 50, 99), Dark());
    EXPECT_EQ(At(image, 2, 60), kYellow);
    EXPECT_EQ(At(image, 197, 60), kYellow);
    EXPECT_EQ(At(image, 100, 50), kBlue);
    EXPECT_EQ(Paints, 1);
}

TEST(GraphTrace, MalformedTraceLeavesTheBackgroundAndTheBrush) {
    QImage image(60, 40, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    const QBrush brush(Qt::green, Qt::Dense4Pattern);
    painter.setBrush(brush);
    TGraphTrace graph;
    graph.SetTrace("25002x0025002500");
    graph.SetBGColor(kRed);
    graph.DrawRect = {10, 10, 50, 30};
    EXPECT_THROW(graph.Draw(painter), EConvertError);
    EXPECT_EQ(painter.brush(), brush);
    painter.end();
    EXPECT_EQ(ValueFromColor(image.pixelColor(10, 10)), kRed);
    EXPECT_EQ(ValueFromColor(image.pixelColor(49, 29)), kRed);
    EXPECT_EQ(ValueFromColor(image.pixelColor(50, 30)), 0u);
    EXPECT_EQ(ValueFromColor(image.pixelColor(9, 9)), 0u);
}

TEST(TraceColors, ValuesHoldRedInTheLowByte) {
    for (const auto& [value, color] : std::vector<std::pair<uint32_t, QColor>>{{0x0000FF, QColor(255, 0, 0)},
                                                                               {0xFF0000, QColor(0, 0, 255)},
                                                                               {0x00FFFF, QColor(255, 255, 0)},
                                                                               {0x808080, QColor(128, 128, 128)},
                                                                               {0x123456, QColor(0x56, 0x34, 0x12)}}) {
        EXPECT_EQ(ColorFromValue(value), color) << std::hex << value;
        EXPECT_EQ(ValueFromColor(color), value) << std::hex << value;
    }
}

TEST(TraceColors, SystemColoursFromThePalette) {
    const QPalette palette = QGuiApplication::palette();
    EXPECT_EQ(ColorFromValue(0xFF00000F), palette.color(QPalette::Button));    // clBtnFace
    EXPECT_EQ(ColorFromValue(0xFF000010), palette.color(QPalette::Dark));      // clBtnShadow
    EXPECT_EQ(ColorFromValue(0xFF000014), palette.color(QPalette::Light));     // clBtnHighlight
    EXPECT_EQ(ColorFromValue(0xFF000005), palette.color(QPalette::Base));      // clWindow
    EXPECT_EQ(ColorFromValue(0xFF00000D), palette.color(QPalette::Highlight)); // clHighlight
    EXPECT_EQ(ColorFromValue(0xFF0000FF), QColor(0, 0, 0));                    // no such index
}
} // namespace

// The offscreen platform also when the test list is read (CTest gives the test's environment to
// the runs only, not to the listing, which creates the application too).
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
