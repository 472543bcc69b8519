// The layout of a trace drawing: scale, lens boxes, centres, crosses, marks and polygon points.
//
// Arithmetic follows the geometry's: expressions in long double (80-bit extended on x86-64),
// every named quantity (the scales, dθ, h) a double, sine and cosine from ExtendedSinCos. The
// pixels depend on it: the scale of a 366-pixel box for A = 50 mm is a hair above 50/366, so a
// 25 mm radius gives 182.99999... pixels, which rounds to 183 for the outline but truncates to
// 182 for the mark.
#include "trace/TraceLayout.h"

#include "common/Errors.h"
#include "trace/EyeShape.h"
#include "trace/TrceCalc.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace {
using Ext = long double;

constexpr Ext kPi = std::numbers::pi_v<long double>;

// A pixel coordinate from a value already rounded or truncated. The layout keeps every point
// within the area, so only an absurd area can leave the int range; that is refused rather than
// converted out of range.
int ToPixel(Ext whole) {
    if (!(whole >= std::numeric_limits<int>::min() && whole <= std::numeric_limits<int>::max()))
        throw EInvalidOp();
    return static_cast<int>(whole);
}

// Nearest with ties to even, the default rounding mode. rint rather than nearbyint: the latter
// saves and restores the floating-point environment on every call, which cost half a layout.
int Round(Ext value) {
    return ToPixel(std::rint(value));
}

int Trunc(Ext value) {
    return ToPixel(std::trunc(value));
}

// The outline, the cross arm and the mark of the trace in a box `width` pixels wide, as offsets
// from the box centre, unmirrored. Both eyes of a two-eye layout have boxes of one width, so
// this is computed once per layout.
struct TShape {
    std::vector<TLayoutPoint> Outline;
    int CrossArm = 0;
    TLayoutPoint Mark;
};

TShape ShapeForWidth(const TEyeShape& eye, int width) {
    TShape shape;
    // The scale of the box as laid out, not the layout's: the truncated box is what the outline
    // must fill.
    const double s = static_cast<Ext>(eye.BoxA()) / width;
    const std::size_t count = eye.PointCount();
    const double step = 2 * kPi / count;
    shape.Outline.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double r = eye.Radius(i);
        Ext sine = 0;
        Ext cosine = 0;
        ExtendedSinCos(static_cast<Ext>(i) * step, sine, cosine);
        shape.Outline.push_back({Round(cosine * r / s), -Round(sine * r / s)});
    }

    // An even arm keeps the cross symmetric about the centre pixel.
    shape.CrossArm = std::max(width / 50, 4);
    if (shape.CrossArm % 2 != 0)
        ++shape.CrossArm;

    const double h = static_cast<Ext>(eye.CentredDiameter()) / 2;
    Ext sine = 0;
    Ext cosine = 0;
    ExtendedSinCos(static_cast<Ext>(eye.FarthestAngle()) * kPi / 180, sine, cosine);
    shape.Mark = {Trunc(cosine * h / s), -Trunc(sine * h / s)};
    return shape;
}

TEyeDrawing PlaceShape(const TShape& shape, const TLayoutRect& box, TDrawEyeType eye) {
    TEyeDrawing drawing;
    drawing.Eye = eye;
    drawing.Box = box;
    // The trace centre goes to the box centre whatever the trace's own extents.
    drawing.Centre = {box.Left + (box.Right - box.Left) / 2, box.Top + (box.Bottom - box.Top) / 2};
    const TLayoutPoint c = drawing.Centre;
    const int mirror = eye == deLeft ? -1 : 1;
    drawing.CrossArm = shape.CrossArm;
    drawing.Polygon.reserve(shape.Outline.size());
    for (const TLayoutPoint& offset : shape.Outline)
        drawing.Polygon.push_back({c.X + mirror * offset.X, c.Y + offset.Y});
    drawing.MarkEnd = {c.X + mirror * shape.Mark.X, c.Y + shape.Mark.Y};
    return drawing;
}
} // namespace

uint16_t NormaliseDBL(uint16_t value) {
    if (value > 0 && value < 100)
        return static_cast<uint16_t>(value * 100);
    return value;
}

TTraceLayout LayoutTrace(const TEyeShape& eye, uint16_t dbl, TDrawEyeType mode, const TLayoutRect& area) {
    return LayoutTraceHundredths(eye, NormaliseDBL(dbl), mode, area);
}

TTraceLayout LayoutTraceHundredths(const TEyeShape& eye, uint16_t dblHundredths, TDrawEyeType mode,
                                   const TLayoutRect& area) {
    const double a = eye.BoxA();
    const double b = eye.BoxB();
    const long long areaWidth = static_cast<long long>(area.Right) - area.Left;
    const long long areaHeight = static_cast<long long>(area.Bottom) - area.Top;
    // Nothing to scale to, or nothing to scale: the scale would divide by zero.
    if (areaWidth <= 0 || areaHeight <= 0 || !(a > 0))
        return {};
    const int W = static_cast<int>(areaWidth);
    const int H = static_cast<int>(areaHeight);
    const int cx = area.Left + W / 2;
    const int cy = area.Top + H / 2;

    TTraceLayout layout;
    TLayoutRect first;
    TLayoutRect second;
    if (mode == deBoth) {
        const Ext gap = static_cast<Ext>(dblHundredths) / 100;
        const double s = std::max((2 * static_cast<Ext>(a) + gap) / W, static_cast<Ext>(b) / H);
        const int g = Trunc(gap / 2 / s);
        const int w = Trunc(static_cast<Ext>(a) / s);
        const int top = cy - Trunc(static_cast<Ext>(b) / 2 / s);
        const int bottom = top + Trunc(static_cast<Ext>(b) / s);
        layout.Scale = s;
        first = {cx - g - w, top, cx - g, bottom};
        second = {cx + g, top, cx + g + w, bottom};
    } else {
        const double s = std::max(static_cast<Ext>(a) / W, static_cast<Ext>(b) / H);
        const int halfWidth = Trunc(static_cast<Ext>(a) / 2 / s);
        const int halfHeight = Trunc(static_cast<Ext>(b) / 2 / s);
        layout.Scale = s;
        first = {cx - halfWidth, cy - halfHeight, cx + halfWidth, cy + halfHeight};
    }
    // A box with no width has no scale of its own (A / 0): an area this small shows nothing.
    if (first.Right - first.Left <= 0)
        return {};

    const TShape shape = ShapeForWidth(eye, first.Right - first.Left);
    if (mode == deBoth) {
        layout.Eyes.push_back(PlaceShape(shape, first, deRight));
        layout.Eyes.push_back(PlaceShape(shape, second, deLeft));
    } else {
        layout.Eyes.push_back(PlaceShape(shape, first, mode));
    }
    return layout;
}

TTraceLayout LayoutTraceAtScale(const TEyeShape& shape, double dblMm, double pixelsPerMmX, double pixelsPerMmY,
                                const TLayoutRect& area, const TEyeShape* left) {
    const long long areaWidth = static_cast<long long>(area.Right) - area.Left;
    const long long areaHeight = static_cast<long long>(area.Bottom) - area.Top;
    if (shape.Empty() || !(pixelsPerMmX > 0) || !(pixelsPerMmY > 0) || areaWidth <= 0 || areaHeight <= 0)
        return {};
    if (left && left->Empty())
        left = nullptr;
    // A DBL that is no number or below zero puts the boxes side by side, as a gap of nothing.
    const Ext halfGap = dblMm > 0 ? static_cast<Ext>(dblMm) / 2 : 0;
    const Ext kx = pixelsPerMmX;
    const Ext ky = pixelsPerMmY;
    const int cx = area.Left + static_cast<int>(areaWidth / 2);
    const int cy = area.Top + static_cast<int>(areaHeight / 2);

    TTraceLayout layout;
    layout.Scale = 1 / pixelsPerMmX;
    for (const TDrawEyeType eye : {deRight, deLeft}) {
        // Both traces are as seen from the front. The right eye's nasal box edge (its trace's own
        // right edge) goes half the DBL left of the centre; the left eye's nasal edge (its own left
        // edge, or the right trace's right edge when the right trace is mirrored for it) half the
        // DBL right of it. The box centres are level with the area's centre.
        const TEyeShape& source = eye == deLeft && left ? *left : shape;
        const bool ownLeft = eye == deLeft && left;
        const Ext nasal = ownLeft ? static_cast<Ext>(source.Left()) : static_cast<Ext>(source.Right());
        // How far an outline x lies from the nasal edge, in millimetres.
        const auto fromGap = [&](Ext mm) { return ownLeft ? mm - nasal : nasal - mm; };
        const auto x = [&](Ext mm) {
            const Ext offset = (halfGap + fromGap(mm)) * kx;
            return Round(eye == deLeft ? cx + offset : cx - offset);
        };
        const Ext boxCentreY = source.BoxCentreY();
        const auto y = [&](Ext mm) { return Round(cy - (mm - boxCentreY) * ky); };

        const std::vector<TOutlinePoint>& outline = source.Outline();

        TEyeDrawing drawing;
        drawing.Eye = eye;
        const int nasalX = x(source.Right());
        const int templeX = x(source.Left());
        drawing.Box = {std::min(nasalX, templeX), y(source.Top()), std::max(nasalX, templeX), y(source.Bottom())};
        drawing.Centre = {x(source.BoxCentreX()), y(source.BoxCentreY())};
        // An even arm keeps the cross symmetric about the centre pixel, as in the fitted view.
        drawing.CrossArm = std::max((drawing.Box.Right - drawing.Box.Left) / 50, 4);
        if (drawing.CrossArm % 2 != 0)
            ++drawing.CrossArm;
        drawing.Polygon.reserve(outline.size());
        for (const TOutlinePoint& point : outline)
            drawing.Polygon.push_back({x(point.X), y(point.Y)});
        drawing.MarkEnd = drawing.Polygon[source.FarthestPoint()];
        layout.Eyes.push_back(std::move(drawing));
    }
    return layout;
}
