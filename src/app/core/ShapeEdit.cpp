// Shape editing: both eyes rescaled from their base traces to one wanted measurement.
#include "app/core/ShapeEdit.h"

#include "common/Numbers.h"
#include "trace/TrceCalc.h"

namespace {
struct TEyeResult {
    std::string Trace;
    double BoxA = 0;
    double BoxB = 0;
    double Circumference = 0;
};

// An eye without a trace is left alone: there is nothing to rescale, and a circumference change
// of an empty trace would fail on its zero circumference.
TEyeResult RescaleEye(const std::string& base, TShapeOp op, double wanted, bool lockBAtDatum) {
    TEyeResult result;
    if (base.empty())
        return result;
    TTraceCalc calc;
    calc.LockBAtDatum = lockBAtDatum;
    calc.SetTrace(base);
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
    // The box changes are applied here; a refused one raises its error.
    result.Trace = calc.Trace();
    result.BoxA = calc.BoxA();
    result.BoxB = calc.BoxB();
    result.Circumference = calc.Circumference();
    return result;
}

double Measurement(const TEyeResult& eye, TShapeOp op) {
    switch (op) {
    case TShapeOp::BoxA:
        return eye.BoxA;
    case TShapeOp::BoxB:
        return eye.BoxB;
    case TShapeOp::Circumference:
        break;
    }
    return eye.Circumference;
}
} // namespace

std::optional<TShapeMeasures> MeasureTrace(const std::string& trace) {
    if (trace.empty())
        return std::nullopt;
    TTraceCalc calc;
    calc.SetTrace(trace);
    return TShapeMeasures{calc.BoxA(), calc.BoxB(), calc.Circumference()};
}

TShapeEditResult RescaleJob(const std::string& baseRt, const std::string& baseLt, TShapeOp op, double wanted,
                            bool lockBAtDatum) {
    const TEyeResult right = RescaleEye(baseRt, op, wanted, lockBAtDatum);

    // The left eye follows the right one as its edit shows it, two decimals, so that both eyes
    // of the file match what the operator sees.
    double leftWanted = wanted;
    if (!baseRt.empty()) {
        const double shown = Measurement(right, op);
        if (!TryStrToFloat(FormatFixed(shown, 2), leftWanted))
            leftWanted = shown;
    }
    const TEyeResult left = RescaleEye(baseLt, op, leftWanted, lockBAtDatum);

    const TEyeResult& shown = baseRt.empty() ? left : right;
    TShapeEditResult result;
    result.RtTrace = right.Trace;
    result.LtTrace = left.Trace;
    result.BoxA = shown.BoxA;
    result.BoxB = shown.BoxB;
    result.Circumference = shown.Circumference;
    if (!baseRt.empty())
        result.RtMeasures = TShapeMeasures{right.BoxA, right.BoxB, right.Circumference};
    if (!baseLt.empty())
        result.LtMeasures = TShapeMeasures{left.BoxA, left.BoxB, left.Circumference};
    return result;
}
