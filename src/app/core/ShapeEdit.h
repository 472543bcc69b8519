// Shape editing without a screen: both eyes rescaled from the base traces to one wanted box A,
// box B or circumference, so repeated changes never accumulate error.
#pragma once

#include <string>

enum class TShapeOp { BoxA, BoxB, Circumference };

struct TShapeEditResult {
    std::string RtTrace; // the rescaled traces; empty when that eye has no base trace
    std::string LtTrace;
    // The measurements to show in the edits: of the right eye, or of the left when there is no
    // right trace.
    double BoxA = 0;
    double BoxB = 0;
    double Circumference = 0;
};

// The right eye is rescaled to `wanted`; the left eye to the right eye's resulting value for the
// same measurement as shown with two decimals (what the edit then holds), or to `wanted` when
// there is no right trace. A refused rescale (a radius outside 0.00..99.99 mm) or a trace that
// cannot be measured raises the geometry's error; nothing is returned then.
TShapeEditResult RescaleJob(const std::string& baseRt, const std::string& baseLt, TShapeOp op, double wanted,
                            bool lockBAtDatum);
