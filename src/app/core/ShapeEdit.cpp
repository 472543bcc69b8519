// Shape editing: both eyes rescaled from their base traces to one wanted measurement.
#include "app/core/ShapeEdit.h"

#include "common/Numbers.h"
#include "trace/TrceCalc.h"

namespace {
// An eye without a trace is left alone: there is nothing to rescale, and a circumference change
// of an empty trace would fail on its zero circumference.
TEyeShapePtr RescaleEye(const TEyeShapePtr& base, TShapeOp op, double wanted, bool lockBAtDatum) {
    if (!base)
        return nullptr;
    TTraceCalc calc;
    calc.LockBAtDatum = lockBAtDatum;
    calc.SetTrace(base->Radii());
    switch (op) {
    case TShapeOp::BoxA:
        calc.SetBoxA(wanted);
        break;
    case TShapeOp::BoxB:
        calc.SetBoxB(wanted);
        break;
    case TShapeOp::Circumference:
        calc.SetCircumference(wanted);
        break;
    }
    // The box changes are applied here, and the result is measured once; a refused change
    // raises its error.
    return MakeEyeShape(calc);
}
} // namespace

double TShapeMeasures::Of(TShapeOp op) const {
    switch (op) {
    case TShapeOp::BoxA:
        return BoxA;
    case TShapeOp::BoxB:
        return BoxB;
    case TShapeOp::Circumference:
        break;
    }
    return Circumference;
}

TShapeMeasures MeasuresOf(const TEyeShapePtr& shape) {
    if (!shape)
        return {};
    return {shape->BoxA(), shape->BoxB(), shape->Circumference()};
}

TShapeEditResult RescaleJob(const TEyeShapePtr& baseRt, const TEyeShapePtr& baseLt, TShapeOp op, double wanted,
                            bool lockBAtDatum) {
    TShapeEditResult result;
    result.Rt = RescaleEye(baseRt, op, wanted, lockBAtDatum);

    // The left eye follows the right one as its edit shows it, two decimals, so that both eyes
    // of the file match what the operator sees.
    double leftWanted = wanted;
    if (baseRt) {
        const double shown = MeasuresOf(result.Rt).Of(op);
        if (!TryStrToFloat(FormatFixed(shown, 2), leftWanted))
            leftWanted = shown;
    }
    result.Lt = RescaleEye(baseLt, op, leftWanted, lockBAtDatum);
    return result;
}
