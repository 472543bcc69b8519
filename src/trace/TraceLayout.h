// The layout of a trace drawing without a screen: scale, lens boxes, centres, centre cross,
// farthest-point mark and polygon points of one eye or of both eyes side by side. The painting
// classes only draw what this returns.
#pragma once

#include <cstdint>
#include <vector>

class TEyeShape;

enum TDrawEyeType : uint8_t { deBoth = 0, deRight = 1, deLeft = 2 };

struct TLayoutRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    bool operator==(const TLayoutRect&) const = default;
};

struct TLayoutPoint {
    int X = 0;
    int Y = 0;
    bool operator==(const TLayoutPoint&) const = default;
};

// One eye as drawn: the filled polygon (alternate fill rule, outlined), the cross arms from
// Centre ± CrossArm, and the line from Centre to MarkEnd.
struct TEyeDrawing {
    TDrawEyeType Eye = deRight; // deRight: unmirrored, deLeft: mirrored
    TLayoutRect Box;
    TLayoutPoint Centre;
    int CrossArm = 0;
    std::vector<TLayoutPoint> Polygon; // every point of the trace, however many
    TLayoutPoint MarkEnd;
};

struct TTraceLayout {
    double Scale = 0;              // millimetres per pixel of the layout
    std::vector<TEyeDrawing> Eyes; // empty: only the background is drawn
};

// SetDBL's rule: 1..99 are whole millimetres (× 100), 0 and values from 100 up are hundredths.
uint16_t NormaliseDBL(uint16_t value);

// Lays out the measured `shape` in `area` (DrawRect). `dbl` is taken through NormaliseDBL. An
// area of zero width or height, or a shape whose box A is 0, gives no eyes (background only); so
// does an area too small for a lens box one pixel wide.
TTraceLayout LayoutTrace(const TEyeShape& shape, uint16_t dbl, TDrawEyeType mode, const TLayoutRect& area);
// As LayoutTrace with the DBL in hundredths of a millimetre as it is, not taken through
// NormaliseDBL: the only way to lay out a gap below 1.00 mm (50 is 0.50 mm here, 50 mm there).
TTraceLayout LayoutTraceHundredths(const TEyeShape& shape, uint16_t dblHundredths, TDrawEyeType mode,
                                   const TLayoutRect& area);

class TEyeShape;

// Both eyes of `shape` at a given scale instead of fitted: `pixelsPerMmX` and `pixelsPerMmY`
// pixels to the millimetre (a screen's physical resolution gives 1:1). The right eye is drawn
// unmirrored on the left, the left eye on the right (`left` as traced when given, else `shape`
// mirrored: both traces are as seen from the front), their boxes `dblMm` apart, and the
// pair is centred in `area`, the middle of the DBL on the area's centre. Each eye's cross sits on
// its box centre and its mark runs from there to the outline point farthest from it (half the
// effective diameter). A pair larger than the area reaches past it; the painter clips. Scale is
// the horizontal millimetres per pixel. An empty shape, a scale that is not positive or an area
// of zero width or height gives no eyes.
TTraceLayout LayoutTraceAtScale(const TEyeShape& shape, double dblMm, double pixelsPerMmX, double pixelsPerMmY,
                                const TLayoutRect& area, const TEyeShape* left = nullptr);
