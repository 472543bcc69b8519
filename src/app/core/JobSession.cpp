// The job shown in the main window: intake, import, the operator's changes and the job file.
#include "app/core/JobSession.h"

#include "app/core/JobIntake.h"
#include "app/core/JobKeys.h"
#include "app/core/TextFile.h"
#include "app/core/TraceImport.h"
#include "common/Numbers.h"
#include "common/Utf8Path.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

namespace {

template <std::size_t N>
std::optional<std::string> SelectionFor(const std::string& record, const std::array<std::string_view, N>& keys) {
    // A record below "0" (a missing one included) selects nothing; so does one that is no key.
    if (record < "0")
        return std::nullopt;
    if (std::find(keys.begin(), keys.end(), record) == keys.end())
        return std::nullopt;
    return record;
}

TShapeOp OpOf(TJobField field) {
    switch (field) {
    case TJobField::BoxA:
        return TShapeOp::BoxA;
    case TJobField::BoxB:
        return TShapeOp::BoxB;
    default:
        break;
    }
    return TShapeOp::Circumference;
}

// The first value of a box record ("50.00;49.80"), when it is a number.
void TakeRecordValue(const std::string& record, double& value) {
    double read = 0;
    if (TryStrToFloatPointOrComma(record.substr(0, record.find(';')), read))
        value = read;
}

} // namespace

TJobSession::TJobSession(std::string tracesFolder) : FTracesFolder(std::move(tracesFolder)) {}

TValueRange TJobSession::Range(TJobField field) {
    // What a spectacle frame can plausibly measure; a value beyond is a typing slip (999 for 99).
    switch (field) {
    case TJobField::BoxA:
    case TJobField::BoxB:
        return {10, 100};
    case TJobField::Circumference:
        return {30, 320};
    case TJobField::DBL:
        break;
    }
    return {0, 40};
}

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

TPacketIntake TJobSession::PacketArrived(std::string_view packet) {
    TRecordList lines = PacketToRecords(packet);
    TPacketIntake intake;
    const std::string before = FVendor;
    FindVendor(lines, FVendor);
    intake.VendorChanged = FVendor != before;
    // Only the traces of this packet can complete a job begun earlier.
    FIncoming.reset();
    const std::string& job = lines.Value(jobkey::Job);
    if (FVendor == kJobVendor) {
        if (!job.empty()) {
            FIncoming.emplace();
            FIncoming->Formats = CaptureTraceFormats(lines);
            FIncoming->Job = std::move(lines);
        }
        return intake;
    }
    // Another vendor's packet drops the job shown; its job is said to be dropped.
    TQueuedIntake dropped;
    if (!job.empty()) {
        std::string number = CleanJobDigits(job);
        dropped.NotTaken = TJobNotTaken{number.empty() ? job : std::move(number), FVendor};
    }
    FQueue.push_back(std::move(dropped));
    intake.Queued = true;
    return intake;
}

void TJobSession::TracesArrived(const TEyeRec& rt, const TEyeRec& lt) {
    if (!FIncoming)
        return; // another vendor's job: dropped already
    FIncoming->RtRadii = rt.Radii;
    FIncoming->LtRadii = lt.Radii;
    FQueue.push_back(std::move(*FIncoming));
    FIncoming.reset();
}

TJobUpdate TJobSession::TracerJobArrived() {
    if (FQueue.empty())
        return {};
    TQueuedIntake intake = std::move(FQueue.front());
    FQueue.pop_front();
    if (!intake.Job) {
        FJob.Clear();
        FFormats = {};
        FRt = FLt = nullptr;
        TJobUpdate update;
        update.Panel = TJobPanel{};
        update.NotTaken = std::move(intake.NotTaken);
        return update;
    }
    TEyeShapePtr rt = MakeEyeShape(std::move(intake.RtRadii));
    TEyeShapePtr lt = MakeEyeShape(std::move(intake.LtRadii));
    FJob = std::move(*intake.Job);
    FFormats = std::move(intake.Formats);
    SetTraces(std::move(rt), std::move(lt));
    return NewJob(TJobOrigin::Tracer);
}

TJobUpdate TJobSession::FileOpened(std::vector<std::string> lines, const std::string& fileName) {
    std::vector<std::string> opened = lines;
    TRecordList job = JobFromTraceFile(std::move(lines), fileName);
    // The file's traces become the job's shapes; the records keep the rest.
    TEyeShapePtr rt = MakeEyeShape(job.Value(jobkey::RtTrace));
    TEyeShapePtr lt = MakeEyeShape(job.Value(jobkey::LtTrace));
    job.SetValue(jobkey::RtTrace, {});
    job.SetValue(jobkey::LtTrace, {});
    FOpenedName = fileName;
    FOpenedLines = std::move(opened);
    FJob = std::move(job);
    FFormats = CaptureTraceFormats(FJob);
    SetTraces(std::move(rt), std::move(lt));
    return NewJob(TJobOrigin::File);
}

TJobUpdate TJobSession::NewJob(TJobOrigin origin) {
    FOrigin = origin;
    ++FJobSerial;
    FTarget = TTarget::Unsettled;
    FTargetName.clear();
    FShapeModified = false;
    FJob.SetValue(jobkey::Job, CleanJobDigits(FJob.Value(jobkey::Job)));
    double dbl = 0;
    FDBL.reset();
    // The tracer writes a full stop; a file from a workstation of another locale may hold a comma.
    if (TryStrToFloatPointOrComma(FJob.Value(jobkey::DBL), dbl))
        FDBL = dbl;

    std::optional<std::string> frame = SelectionFor(FJob.Value(jobkey::FrameType), kFrameTypeKeys);
    const std::optional<std::string> edge = SelectionFor(FJob.Value(jobkey::EdgeType), kEdgeTypeKeys);
    // The list shows what the file holds, also the frame type a rimless edge forces into it.
    if (const std::optional<std::string> forced = ForcedFrame(edge))
        frame = forced;
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

std::string TJobSession::Check(TJobField field, std::string_view text, double& value) const {
    if (Trim(text).empty())
        return FieldName(field) + " is empty: type a number";
    double typed = 0;
    if (!ReadTypedNumber(text, typed))
        return FieldName(field) + ": \"" + std::string(text) + "\" is not a number";
    // The edits show two decimals: the value taken is the one shown.
    typed = static_cast<double>(std::llround(typed * 100)) / 100;
    const TValueRange range = Range(field);
    if (!(typed >= range.Min && typed <= range.Max))
        return FieldName(field) + " must be from " + FormatFixed(range.Min, 2) + " to " + FormatFixed(range.Max, 2) +
               " mm";
    value = typed;
    return {};
}

bool TJobSession::Rescale(TShapeOp op, double wanted, bool lockBAtDatum, std::string& problem) {
    TShapeEditResult result;
    try {
        result = RescaleJob(FBaseRt, FBaseLt, op, wanted, lockBAtDatum);
    } catch (const std::exception& e) {
        problem = e.what();
        return false;
    }
    FRt = std::move(result.Rt);
    FLt = std::move(result.Lt);
    FShapeModified = true;
    return true;
}

TJobUpdate TJobSession::ValueEntered(TJobField field, std::string_view text, bool lockBAtDatum) {
    if (FUpdating)
        return {};
    TJobUpdate update;
    const TJobValues before = Values();
    const std::optional<double> shown =
        field == TJobField::DBL ? before.DBL : std::optional<double>(before.Measures.Of(OpOf(field)));
    double wanted = 0;
    std::string problem = Check(field, text, wanted);
    // The value shown again (the edit only passed through, or "50" for "50.00") is no change.
    const bool same = problem.empty() && shown && FormatFixed(*shown, 2) == FormatFixed(wanted, 2);
    if (problem.empty() && !same) {
        if (field == TJobField::DBL) {
            FJob.SetValue(jobkey::DBL, FormatFixedPoint(wanted, 2));
            FDBL = wanted;
        } else {
            std::string reason;
            if (!Rescale(OpOf(field), wanted, lockBAtDatum, reason))
                problem = FieldName(field) + " " + FormatFixed(wanted, 2) + " cannot be made: " + reason;
        }
    }
    update.Values = Values();
    if (!problem.empty()) {
        // Nothing of the job changed: the edit shows the value it had before the editing began.
        const std::optional<double>& back = field == TJobField::DBL ? update.Values->DBL : shown;
        update.Problem = problem + (back ? "; back to " + FormatFixed(*back, 2) : "; the job has no DBL");
        return update;
    }
    if (same)
        return update;
    update.Draw = Drawing();
    update.Write = File();
    return update;
}

std::optional<std::string> TJobSession::ForcedFrame(const std::optional<std::string>& edgeKey) const {
    // As the file's type rule: a rimless edge, selected or from the tracer, makes the frame rimless.
    const std::string edge = edgeKey && *edgeKey > "0" ? *edgeKey : FJob.Value(jobkey::EdgeType);
    if (edge == "2")
        return std::string("3");
    return std::nullopt;
}

TJobUpdate TJobSession::TypeChanged(std::optional<std::string> frameKey, std::optional<std::string> edgeKey) {
    if (FUpdating)
        return {};
    FFrameKey = std::move(frameKey);
    FEdgeKey = std::move(edgeKey);
    TJobUpdate update;
    if (const std::optional<std::string> forced = ForcedFrame(FEdgeKey); forced && forced != FFrameKey) {
        FFrameKey = forced;
        update.FrameKey = forced;
    }
    update.Write = File();
    return update;
}

// ---- the job's traces and file ------------------------------------------------------------------

void TJobSession::SetTraces(TEyeShapePtr rt, TEyeShapePtr lt) {
    // A new job: its traces as they came are also the base every change starts from.
    FBaseRt = FRt = std::move(rt);
    FBaseLt = FLt = std::move(lt);
}

TShapeMeasures TJobSession::Shown() const {
    TShapeMeasures shown = MeasuresOf(FRt ? FRt : FLt);
    // Until the shape is changed the file passes the tracer's box records unchanged, and the
    // edits show what the file holds.
    if (!FShapeModified) {
        TakeRecordValue(FJob.Value("HBOX"), shown.BoxA);
        TakeRecordValue(FJob.Value("VBOX"), shown.BoxB);
        TakeRecordValue(FJob.Value("CIRC"), shown.Circumference);
    }
    return shown;
}

TJobValues TJobSession::Values() const {
    return {Shown(), FDBL};
}

TJobDrawing TJobSession::Drawing() const {
    return {FRt, FLt, FDBL.value_or(0)};
}

TJobFileWrite TJobSession::File() {
    TJobFileInputs inputs;
    inputs.RtTraceFmt = FFormats.Rt;
    inputs.LtTraceFmt = FFormats.Lt;
    inputs.ShapeModified = FShapeModified;
    inputs.FrameKey = FFrameKey;
    inputs.EdgeKey = FEdgeKey;
    TJobFileWrite file;
    if (FTarget == TTarget::Settled)
        file.FileName = FTargetName;
    else
        file.FileName = TraceFileName(FTracesFolder, FJob, &file.NameShortened);
    file.Records = BuildTraceFileRecords(FJob, inputs, FRt, FLt);
    file.Opened = FOrigin == TJobOrigin::File;
    file.JobSerial = FJobSerial;
    return file;
}

// ---- an opened job's file ------------------------------------------------------------------------

namespace {

std::string BaseName(const std::string& fileName) {
    return fileName.substr(fileName.rfind('/') + 1);
}

// "1001.txt" kept beside as "1001-2.txt": visible, and opened again it names itself, as its job
// number keeps the digits at both ends. A name that already holds this very job is offered again,
// so a file opened once more leaves no second copy of it.
std::string KeepBothName(const std::string& fileName, const std::vector<std::string>& lines) {
    const std::string stem = fileName.ends_with(".txt") ? fileName.substr(0, fileName.size() - 4) : fileName;
    for (unsigned n = 2;; ++n) {
        std::string name = stem + "-" + std::to_string(n) + ".txt";
        if (!FileExists(name))
            return name;
        try {
            if (ReadLines(name) == lines)
                return name;
        } catch (const std::exception&) {
            // another file, or none that can be read: not this job's
        }
    }
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(PathFromUtf8(a), PathFromUtf8(b), error) && !error;
}

} // namespace

TSettledWrite TJobSession::SettleWrite(TJobFileWrite file, const TAskReplace& ask) {
    TSettledWrite settled;
    const bool current = file.JobSerial == FJobSerial;
    if (!file.Opened || (current && FTarget == TTarget::Settled)) {
        if (file.Opened)
            file.FileName = FTargetName;
        settled.Write = std::move(file);
        return settled;
    }
    if (current && FTarget == TTarget::NotWritten)
        return settled;

    const auto holdsAnotherJob = [&] {
        if (!FileExists(file.FileName) || (current && SameFile(file.FileName, FOpenedName)))
            return false;
        try {
            const std::vector<std::string> held = ReadLines(file.FileName);
            return !(current && held == FOpenedLines) && held != file.Records.Lines();
        } catch (const std::exception&) {
            return true; // what cannot be read cannot be known to be the same job
        }
    };
    const auto settle = [&](TTarget target, const std::string& name) {
        if (file.JobSerial == FJobSerial) {
            FTarget = target;
            FTargetName = name;
        }
    };
    if (!holdsAnotherJob()) {
        settle(TTarget::Settled, file.FileName);
        settled.Write = std::move(file);
        return settled;
    }
    const std::string existing = file.FileName;
    const std::string keepBoth = KeepBothName(existing, file.Records.Lines());
    const TReplaceAnswer answer = ask ? ask(existing, keepBoth) : TReplaceAnswer::DoNotWrite;
    switch (answer) {
    case TReplaceAnswer::Replace:
        settle(TTarget::Settled, existing);
        settled.Note = "The opened job replaced the job in " + BaseName(existing);
        settled.Write = std::move(file);
        break;
    case TReplaceAnswer::KeepBoth:
        settle(TTarget::Settled, keepBoth);
        settled.Note =
            "The opened job was saved as " + BaseName(keepBoth) + "; " + BaseName(existing) + " keeps the job it held";
        file.FileName = keepBoth;
        settled.Write = std::move(file);
        break;
    case TReplaceAnswer::DoNotWrite:
        settle(TTarget::NotWritten, {});
        settled.Note = "The opened job was not saved: " + BaseName(existing) + " holds another job";
        break;
    }
    return settled;
}
