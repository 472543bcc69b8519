// TGraphTrace: draws one laid-out trace on a painter.
#include "trace/GraphTrace.h"

#include "trace/TracePanel.h"

#include <QBrush>
#include <QPainter>
#include <QPolygon>
#include <QRect>

namespace {
QPoint ToQPoint(const TLayoutPoint& point) {
    return {point.X, point.Y};
}

// Gives the painter its brush back however the drawing ends.
class TBrushKeeper {
public:
    explicit TBrushKeeper(QPainter& canvas) : FCanvas(canvas), FBrush(canvas.brush()) {}
    ~TBrushKeeper() { FCanvas.setBrush(FBrush); }
    TBrushKeeper(const TBrushKeeper&) = delete;
    TBrushKeeper& operator=(const TBrushKeeper&) = delete;

private:
    QPainter& FCanvas;
    QBrush FBrush;
};
} // namespace

void TGraphTrace::Draw(QPainter& canvas) {
    const TBrushKeeper keeper(canvas);
    canvas.setBrush(ColorFromValue(FBGColor));
    // Right and Bottom are the first column and row outside, as for every rectangle here.
    const QRect area(DrawRect.Left, DrawRect.Top, DrawRect.Right - DrawRect.Left, DrawRect.Bottom - DrawRect.Top);
    if (area.isValid())
        canvas.fillRect(area, canvas.brush());

    if (!FShape && !FRadii.empty())
        FShape = MakeEyeShape(FRadii);
    if (!FShape)
        return;
    // SetDBL has already normalised the value it stored.
    const TTraceLayout layout = LayoutTraceHundredths(*FShape, FDBL, FDrawEye, DrawRect);
    canvas.setBrush(ColorFromValue(FFillColor));
    for (const TEyeDrawing& eye : layout.Eyes) {
        QPolygon outline;
        outline.reserve(static_cast<qsizetype>(eye.Polygon.size()));
        for (const TLayoutPoint& point : eye.Polygon)
            outline.append(ToQPoint(point));
        canvas.drawPolygon(outline, Qt::OddEvenFill);

        const TLayoutPoint c = eye.Centre;
        canvas.drawLine(c.X - eye.CrossArm, c.Y, c.X + eye.CrossArm, c.Y);
        canvas.drawLine(c.X, c.Y - eye.CrossArm, c.X, c.Y + eye.CrossArm);
        canvas.drawLine(ToQPoint(c), ToQPoint(eye.MarkEnd));
    }
}
