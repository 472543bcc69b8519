// TEyeShape: one eye's traced shape as a value. The radii text is measured once when the value is
// made; everything that shows, writes or exports the shape reads it from here instead of parsing
// the text again. Values are shared and never change: a new shape is a new value.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class TTraceCalc;

// A point of the outline in millimetres from the trace centre: x to the right and y up as the
// radii run, counter-clockwise from the positive x axis at equal angle steps.
struct TOutlinePoint {
    double X = 0;
    double Y = 0;
};

class TEyeShape {
public:
    // Measures `radii` (groups of four decimal characters, each a radius in 0.01 mm). A text that
    // cannot be measured raises the geometry's error. An empty text gives an empty shape: no
    // points, every measure 0.
    explicit TEyeShape(std::string radii);
    // The trace `calc` holds as its getters give it (a pending size change applied), with the
    // measurements the calculator made of it: a rescaled trace is not measured a second time.
    explicit TEyeShape(TTraceCalc& calc);

    const std::string& Radii() const { return FRadii; }
    bool Empty() const { return FOutline.empty(); }
    const std::vector<TOutlinePoint>& Outline() const { return FOutline; }
    // Each point's radius in millimetres exactly as the geometry reads it from the text.
    std::size_t PointCount() const { return FRadiusMm.size(); }
    double Radius(std::size_t index) const { return FRadiusMm[index]; }

    // As the job file gives them (HBOX, VBOX, CIRC).
    double BoxA() const { return FBoxA; }
    double BoxB() const { return FBoxB; }
    double Circumference() const { return FCircumference; }
    // The box around the outline, its edges in millimetres from the trace centre. Like box A and
    // box B it always holds the trace centre.
    double Left() const { return FLeft; }
    double Right() const { return FRight; }
    double Bottom() const { return FBottom; }
    double Top() const { return FTop; }
    double BoxCentreX() const { return (FLeft + FRight) / 2; }
    double BoxCentreY() const { return (FBottom + FTop) / 2; }
    // Twice the largest distance of an outline point from the box centre: the smallest round
    // blank the lens can be cut from when it is centred on its box.
    double EffectiveDiameter() const { return FEffectiveDiameter; }
    // The outline point at that distance, the first of equals; 0 for an empty shape.
    std::size_t FarthestPoint() const { return FFarthestPoint; }
    // Twice the largest radius, and the angle (degrees) of the first point at it: the blank and
    // its farthest point when the lens is centred on the trace centre, as the geometry gives them.
    double CentredDiameter() const { return FCentredDiameter; }
    double FarthestAngle() const { return FFarthestAngle; }

private:
    void Take(TTraceCalc& calc);

    std::string FRadii;
    std::vector<TOutlinePoint> FOutline;
    std::vector<double> FRadiusMm;
    double FBoxA = 0;
    double FBoxB = 0;
    double FCircumference = 0;
    double FLeft = 0;
    double FRight = 0;
    double FBottom = 0;
    double FTop = 0;
    double FEffectiveDiameter = 0;
    std::size_t FFarthestPoint = 0;
    double FCentredDiameter = 0;
    double FFarthestAngle = 0;
};

using TEyeShapePtr = std::shared_ptr<const TEyeShape>;

// A shared shape of `radii`; null for an empty text. Raises the geometry's error as TEyeShape does.
TEyeShapePtr MakeEyeShape(std::string radii);
// A shared shape of the trace `calc` holds; null when it holds none.
TEyeShapePtr MakeEyeShape(TTraceCalc& calc);
