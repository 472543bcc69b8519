// TGraphTrace: the short-lived drawing object of one paint. It lays out the shape it is given in
// DrawRect and draws the background, the lens polygons, the centre crosses and the farthest-point
// marks with the painter's current pen.
#pragma once

#include "trace/EyeShape.h"
#include "trace/TraceLayout.h"

#include <cstdint>
#include <string>

class QPainter;

class TGraphTrace {
public:
    TGraphTrace() = default;
    virtual ~TGraphTrace() = default;

    // The shape measured already; none draws the background alone.
    void SetShape(TEyeShapePtr shape) {
        FShape = std::move(shape);
        FRadii.clear();
    }
    // A radii text, measured by Draw: for a caller that holds no shape. A malformed text raises
    // the geometry's error there.
    void SetTrace(const std::string& radii) {
        FShape.reset();
        FRadii = radii;
    }
    void SetDBL(uint16_t value) { FDBL = NormaliseDBL(value); }
    // The DBL in hundredths of a millimetre as it is (SetDBL would read 1 to 99 as whole mm).
    void SetDBLHundredths(uint16_t value) { FDBL = value; }
    void SetBGColor(uint32_t color) { FBGColor = color; }
    void SetFillColor(uint32_t color) { FFillColor = color; }
    void SetDrawEye(TDrawEyeType eye) { FDrawEye = eye; }

    TLayoutRect DrawRect;

    // Fills DrawRect with the background colour, then draws the layout. The painter's brush is
    // restored afterwards, also when the layout raised an error (which then reaches the caller).
    void Draw(QPainter& canvas);

private:
    TEyeShapePtr FShape;
    std::string FRadii;
    uint16_t FDBL = 0;
    uint32_t FBGColor = 0xFFFFFF;
    TDrawEyeType FDrawEye = deBoth;
    uint32_t FFillColor = 0xFFFF00;
};
