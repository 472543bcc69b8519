// TJobSession: the job shown in the main window, without the window. It takes in the tracer's
// packets and traces and opened job trace files, and the operator's changes to box A, box B,
// circumference, DBL and the two type selections; each operation answers what the window is to
// draw and show, and whether and what job trace file is to be written. The window only carries
// these answers to its controls and does the writing.
#pragma once

#include "app/core/JobFile.h"
#include "app/core/JobIntake.h"
#include "app/core/ShapeEdit.h"
#include "common/RecordList.h"
#include "protocol/TraceFormats.h"

#include <array>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The keys of the frame and edge type lists' items, in item order.
inline constexpr std::array<std::string_view, 3> kFrameTypeKeys = {"1", "2", "3"};
inline constexpr std::array<std::string_view, 5> kEdgeTypeKeys = {"-1", "1", "2", "3", "4"};

// Where the job shown came from.
enum class TJobOrigin { Tracer, File };

// The four number edits of the job panel.
enum class TJobField { BoxA, BoxB, Circumference, DBL };

// The trace to draw (the right eye's) and the DBL to draw it with.
struct TJobDrawing {
    std::string Trace;
    double DBL = 0;
};

// The job panel as a new job fills it. An empty job number leaves the panel disabled and its
// contents as they were.
struct TJobPanel {
    std::string JobNumber;
    TShapeMeasures Measures;             // of the right eye, or of the left when there is no right trace
    std::optional<double> DBL;           // none: the DBL record is missing or no number
    std::optional<std::string> FrameKey; // the list item to select; none selects nothing
    std::optional<std::string> EdgeKey;
};

// A job trace file to write: its name and its records.
struct TJobFileWrite {
    std::string FileName;
    TRecordList Records;
    bool NameShortened = false; // the job number was too long to be the file's name as it stands
};

// A tracer's job that was answered but is not taken in, because of the tracer's vendor.
struct TJobNotTaken {
    std::string JobNumber; // cleaned to its digits, or the JOB record as sent when that leaves none
    std::string Vendor;    // empty when the tracer never named one
};

// What one operation asks of the window; an empty answer asks nothing.
struct TJobUpdate {
    std::optional<TJobDrawing> Draw;
    std::optional<TJobPanel> Panel;
    // The measurement edits after a rescale; the edit typed in keeps its text.
    std::optional<TShapeMeasures> Measures;
    std::optional<TJobFileWrite> Write;
    // Why the text of an edit was not taken (still being typed, out of range, refused by the
    // geometry); empty when it was.
    std::string Problem;
    // A job of another vendor's tracer (or of a tracer that never named its vendor) was dropped.
    std::optional<TJobNotTaken> NotTaken;
};

// What the intake of one packet changed.
struct TPacketIntake {
    bool VendorChanged = false; // the packet named another vendor than the one known
    bool Queued = false;        // something waits for TracerJobArrived
};

// What a number edit shows once the operator has left it (focus moved on, Enter).
struct TEditFinish {
    std::string Text;    // the value the job holds for it, "%.2f"; empty for a DBL the job lacks
    std::string Problem; // why the typed text was put back; empty when it was taken
};

class TJobSession {
public:
    // `tracesFolder` receives the job trace files.
    explicit TJobSession(std::string tracesFolder);

    // A packet from the tracer, before it is answered. Only the intake happens here: the vendor
    // is noted and a job packet's records are kept for its traces. What the window is to do
    // about it waits in arrival order until TracerJobArrived, so that a job answered while
    // earlier ones wait is never lost or mixed with them: the job shown stays until then.
    TPacketIntake PacketArrived(std::string_view packet);
    // The traces of the job packet just taken in; the job joins the queue.
    void TracesArrived(const TEyeRec& rt, const TEyeRec& lt);
    // The oldest waiting intake, once the tracer has its answer: a job drawn, shown and written;
    // another vendor's job or packet drops the job shown and disables the panel (NotTaken says
    // which job was not taken); nothing when nothing waits.
    TJobUpdate TracerJobArrived();
    // Intakes waiting for TracerJobArrived.
    std::size_t QueuedJobs() const { return FQueue.size(); }
    // The vendor known from before (remembered across runs): a tracer that sends jobs without
    // naming itself again is recognised.
    void SetVendor(std::string vendor) { FVendor = std::move(vendor); }
    // An opened job trace file, its lines as read: it becomes the job. Written only when its
    // type records select another frame or edge type than the one selected.
    TJobUpdate FileOpened(std::vector<std::string> lines, const std::string& fileName);

    // The text of a number edit changed (a keystroke, a step). Text that is no number in range
    // or that the geometry refuses changes nothing and says why in Problem.
    TJobUpdate BoxValueChanged(TShapeOp op, std::string_view text, bool lockBAtDatum);
    TJobUpdate DBLChanged(std::string_view text);
    // The operator selected another frame or edge type (none: nothing selected).
    TJobUpdate TypeChanged(std::optional<std::string> frameKey, std::optional<std::string> edgeKey);
    // The operator left an edit: a text that was not taken goes back to the job's value.
    TEditFinish EditFinished(TJobField field);

    // Set while the window writes an answer into its controls: the changes that this raises
    // are the program's own and every operation above ignores them (answers nothing).
    class TUpdating {
    public:
        explicit TUpdating(TJobSession& session) : FSession(session), FWas(session.FUpdating) {
            session.FUpdating = true;
        }
        ~TUpdating() { FSession.FUpdating = FWas; }
        TUpdating(const TUpdating&) = delete;
        TUpdating& operator=(const TUpdating&) = delete;

    private:
        TJobSession& FSession;
        bool FWas;
    };
    bool Updating() const { return FUpdating; }

    const TRecordList& Job() const { return FJob; }
    const TRecordList& BaseTraces() const { return FBaseTraces; }
    const std::string& Vendor() const { return FVendor; }
    bool ShapeModified() const { return FShapeModified; }
    TJobOrigin Origin() const { return FOrigin; }
    const std::optional<std::string>& FrameKey() const { return FFrameKey; }
    const std::optional<std::string>& EdgeKey() const { return FEdgeKey; }

    // The file of the job as it stands.
    TJobFileWrite File();

    // A number as the operator types it: the user's decimal separator or a full stop, and a
    // comma also where the user's separator is a full stop.
    static bool ReadTypedNumber(std::string_view text, double& value);
    // The name of a field in messages ("Box A", "DBL").
    static std::string FieldName(TJobField field);

private:
    // What an edit last reported, when that was not taken.
    struct TFieldState {
        bool Refused = false;
        std::string Problem;
        std::optional<double> Taken; // the value typed and taken, shown as typed
    };

    // One intake waiting for its handling.
    struct TQueuedIntake {
        std::optional<TRecordList> Job; // a job taken in, its traces set; none: the job shown is dropped
        TTraceFormats Formats;
        std::optional<TJobNotTaken> NotTaken;
    };

    TJobUpdate NewJob(TJobOrigin origin);
    void TracesChanged();
    TJobDrawing Drawing() const;
    const std::optional<TShapeMeasures>& RtMeasures();
    const std::optional<TShapeMeasures>& LtMeasures();
    TShapeMeasures Shown();
    TJobUpdate Refuse(TJobField field, std::string problem);
    TFieldState& State(TJobField field) { return FFields[static_cast<std::size_t>(field)]; }
    const TFieldState& State(TJobField field) const { return FFields[static_cast<std::size_t>(field)]; }

    std::string FTracesFolder;
    std::string FVendor;
    TRecordList FJob;
    TRecordList FBaseTraces;
    TTraceFormats FFormats;
    TJobOrigin FOrigin = TJobOrigin::Tracer;
    bool FUpdating = false;
    bool FShapeModified = false;
    std::optional<std::string> FFrameKey;
    std::optional<std::string> FEdgeKey;
    // The traces of the job are measured once each and kept until they change.
    bool FRtMeasured = false;
    bool FLtMeasured = false;
    std::optional<TShapeMeasures> FRtMeasures;
    std::optional<TShapeMeasures> FLtMeasures;
    std::optional<double> FDBL;
    std::array<TFieldState, 4> FFields;
    // The job packet whose traces are expected next, and what waits for its handling.
    std::optional<TQueuedIntake> FIncoming;
    std::deque<TQueuedIntake> FQueue;
};
