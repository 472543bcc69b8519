// Shape editing without a screen: both eyes rescaled from the base traces to one wanted box A,
// box B or circumference, so repeated changes never accumulate error.
#pragma once

#include <optional>
#include <string>

enum class TShapeOp { BoxA, BoxB, Circumference };

// The measurements of one eye's trace in millimetres.
struct TShapeMeasures {
    double BoxA = 0;
    double BoxB = 0;
    double Circumference = 0;
    bool operator==(const TShapeMeasures&) const = default;
};

// Measures a trace once; an empty trace measures nothing.
std::optional<TShapeMeasures> MeasureTrace(const std::string& trace);

struct TShapeEditResult {
    std::string RtTrace; // the rescaled traces; empty when that eye has no base trace
    std::string LtTrace;
    // The measurements to show in the edits: of the right eye, or of the left when there is no
    // right trace.
    double BoxA = 0;
    double BoxB = 0;
    double Circumference = 0;
    // Each eye's measurements of its rescaled trace; none for an eye without a trace.
    std::optional<TShapeMeasures> RtMeasures;
    std::optional<TShapeMeasures> LtMeasures;
};

// The right eye is rescaled to `wanted`; the left eye to the right eye's resulting value for the
// same measurement as shown with two decimals (what the edit then holds), or to `wanted` when
// there is no right trace. A refused rescale (a radius outside 0.00..99.99 mm) or a trace that
// cannot be measured raises the geometry's error; nothing is returned then.
TShapeEditResult RescaleJob(const std::string& baseRt, const std::string& baseLt, TShapeOp op, double wanted,
                            bool lockBAtDatum);
