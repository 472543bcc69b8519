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
#include <functional>
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

// The shape to draw (the right eye's; none: nothing) and the DBL to draw it with.
struct TJobDrawing {
    TEyeShapePtr Shape;
    TEyeShapePtr Left; // the left eye's own trace, for the view of both eyes at true scale
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
    // The job was opened from a file: its name in the traces folder may hold another job.
    bool Opened = false;
    unsigned JobSerial = 0; // which job shown it belongs to
};

// A tracer's job that was answered but is not taken in, because of the tracer's vendor.
struct TJobNotTaken {
    std::string JobNumber; // cleaned to its digits, or the JOB record as sent when that leaves none
    std::string Vendor;    // empty when the tracer never named one
};

// The operator's answer when writing an opened job would replace another job in the traces folder.
enum class TReplaceAnswer { Replace, KeepBoth, DoNotWrite };
// Asks it, given the file that holds another job and the name the opened job keeps both under.
using TAskReplace = std::function<TReplaceAnswer(const std::string& existing, const std::string& keepBothName)>;

// Where an opened job's file goes.
struct TSettledWrite {
    std::optional<TJobFileWrite> Write; // none: nothing is written
    std::string Note;                   // what happened, when the operator was asked
};

// What the four number edits show: the job's values as its file holds them, so that an edit and
// the file never disagree.
struct TJobValues {
    TShapeMeasures Measures;   // of the right eye, or of the left when there is no right trace
    std::optional<double> DBL; // none: the job has no DBL that is a number
    bool operator==(const TJobValues&) const = default;
};

// The plausible values of a field; a value outside is refused with a message naming the range.
struct TValueRange {
    double Min = 0;
    double Max = 0;
};

// What one operation asks of the window; an empty answer asks nothing.
struct TJobUpdate {
    std::optional<TJobDrawing> Draw;
    std::optional<TJobPanel> Panel;
    // What the number edits are to show after a value was entered, taken or not.
    std::optional<TJobValues> Values;
    // The frame list is to show this type: the edge type forces it into the file.
    std::optional<std::string> FrameKey;
    std::optional<TJobFileWrite> Write;
    // Why a value entered was not taken (no number, out of range, refused by the geometry) and
    // what the edit shows instead; empty when it was taken.
    std::string Problem;
    // A job of another vendor's tracer (or of a tracer that never named its vendor) was dropped.
    std::optional<TJobNotTaken> NotTaken;
};

// What the intake of one packet changed.
struct TPacketIntake {
    bool VendorChanged = false; // the packet named another vendor than the one known
    bool Queued = false;        // something waits for TracerJobArrived
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

    // The operator finished a value in a number edit: Enter, Tab, leaving the edit, or an up/down
    // step. Box A, box B and circumference rescale both eyes from the base traces, DBL sets the DBL
    // record; either redraws and rewrites the file. Text that is no number, a value outside the
    // field's range or a shape the geometry cannot make changes nothing and says why in Problem.
    // Values always holds what the edits are to show.
    TJobUpdate ValueEntered(TJobField field, std::string_view text, bool lockBAtDatum);
    // The operator selected another frame or edge type (none: nothing selected).
    TJobUpdate TypeChanged(std::optional<std::string> frameKey, std::optional<std::string> edgeKey);

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

    // The job's records as the tracer or the file gave them, without its traces.
    const TRecordList& Job() const { return FJob; }
    // Each eye's shape as it stands and as traced or opened (none: no trace), each measured once.
    const TEyeShapePtr& Rt() const { return FRt; }
    const TEyeShapePtr& Lt() const { return FLt; }
    const TEyeShapePtr& BaseRt() const { return FBaseRt; }
    const TEyeShapePtr& BaseLt() const { return FBaseLt; }
    const std::string& Vendor() const { return FVendor; }
    bool ShapeModified() const { return FShapeModified; }
    TJobOrigin Origin() const { return FOrigin; }
    const std::optional<std::string>& FrameKey() const { return FFrameKey; }
    const std::optional<std::string>& EdgeKey() const { return FEdgeKey; }

    // The file of the job as it stands.
    TJobFileWrite File();
    // Settles where the file of an opened job goes before it is written. Its own name in the
    // traces folder is taken when that is free, is the opened file itself, or holds the same job;
    // otherwise `ask` decides (no answer writes nothing), and the answer holds for the job shown.
    TSettledWrite SettleWrite(TJobFileWrite file, const TAskReplace& ask);
    // What the number edits show for the job as it stands.
    TJobValues Values() const;

    // A number as the operator types it: the user's decimal separator or a full stop, and a
    // comma also where the user's separator is a full stop.
    static bool ReadTypedNumber(std::string_view text, double& value);
    // The name of a field in messages ("Box A", "DBL").
    static std::string FieldName(TJobField field);
    static TValueRange Range(TJobField field);

private:
    // One intake waiting for its handling.
    struct TQueuedIntake {
        std::optional<TRecordList> Job; // a job taken in; none: the job shown is dropped
        std::string RtRadii;            // its traces, measured when the job is handled
        std::string LtRadii;
        TTraceFormats Formats;
        std::optional<TJobNotTaken> NotTaken;
    };

    TJobUpdate NewJob(TJobOrigin origin);
    void SetTraces(TEyeShapePtr rt, TEyeShapePtr lt);
    TJobDrawing Drawing() const;
    TShapeMeasures Shown() const;
    // Why the value cannot be taken; empty when it can.
    std::string Check(TJobField field, std::string_view text, double& value) const;
    bool Rescale(TShapeOp op, double wanted, bool lockBAtDatum, std::string& problem);
    // The frame type a rimless edge forces into the file, when it does.
    std::optional<std::string> ForcedFrame(const std::optional<std::string>& edgeKey) const;

    std::string FTracesFolder;
    std::string FVendor;
    TRecordList FJob;
    TEyeShapePtr FRt;
    TEyeShapePtr FLt;
    TEyeShapePtr FBaseRt;
    TEyeShapePtr FBaseLt;
    TTraceFormats FFormats;
    TJobOrigin FOrigin = TJobOrigin::Tracer;
    bool FUpdating = false;
    bool FShapeModified = false;
    std::optional<std::string> FFrameKey;
    std::optional<std::string> FEdgeKey;
    std::optional<double> FDBL;
    // The job packet whose traces are expected next, and what waits for its handling.
    std::optional<TQueuedIntake> FIncoming;
    std::deque<TQueuedIntake> FQueue;
    // The job shown, counted; the opened file and where its job is written.
    unsigned FJobSerial = 0;
    std::string FOpenedName;
    std::vector<std::string> FOpenedLines;
    enum class TTarget { Unsettled, Settled, NotWritten } FTarget = TTarget::Unsettled;
    std::string FTargetName;
};
