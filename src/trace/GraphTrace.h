// TGraphTrace: the short-lived drawing object of one paint. It holds the trace in its own
// calculator, lays it out in DrawRect and draws the background, the lens polygons, the centre
// crosses and the farthest-point marks with the painter's current pen.
#pragma once

#include "trace/TraceLayout.h"
#include "trace/TrceCalc.h"

#include <cstdint>
#include <string>

class QPainter;

class TGraphTrace {
public:
    TGraphTrace() = default;
    virtual ~TGraphTrace() = default;

    void SetTrace(const std::string& radii) { FCalc.SetTrace(radii); }
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
    TTraceCalc FCalc;
    uint16_t FDBL = 0;
    uint32_t FBGColor = 0xFFFFFF;
    TDrawEyeType FDrawEye = deBoth;
    uint32_t FFillColor = 0xFFFF00;
};
