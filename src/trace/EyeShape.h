// TEyeShape: one eye's traced shape as a value. The radii text is measured once when the value is
// made; everything that shows, writes or exports the shape reads it from here instead of parsing
// the text again. Values are shared and never change: a new shape is a new value.
#pragma once
#include <memory>
#include <string>
#include <vector>

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

    const std::string& Radii() const { return FRadii; }
    bool Empty() const { return FOutline.empty(); }
    const std::vector<TOutlinePoint>& Outline() const { return FOutline; }

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

private:
    std::string FRadii;
    std::vector<TOutlinePoint> FOutline;
    double FBoxA = 0;
    double FBoxB = 0;
    double FCircumference = 0;
    double FLeft = 0;
    double FRight = 0;
    double FBottom = 0;
    double FTop = 0;
    double FEffectiveDiameter = 0;
};

using TEyeShapePtr = std::shared_ptr<const TEyeShape>;

// A shared shape of `radii`; null for an empty text. Raises the geometry's error as TEyeShape does.
TEyeShapePtr MakeEyeShape(std::string radii);
