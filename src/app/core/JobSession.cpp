// The job shown in the main window: intake, import, the operator's changes and the job file.
#include "app/core/JobSession.h"

#include "app/core/JobIntake.h"
#include "app/core/JobKeys.h"
#include "app/core/TraceImport.h"
#include "common/Numbers.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace {

// The edits show "#0.00": four digits before the separator at most.
constexpr double kLargestValue = 9999.99;

template <std::size_t N>
std::optional<std::string> SelectionFor(const std::string& record, const std::array<std::string_view, N>& keys) {
    // A record below "0" (a missing one included) selects nothing; so does one that is no key.
    if (record < "0")
        return std::nullopt;
    if (std::find(keys.begin(), keys.end(), record) == keys.end())
        return std::nullopt;
    return record;
}

double Measurement(const TShapeMeasures& measures, TJobField field) {
    switch (field) {
    case TJobField::BoxA:
        return measures.BoxA;
    case TJobField::BoxB:
        return measures.BoxB;
    default:
        break;
    }
    return measures.Circumference;
}

TJobField FieldOf(TShapeOp op) {
    switch (op) {
    case TShapeOp::BoxA:
        return TJobField::BoxA;
    case TShapeOp::BoxB:
        return TJobField::BoxB;
    case TShapeOp::Circumference:
        break;
    }
    return TJobField::Circumference;
}

std::string NotANumber(TJobField field, std::string_view text) {
    if (Trim(text).empty())
        return TJobSession::FieldName(field) + " is empty: type a number";
    return TJobSession::FieldName(field) + ": \"" + std::string(text) + "\" is not a number";
}

} // namespace

TJobSession::TJobSession(std::string tracesFolder) : FTracesFolder(std::move(tracesFolder)) {}

std::string TJobSession::FieldName(TJobField field) {
    switch (field) {
    case TJobField::BoxA:
        return "Box A";
    case TJobField::BoxB:
        return "Box B";
    case TJobField::Circumference:
        return "Circumference";
    case TJobField::DBL:
        break;
    }
    return "DBL";
}

bool TJobSession::ReadTypedNumber(std::string_view text, double& value) {
    // Operators type the separator of their keyboard's number pad as often as the one of their
    // regional settings; with no thousands grouping in the edits either one is unambiguous.
    return TryStrToFloat(text, value) || TryStrToFloat(text, value, '.') || TryStrToFloat(text, value, ',');
}

// ---- intake and import --------------------------------------------------------------------------

TJobUpdate TJobSession::PacketArrived(std::string_view packet) {
    const TRecordList lines = PacketToRecords(packet);
    FindVendor(lines, FVendor);
    if (!lines.Value(jobkey::Job).empty()) {
        FJob.Assign(lines);
        FFormats = CaptureTraceFormats(FJob);
        TracesChanged();
    }
    TJobUpdate update;
    if (FVendor != kJobVendor) {
        FJob.Clear();
        FFormats = {};
        TracesChanged();
        update.Panel = TJobPanel{};
    }
    return update;
}

void TJobSession::TracesArrived(const TEyeRec& rt, const TEyeRec& lt) {
    FBaseTraces.Clear();
    for (TRecordList* list : {&FJob, &FBaseTraces}) {
        list->SetValue(jobkey::RtTrace, rt.Radii);
        list->SetValue(jobkey::RtZData, rt.ZData);
        list->SetValue(jobkey::LtTrace, lt.Radii);
        list->SetValue(jobkey::LtZData, lt.ZData);
    }
    TracesChanged();
}

TJobUpdate TJobSession::TracerJobArrived() {
    if (FVendor != kJobVendor)
        return {};
    return NewJob(TJobOrigin::Tracer);
}

TJobUpdate TJobSession::FileOpened(std::vector<std::string> lines, const std::string& fileName) {
    FJob = JobFromTraceFile(std::move(lines), fileName);
    FBaseTraces.Assign(FJob);
    FFormats = CaptureTraceFormats(FJob);
    TracesChanged();
    return NewJob(TJobOrigin::File);
}

TJobUpdate TJobSession::NewJob(TJobOrigin origin) {
    FOrigin = origin;
    FShapeModified = false;
    FFields = {};
    FJob.SetValue(jobkey::Job, CleanJobDigits(FJob.Value(jobkey::Job)));
    double dbl = 0;
    FDBL.reset();
    // The tracer writes a full stop; a file from a workstation of another locale may hold a comma.
    if (TryStrToFloatPointOrComma(FJob.Value(jobkey::DBL), dbl))
        FDBL = dbl;

    const std::optional<std::string> frame = SelectionFor(FJob.Value(jobkey::FrameType), kFrameTypeKeys);
    const std::optional<std::string> edge = SelectionFor(FJob.Value(jobkey::EdgeType), kEdgeTypeKeys);
    // A tracer's job is always written. An opened file is written only when it selects another
    // type: a file without type records has nothing to say about the type, and clearing the
    // selection for it is no change of the job.
    const bool write = origin == TJobOrigin::Tracer || (frame && frame != FFrameKey) || (edge && edge != FEdgeKey);
    FFrameKey = frame;
    FEdgeKey = edge;

    TJobUpdate update;
    update.Draw = Drawing();
    TJobPanel panel;
    panel.JobNumber = FJob.Value(jobkey::Job);
    if (!panel.JobNumber.empty()) {
        panel.Measures = Shown();
        panel.DBL = FDBL;
        panel.FrameKey = frame;
        panel.EdgeKey = edge;
    }
    update.Panel = std::move(panel);
    if (write)
        update.Write = File();
    return update;
}

// ---- the operator's changes ---------------------------------------------------------------------

TJobUpdate TJobSession::Refuse(TJobField field, std::string problem) {
    TFieldState& state = State(field);
    state.Refused = true;
    state.Problem = problem;
    TJobUpdate update;
    update.Problem = std::move(problem);
    return update;
}

TJobUpdate TJobSession::BoxValueChanged(TShapeOp op, std::string_view text, bool lockBAtDatum) {
    if (FUpdating)
        return {};
    const TJobField field = FieldOf(op);
    double wanted = 0;
    if (!ReadTypedNumber(text, wanted))
        return Refuse(field, NotANumber(field, text));
    if (!(wanted > 0 && wanted <= kLargestValue))
        return Refuse(field, FieldName(field) + " must be more than " + FormatFixed(0, 2) + " and at most " +
                                 FormatFixed(kLargestValue, 2));
    TShapeEditResult result;
    try {
        result = RescaleJob(FBaseTraces.Value(jobkey::RtTrace), FBaseTraces.Value(jobkey::LtTrace), op, wanted,
                            lockBAtDatum);
    } catch (const std::exception& e) {
        // Nothing of the job changed: the shape, the records and the file stay as they were.
        return Refuse(field, FieldName(field) + " " + FormatFixed(wanted, 2) + " cannot be made: " + e.what());
    }
    FJob.SetValue(jobkey::RtTrace, result.RtTrace);
    FJob.SetValue(jobkey::LtTrace, result.LtTrace);
    FShapeModified = true;
    FRtMeasures = result.RtMeasures;
    FLtMeasures = result.LtMeasures;
    FRtMeasured = FLtMeasured = true;
    // Each rescale starts from the base traces, so the other two edits now show the new shape's
    // values and whatever was typed into them before no longer holds.
    for (const TJobField box : {TJobField::BoxA, TJobField::BoxB, TJobField::Circumference})
        State(box) = {};
    State(field).Taken = wanted;

    TJobUpdate update;
    update.Measures = TShapeMeasures{result.BoxA, result.BoxB, result.Circumference};
    update.Draw = Drawing();
    update.Write = File();
    return update;
}

TJobUpdate TJobSession::DBLChanged(std::string_view text) {
    if (FUpdating)
        return {};
    double dbl = 0;
    if (!ReadTypedNumber(text, dbl))
        return Refuse(TJobField::DBL, NotANumber(TJobField::DBL, text));
    if (!(dbl >= 0 && dbl <= kLargestValue))
        return Refuse(TJobField::DBL,
                      "DBL must be at least " + FormatFixed(0, 2) + " and at most " + FormatFixed(kLargestValue, 2));
    FJob.SetValue(jobkey::DBL, FormatFixedPoint(dbl, 2));
    FDBL = dbl;
    State(TJobField::DBL) = {};
    State(TJobField::DBL).Taken = dbl;

    TJobUpdate update;
    update.Draw = Drawing();
    update.Write = File();
    return update;
}

TJobUpdate TJobSession::TypeChanged(std::optional<std::string> frameKey, std::optional<std::string> edgeKey) {
    if (FUpdating)
        return {};
    FFrameKey = std::move(frameKey);
    FEdgeKey = std::move(edgeKey);
    TJobUpdate update;
    update.Write = File();
    return update;
}

TEditFinish TJobSession::EditFinished(TJobField field) {
    const TFieldState& state = State(field);
    TEditFinish finish;
    if (!state.Refused && state.Taken) {
        finish.Text = FormatFixed(*state.Taken, 2);
        return finish;
    }
    if (field == TJobField::DBL)
        finish.Text = FDBL ? FormatFixed(*FDBL, 2) : std::string();
    else
        finish.Text = FormatFixed(Measurement(Shown(), field), 2);
    if (state.Refused)
        finish.Problem = state.Problem + (finish.Text.empty() ? "; the job has no DBL" : "; back to " + finish.Text);
    State(field) = {};
    return finish;
}

// ---- the job's traces and file ------------------------------------------------------------------

void TJobSession::TracesChanged() {
    FRtMeasured = FLtMeasured = false;
    FRtMeasures.reset();
    FLtMeasures.reset();
}

const std::optional<TShapeMeasures>& TJobSession::RtMeasures() {
    if (!FRtMeasured) {
        FRtMeasures = MeasureTrace(FJob.Value(jobkey::RtTrace));
        FRtMeasured = true;
    }
    return FRtMeasures;
}

const std::optional<TShapeMeasures>& TJobSession::LtMeasures() {
    if (!FLtMeasured) {
        FLtMeasures = MeasureTrace(FJob.Value(jobkey::LtTrace));
        FLtMeasured = true;
    }
    return FLtMeasures;
}

TShapeMeasures TJobSession::Shown() {
    if (const auto& rt = RtMeasures())
        return *rt;
    if (const auto& lt = LtMeasures())
        return *lt;
    return {};
}

TJobDrawing TJobSession::Drawing() const {
    return {FJob.Value(jobkey::RtTrace), FDBL.value_or(0)};
}

TJobFileWrite TJobSession::File() {
    TJobFileInputs inputs;
    inputs.RtTraceFmt = FFormats.Rt;
    inputs.LtTraceFmt = FFormats.Lt;
    inputs.ShapeModified = FShapeModified;
    inputs.FrameKey = FFrameKey;
    inputs.EdgeKey = FEdgeKey;
    // The box records are computed only when the shape changed or the tracer sent none; a job
    // whose tracer sent them all is never measured for its file.
    const bool measure =
        FShapeModified || FJob.Value("HBOX").empty() || FJob.Value("VBOX").empty() || FJob.Value("CIRC").empty();
    TTraceMeasures measured;
    if (measure || FRtMeasured)
        measured.Rt = RtMeasures();
    if (measure || FLtMeasured)
        measured.Lt = LtMeasures();
    TJobFileWrite file;
    file.FileName = TraceFileName(FTracesFolder, FJob);
    file.Records = BuildTraceFileRecords(FJob, inputs, measured);
    return file;
}
