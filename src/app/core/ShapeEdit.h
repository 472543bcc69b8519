// Shape editing without a screen: both eyes rescaled from the base traces to one wanted box A,
// box B or circumference, so repeated changes never accumulate error.
#pragma once

#include "trace/EyeShape.h"

enum class TShapeOp { BoxA, BoxB, Circumference };

// The measurements of one eye's trace in millimetres, as the edits show them.
struct TShapeMeasures {
    double BoxA = 0;
    double BoxB = 0;
    double Circumference = 0;
    double Of(TShapeOp op) const;
    bool operator==(const TShapeMeasures&) const = default;
};

// What the shape measures; all 0 for no shape.
TShapeMeasures MeasuresOf(const TEyeShapePtr& shape);

struct TShapeEditResult {
    // The rescaled eyes, each measured once; none for an eye without a base trace.
    TEyeShapePtr Rt;
    TEyeShapePtr Lt;
    // The measurements to show in the edits: of the right eye, or of the left when there is no
    // right trace.
    TShapeMeasures Shown() const { return MeasuresOf(Rt ? Rt : Lt); }
};

// The right eye is rescaled to `wanted`; the left eye to the right eye's resulting value for the
// same measurement as shown with two decimals (what the edit then holds), or to `wanted` when
// there is no right trace. A refused rescale (a radius outside 0.00..99.99 mm) raises the
// geometry's error; nothing is returned then.
TShapeEditResult RescaleJob(const TEyeShapePtr& baseRt, const TEyeShapePtr& baseLt, TShapeOp op, double wanted,
                            bool lockBAtDatum);
