// TTracePanel: the raised panel that paints the trace held, and the colour values of the settings.
#include "trace/TracePanel.h"

#include "trace/EyeShape.h"
#include "trace/GraphTrace.h"

#include "common/Numbers.h"

#include <QColor>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QPen>
#include <QPolygon>
#include <QScreen>
#include <QSizeF>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

namespace {
// System colour indexes (the low byte of a value whose high byte is 0xFF) that the palette has a
// counterpart for.
struct TSystemColor {
    uint32_t Index;
    QPalette::ColorRole Role;
};

constexpr TSystemColor kSystemColors[] = {
    {0, QPalette::Button},           // clScrollBar
    {4, QPalette::Window},           // clMenu
    {5, QPalette::Base},             // clWindow
    {6, QPalette::Shadow},           // clWindowFrame
    {7, QPalette::WindowText},       // clMenuText
    {8, QPalette::Text},             // clWindowText
    {12, QPalette::Dark},            // clAppWorkSpace
    {13, QPalette::Highlight},       // clHighlight
    {14, QPalette::HighlightedText}, // clHighlightText
    {15, QPalette::Button},          // clBtnFace
    {16, QPalette::Dark},            // clBtnShadow
    {17, QPalette::PlaceholderText}, // clGrayText
    {18, QPalette::ButtonText},      // clBtnText
    {20, QPalette::Light},           // clBtnHighlight
    {21, QPalette::Shadow},          // cl3DDkShadow
    {22, QPalette::Midlight},        // cl3DLight
    {23, QPalette::ToolTipText},     // clInfoText
    {24, QPalette::ToolTipBase},     // clInfoBk
};

constexpr int kBevelWidth = 1;

// The panel's DBL in hundredths of a millimetre, within what the drawing carries.
uint16_t DblHundredths(double millimetres) {
    if (!(millimetres > 0)) // also NaN
        return 0;
    const int64_t hundredths = TruncHundredths(millimetres);
    return static_cast<uint16_t>(std::min<int64_t>(hundredths, std::numeric_limits<uint16_t>::max()));
}
} // namespace

QColor ColorFromValue(uint32_t value) {
    if ((value >> 24) == 0xFF) {
        const uint32_t index = value & 0xFFFFFF;
        for (const TSystemColor& system : kSystemColors)
            if (system.Index == index)
                return QGuiApplication::palette().color(system.Role);
        return QColor(0, 0, 0);
    }
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

uint32_t ValueFromColor(const QColor& color) {
    const QColor rgb = color.toRgb();
    return static_cast<uint32_t>(rgb.red()) | static_cast<uint32_t>(rgb.green()) << 8 |
           static_cast<uint32_t>(rgb.blue()) << 16;
}

struct TTracePanel::TState {
    TEyeShapePtr Shape;
    TEyeShapePtr Left; // the left eye as traced, for the true-scale view; none: Shape mirrored
    bool ErrorReported = false;
};

TTracePanel::TTracePanel(QWidget* parent) : QWidget(parent), FState(new TState) {
    // Every pixel is painted here; nothing of the parent needs to show through.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TTracePanel::~TTracePanel() {
    delete FState;
}

void TTracePanel::ShowShape(TEyeShapePtr shape, double dbl, TEyeShapePtr left) {
    FState->Shape = std::move(shape);
    FState->Left = std::move(left);
    FState->ErrorReported = false;
    FDBL = dbl;
    update();
}

void TTracePanel::ShowTrace(const std::string& radii, double dbl) {
    // Measured before anything changes, so that a malformed text fails here, where the caller
    // can still act on it, rather than inside a paint.
    ShowShape(MakeEyeShape(radii), dbl);
}

const TEyeShapePtr& TTracePanel::Shape() const {
    return FState->Shape;
}

const std::string& TTracePanel::Trace() const {
    static const std::string none;
    return FState->Shape ? FState->Shape->Radii() : none;
}

void TTracePanel::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const int w = width();
    const int h = height();
    const QColor light = palette().color(QPalette::Light);
    const QColor dark = palette().color(QPalette::Dark);

    // Raised bevel: light top and left, dark right and bottom.
    painter.setPen(light);
    painter.drawLine(0, 0, w - 1, 0);
    painter.drawLine(0, 0, 0, h - 1);
    painter.setPen(dark);
    painter.drawLine(w - 1, 0, w - 1, h - 1);
    painter.drawLine(0, h - 1, w - 1, h - 1);

    const int b = kBevelWidth;
    const QRect inside(b, b, w - 2 * b, h - 2 * b);
    if (w > 2 * b && h > 2 * b)
        painter.fillRect(inside, ColorFromValue(BGColor));

    // Nothing may be thrown into the event loop: a failed paint keeps its background and says
    // why once, not on every repaint that follows.
    try {
        if (TrueScale && FState->Shape) {
            PaintTrueScale(painter, inside);
        } else if (FState->Shape) {
            TGraphTrace graph;
            graph.SetShape(FState->Shape);
            // In hundredths as they are: through SetDBL a DBL below 1 mm (0.50 is 50) would be
            // read as whole millimetres.
            graph.SetDBLHundredths(DblHundredths(FDBL));
            graph.SetFillColor(FillColor);
            graph.SetBGColor(BGColor);
            graph.SetDrawEye(DrawEye);
            graph.DrawRect = {b, b, w - b, h - b};
            // The outline, cross and mark take the colour of the bevel's last edge.
            painter.setPen(QPen(dark, 1));
            graph.Draw(painter);
        }
        if (OnDrawShape)
            OnDrawShape(this);
        FState->ErrorReported = false;
    } catch (const std::exception& error) {
        ReportPaintError(error.what());
    } catch (...) {
        ReportPaintError("Unknown error while drawing the trace");
    }
}

QSizeF TTracePanel::PixelsPerMm() const {
    constexpr double kMmPerInch = 25.4;
    const QScreen* shown = screen();
    if (!shown)
        shown = QGuiApplication::primaryScreen();
    if (!shown)
        return {96 / kMmPerInch, 96 / kMmPerInch};
    // A screen that does not tell its physical size (some virtual and remote displays) gives no
    // usable physical resolution; the logical one is the closest there is.
    const auto perMm = [](double physical, double logical) {
        return (std::isfinite(physical) && physical > 0 ? physical : logical) / kMmPerInch;
    };
    return {perMm(shown->physicalDotsPerInchX(), shown->logicalDotsPerInchX()),
            perMm(shown->physicalDotsPerInchY(), shown->logicalDotsPerInchY())};
}

void TTracePanel::PaintTrueScale(QPainter& painter, const QRect& area) {
    const QSizeF perMm = PixelsPerMm();
    const TTraceLayout layout = LayoutTraceAtScale(
        *FState->Shape, FDBL, perMm.width(), perMm.height(),
        {area.left(), area.top(), area.left() + area.width(), area.top() + area.height()}, FState->Left.get());
    // A pair wider than the panel is cut at the bevel rather than drawn over it.
    painter.save();
    painter.setClipRect(area);
    painter.setPen(QPen(palette().color(QPalette::Dark), 1));
    painter.setBrush(ColorFromValue(FillColor));
    for (const TEyeDrawing& eye : layout.Eyes) {
        QPolygon outline;
        outline.reserve(static_cast<qsizetype>(eye.Polygon.size()));
        for (const TLayoutPoint& point : eye.Polygon)
            outline.append(QPoint(point.X, point.Y));
        painter.drawPolygon(outline, Qt::OddEvenFill);
        const TLayoutPoint c = eye.Centre;
        painter.drawLine(c.X - eye.CrossArm, c.Y, c.X + eye.CrossArm, c.Y);
        painter.drawLine(c.X, c.Y - eye.CrossArm, c.X, c.Y + eye.CrossArm);
        painter.drawLine(c.X, c.Y, eye.MarkEnd.X, eye.MarkEnd.Y);
    }
    painter.restore();
}

void TTracePanel::ReportPaintError(const std::string& message) {
    if (FState->ErrorReported)
        return;
    FState->ErrorReported = true;
    if (!OnPaintError)
        return;
    try {
        OnPaintError(message);
    } catch (...) {
        // Still inside the paint: a failing handler must not take the event loop down either.
    }
}
