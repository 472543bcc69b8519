// Tests of the job session: a tracer's job and an opened file drawn, shown and written once, the
// type selections, and the operator's box, circumference and DBL values, taken or put back.
#include "app/core/JobSession.h"

#include "CoreTestUtil.h"
#include "app/core/JobKeys.h"
#include "app/core/TextFile.h"

#include <gtest/gtest.h>

using coretest::Ellipse;
using coretest::TSeparator;
using coretest::TTempFolder;

namespace {

// 50 × 40 mm, and a slightly smaller left eye.
const std::string kRight = Ellipse(400, 25, 20);
const std::string kLeft = Ellipse(400, 24, 19);

struct TJob {
    std::string Number = "000123A";
    std::string Vendor = "TAKUBO";
    std::string FrameType = "1";
    std::string EdgeType = "1";
};

std::string Packet(const TJob& job) {
    const std::vector<std::string> lines{"REQ=TRC",
                                         "JOB=" + job.Number,
                                         "VEN=" + job.Vendor,
                                         "MODEL=T1",
                                         "DBL=17.50",
                                         "HBOX=50.00;50.00",
                                         "VBOX=40.00;40.00",
                                         "CIRC=142.00;142.00",
                                         "FTYP=" + job.FrameType,
                                         "ETYP=" + job.EdgeType,
                                         "TRCFMT=1;400;E;R;F",
                                         "TRCFMT=1;400;E;L;F"};
    std::string packet = "\x1c";
    for (const std::string& line : lines)
        packet += line + "\r\n";
    return packet + "\x1d";
}

// The radii text of a shape; empty for none.
std::string Text(const TEyeShapePtr& shape) {
    return shape ? shape->Radii() : std::string();
}

TRecordList ListOf(const std::vector<std::string>& lines) {
    TRecordList list;
    for (const std::string& line : lines)
        list.Add(line);
    return list;
}

class JobSession : public ::testing::Test {
protected:
    TJobUpdate DeliverJob(const TJob& job = {}) {
        FSession.PacketArrived(Packet(job));
        FSession.TracesArrived({kRight, ""}, {kLeft, ""});
        return FSession.TracerJobArrived();
    }
    TJobUpdate Open(const std::string& name, const std::vector<std::string>& lines) {
        return FSession.FileOpened(lines, FFolder / name);
    }
    std::string Traces() const { return FFolder / "traces"; }

    TTempFolder FFolder;
    TJobSession FSession{FFolder / "traces"};
};

} // namespace

TEST_F(JobSession, TracersJobIsDrawnShownAndWrittenOnce) {
    const TJobUpdate update = DeliverJob();
    ASSERT_TRUE(update.Draw && update.Panel && update.Write);
    EXPECT_EQ(Text(update.Draw->Shape), kRight);
    // The left eye's own trace, for the view of both eyes at true scale.
    EXPECT_EQ(update.Draw->Left, FSession.Lt());
    EXPECT_TRUE(update.Draw->Left);
    EXPECT_DOUBLE_EQ(update.Draw->DBL, 17.5);
    EXPECT_EQ(update.Panel->JobNumber, "123");
    EXPECT_NEAR(update.Panel->Measures.BoxA, 50, 0.01);
    EXPECT_NEAR(update.Panel->Measures.BoxB, 40, 0.01);
    EXPECT_EQ(update.Panel->DBL, 17.5);
    EXPECT_EQ(update.Panel->FrameKey, "1");
    EXPECT_EQ(update.Panel->EdgeKey, "1");
    EXPECT_EQ(update.Write->FileName, Traces() + "/123.txt");
    EXPECT_EQ(update.Write->Records.Value("HBOX"), "50.00;50.00"); // the tracer's
    EXPECT_EQ(update.Write->Records.Value("TRCFMT"), "1;400;E;R;F");
    EXPECT_EQ(FSession.Origin(), TJobOrigin::Tracer);
    EXPECT_EQ(Text(FSession.BaseLt()), kLeft);
    EXPECT_FALSE(FSession.ShapeModified());

    // Another vendor's job: the panel is disabled, nothing is drawn or written, and the job not
    // taken in is named with the vendor.
    TJob other;
    other.Number = "0456";
    other.Vendor = "OTHERCO";
    EXPECT_TRUE(FSession.PacketArrived(Packet(other)).Queued);
    FSession.TracesArrived({kRight, ""}, {kLeft, ""});
    const TJobUpdate dropped = FSession.TracerJobArrived();
    ASSERT_TRUE(dropped.Panel && dropped.NotTaken);
    EXPECT_EQ(dropped.Panel->JobNumber, "");
    EXPECT_FALSE(dropped.Draw || dropped.Write);
    EXPECT_EQ(dropped.NotTaken->JobNumber, "456");
    EXPECT_EQ(dropped.NotTaken->Vendor, "OTHERCO");
    EXPECT_EQ(FSession.Job().Value("JOB"), "");
    const TJobUpdate nothing = FSession.TracerJobArrived();
    EXPECT_FALSE(nothing.Draw || nothing.Panel || nothing.Write || nothing.NotTaken);
}

// Jobs answered while earlier ones wait are handled later, each with its own records and traces,
// in arrival order; packets between them change nothing of the jobs waiting.
TEST_F(JobSession, JobsWaitingAreHandledInArrivalOrderEachWithItsOwnRecords) {
    struct TStep {
        std::string Packet; // empty: the traces of the packet before
        std::string Trace;
    };
    TJob a, b, c, foreign;
    a.Number = "101";
    b.Number = "102";
    b.FrameType = "2";
    c.Number = "103";
    foreign.Number = "104";
    foreign.Vendor = "OTHERCO";
    const std::string shortTrace = kRight.substr(0, 200);
    const std::vector<TStep> steps{{Packet(a), kRight},
                                   {"\x1cREQ=INF\x1d", ""},
                                   {Packet(b), shortTrace},
                                   {Packet(foreign), kLeft},
                                   {Packet(c), kLeft}};
    for (const TStep& step : steps) {
        FSession.PacketArrived(step.Packet);
        if (!step.Trace.empty())
            FSession.TracesArrived({step.Trace, ""}, {kLeft, ""});
    }
    EXPECT_EQ(FSession.Job().Value("JOB"), ""); // nothing is shown before its turn
    ASSERT_EQ(FSession.QueuedJobs(), 4u);

    struct TExpected {
        std::string File, Trace, Ftyp, NotTaken;
    };
    const TExpected expected[] = {
        {"101", kRight, "1", ""}, {"102", shortTrace, "2", ""}, {"", "", "", "104"}, {"103", kLeft, "1", ""}};
    for (const TExpected& e : expected) {
        SCOPED_TRACE(e.File + e.NotTaken);
        const TJobUpdate update = FSession.TracerJobArrived();
        if (!e.NotTaken.empty()) {
            ASSERT_TRUE(update.NotTaken);
            EXPECT_EQ(update.NotTaken->JobNumber, e.NotTaken);
            EXPECT_FALSE(update.Write);
            continue;
        }
        ASSERT_TRUE(update.Write && update.Draw);
        EXPECT_EQ(update.Write->FileName, Traces() + "/" + e.File + ".txt");
        EXPECT_EQ(update.Write->Records.Value("FTYP"), e.Ftyp);
        EXPECT_EQ(Text(update.Draw->Shape), e.Trace);
        EXPECT_EQ(Text(FSession.BaseRt()), e.Trace);
    }
    EXPECT_EQ(FSession.QueuedJobs(), 0u);
}

// A vendor known from an earlier run recognises a tracer that sends jobs without naming itself;
// without one such a job is not taken in, and says so.
TEST_F(JobSession, RememberedVendorTakesInJobsOfATracerThatDoesNotNameItself) {
    const std::string anonymous = "\x1cREQ=TRC\r\nJOB=77\r\nTRCFMT=1;400;E;R;F\r\n\x1d";
    for (const std::string remembered : {"", "TAKUBO"}) {
        SCOPED_TRACE(remembered);
        TJobSession session(Traces());
        session.SetVendor(remembered);
        const TPacketIntake intake = session.PacketArrived(anonymous);
        EXPECT_FALSE(intake.VendorChanged);
        session.TracesArrived({kRight, ""}, {"", ""});
        const TJobUpdate update = session.TracerJobArrived();
        EXPECT_EQ(static_cast<bool>(update.Write), !remembered.empty());
        EXPECT_EQ(static_cast<bool>(update.NotTaken), remembered.empty());
        if (update.NotTaken) {
            EXPECT_EQ(update.NotTaken->JobNumber, "77");
            EXPECT_EQ(update.NotTaken->Vendor, "");
        }
    }
    // A packet that names a vendor changes it.
    TJobSession session(Traces());
    EXPECT_TRUE(session.PacketArrived("\x1cVEN=TAKUBO\r\n\x1d").VendorChanged);
    EXPECT_FALSE(session.PacketArrived("\x1cVEN=TAKUBO\r\n\x1d").VendorChanged);
    EXPECT_EQ(session.Vendor(), "TAKUBO");
}

// The file of a new job is written once, with the selections its own type records make; the
// type rule of the file then applies to them.
TEST_F(JobSession, NewJobIsWrittenOnceWithTheSelectionsOfItsOwnTypes) {
    struct Case {
        std::string frame, edge;
        std::optional<std::string> frameKey, edgeKey;
        std::string ftyp, etyp;
    };
    const std::optional<std::string> none;
    const Case cases[] = {{"2", "1", "2", "1", "2", "1"},
                          {"4", "3", none, "3", "4", "3"},
                          {"1", "2", "3", "2", "3", "2"}, // a rimless edge makes the frame rimless
                          {"1", "-1", "1", none, "1", "-1"},
                          {"0", "1", none, "1", "", "1"}}; // a tracer's frame 0 is left out
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frame + "/" + c.edge);
        TJob job;
        job.FrameType = c.frame;
        job.EdgeType = c.edge;
        const TJobUpdate update = DeliverJob(job);
        ASSERT_TRUE(update.Write && update.Panel);
        EXPECT_EQ(update.Panel->FrameKey, c.frameKey);
        EXPECT_EQ(update.Panel->EdgeKey, c.edgeKey);
        EXPECT_EQ(update.Write->Records.Value("FTYP"), c.ftyp);
        EXPECT_EQ(update.Write->Records.Value("ETYP"), c.etyp);
    }
}

TEST_F(JobSession, OpenedFileIsWrittenOnlyWhenItSelectsAnotherType) {
    DeliverJob(); // frame 1, edge 1
    const std::vector<std::string> same{"REQ=FIL", "DBL=17.50",        "FTYP=1",
                                        "ETYP=1",  "TRCFMT=1;4;E;R;F", "R=2500;2000;2500;2000"};
    const std::vector<std::string> notes{"shopping list", "milk"};
    std::vector<std::string> metal = same;
    metal[2] = "FTYP=2";
    struct Case {
        std::string name;
        const std::vector<std::string>& lines;
        bool written;
        std::optional<std::string> frameKey;
    };
    // A file without type records clears the selections without a write; the next file that
    // has them selects again, which is a change.
    const Case cases[] = {{"order-0042.txt", same, false, "1"},
                          {"56.txt", notes, false, std::nullopt},
                          {"55.txt", same, true, "1"},
                          {"57.txt", metal, true, "2"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TJobUpdate update = Open(c.name, c.lines);
        EXPECT_EQ(update.Write.has_value(), c.written);
        EXPECT_EQ(FSession.FrameKey(), c.frameKey);
        EXPECT_EQ(FSession.Origin(), TJobOrigin::File);
        EXPECT_FALSE(FSession.ShapeModified());
        ASSERT_TRUE(update.Panel && update.Draw);
        if (c.written) {
            EXPECT_EQ(update.Write->FileName, Traces() + "/" + update.Panel->JobNumber + ".txt");
        }
    }
    const TJobUpdate opened = Open("order-0042.txt", same);
    EXPECT_EQ(opened.Panel->JobNumber, "42");
    EXPECT_EQ(Text(opened.Draw->Shape), "2500200025002000");
    EXPECT_EQ(FSession.BaseRt(), FSession.Rt());
}

// Whatever separator the operator types, the file holds the box that was typed, and every edit
// shows the value the file holds for it.
TEST_F(JobSession, EnteredBoxIsTakenAndTheEditsShowWhatTheFileHolds) {
    for (const char separator : {'.', ','}) {
        const TSeparator users(separator);
        for (const std::string typed : {"48.5", "48,5"}) {
            SCOPED_TRACE(std::string(1, separator) + " " + typed);
            DeliverJob();
            const TJobUpdate update = FSession.ValueEntered(TJobField::BoxA, typed, false);
            EXPECT_EQ(update.Problem, "");
            ASSERT_TRUE(update.Values && update.Write && update.Draw);
            EXPECT_EQ(update.Draw->Shape, FSession.Rt());
            EXPECT_NE(Text(FSession.Lt()), kLeft);
            EXPECT_TRUE(FSession.ShapeModified());
            const TShapeMeasures& shown = update.Values->Measures;
            EXPECT_NEAR(shown.BoxA, 48.5, 0.011);
            EXPECT_NEAR(shown.BoxB, 40, 0.011); // box A alone was changed
            const TRecordList& file = update.Write->Records;
            for (const auto& [label, value] : {std::pair{"HBOX", shown.BoxA}, std::pair{"VBOX", shown.BoxB},
                                               std::pair{"CIRC", shown.Circumference}}) {
                const std::string record = file.Value(label);
                EXPECT_EQ(record.substr(0, record.find(';')), FormatFixedPoint(value, 2)) << label;
            }
            EXPECT_EQ(update.Values->DBL, 17.5);
        }
    }
    // Every rescale starts from the base traces: box B alone decides the shape.
    const TJobUpdate boxB = FSession.ValueEntered(TJobField::BoxB, "41", false);
    ASSERT_TRUE(boxB.Values);
    EXPECT_NEAR(boxB.Values->Measures.BoxA, 50, 0.011);
    EXPECT_EQ(FormatFixed(boxB.Values->Measures.BoxB, 2), "41.00");
}

// Until the shape changes, the file holds the tracer's box records, and so do the edits; a value
// entered again as it is shown changes nothing and writes nothing.
TEST_F(JobSession, ValueShownAgainIsNoChange) {
    const TJobUpdate arrived = DeliverJob();
    ASSERT_TRUE(arrived.Panel);
    EXPECT_EQ(arrived.Panel->Measures.Circumference, 142.0); // the tracer's, not the points' measure
    for (const auto& [field, text] : {std::pair{TJobField::BoxA, "50"}, std::pair{TJobField::Circumference, "142"},
                                      std::pair{TJobField::DBL, "17.5"}}) {
        const TJobUpdate update = FSession.ValueEntered(field, text, false);
        EXPECT_EQ(update.Problem, "");
        EXPECT_FALSE(update.Write || update.Draw);
        ASSERT_TRUE(update.Values);
        EXPECT_EQ(*update.Values, (TJobValues{{50, 40, 142}, 17.5}));
    }
    EXPECT_FALSE(FSession.ShapeModified());
}

// Text that is no value to take, a value outside the plausible range or a shape the geometry
// cannot make changes nothing; the edits show the job's values again and the status says why.
TEST_F(JobSession, ValueNotToTakeChangesNothingAndTheEditShowsTheJobsValue) {
    struct Case {
        TJobField field;
        std::string text;
        std::string problem;
    };
    const Case cases[] = {
        {TJobField::BoxA, "", "Box A is empty: type a number; back to 50.00"},
        {TJobField::BoxA, "-", "Box A: \"-\" is not a number; back to 50.00"},
        {TJobField::BoxB, ",", "Box B: \",\" is not a number; back to 40.00"},
        {TJobField::BoxA, "4", "Box A must be from 10.00 to 100.00 mm; back to 50.00"},
        {TJobField::BoxB, "100.01", "Box B must be from 10.00 to 100.00 mm; back to 40.00"},
        {TJobField::Circumference, "999.99", "Circumference must be from 30.00 to 320.00 mm; back to 142.00"},
        {TJobField::Circumference, "29.99", "Circumference must be from 30.00 to 320.00 mm; back to 142.00"},
        {TJobField::DBL, "abc", "DBL: \"abc\" is not a number; back to 17.50"},
        {TJobField::DBL, "40.01", "DBL must be from 0.00 to 40.00 mm; back to 17.50"},
        {TJobField::DBL, "-1", "DBL must be from 0.00 to 40.00 mm; back to 17.50"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const TJobUpdate arrived = DeliverJob();
        const TRecordList job = FSession.Job();
        const TJobUpdate update = FSession.ValueEntered(c.field, c.text, false);
        EXPECT_EQ(update.Problem, c.problem);
        EXPECT_FALSE(update.Write || update.Draw);
        ASSERT_TRUE(update.Values);
        EXPECT_EQ(*update.Values, (TJobValues{arrived.Panel->Measures, arrived.Panel->DBL}));
        EXPECT_EQ(FSession.Job(), job);
        EXPECT_FALSE(FSession.ShapeModified());
    }

    // A long thin shape reaches 320 mm only with radii no file can hold.
    FSession.PacketArrived(Packet({}));
    FSession.TracesArrived({coretest::MakeTrace(400, [](double t) { return std::cos(t) > 0.99 ? 40 : 1; }), ""},
                           {"", ""});
    const TJobUpdate thin = FSession.TracerJobArrived();
    const TJobUpdate refused = FSession.ValueEntered(TJobField::Circumference, "320", false);
    EXPECT_TRUE(refused.Problem.starts_with("Circumference 320.00 cannot be made: Radius ")) << refused.Problem;
    EXPECT_FALSE(refused.Write);
    EXPECT_EQ(refused.Values->Measures, thin.Panel->Measures);
}

TEST_F(JobSession, RefusedValueAfterATakenOneShowsTheShapeTaken) {
    DeliverJob();
    const TJobUpdate taken = FSession.ValueEntered(TJobField::BoxA, "99", false);
    ASSERT_TRUE(taken.Write && taken.Values);
    const TRecordList job = FSession.Job();
    const TJobUpdate refused = FSession.ValueEntered(TJobField::BoxA, "999", false);
    EXPECT_EQ(refused.Problem,
              "Box A must be from 10.00 to 100.00 mm; back to " + FormatFixed(taken.Values->Measures.BoxA, 2));
    EXPECT_EQ(FSession.Job(), job);
    EXPECT_EQ(refused.Values, taken.Values);
}

TEST_F(JobSession, DBLChangeRedrawsAndWritesButLeavesTheShape) {
    const TSeparator comma(',');
    DeliverJob();
    const TJobUpdate update = FSession.ValueEntered(TJobField::DBL, "18,5", false);
    ASSERT_TRUE(update.Draw && update.Write && update.Values);
    EXPECT_DOUBLE_EQ(update.Draw->DBL, 18.5);
    EXPECT_EQ(Text(update.Draw->Shape), kRight);
    // The window shows the user's separator; the file a full stop.
    EXPECT_EQ(FSession.Job().Value(jobkey::DBL), "18.50");
    EXPECT_EQ(update.Write->Records.Value("DBL"), "18.50");
    EXPECT_EQ(update.Write->Records.Value("HBOX"), "50.00;50.00");
    EXPECT_EQ(update.Values->DBL, 18.5);
    EXPECT_FALSE(FSession.ShapeModified());
}

// A file written under another locale is read alike on every workstation.
TEST_F(JobSession, OpenedFileTakesAFullStopOrACommaWhateverTheUsersSeparator) {
    for (const char separator : {'.', ','}) {
        const TSeparator users(separator);
        for (const std::string dbl : {"19.50", "19,50"}) {
            SCOPED_TRACE(std::string(1, separator) + " " + dbl);
            const TJobUpdate update = Open("88.txt", {"DBL=" + dbl, "TRCFMT=1;4;E;R;F", "R=2500;2000;2500;2000"});
            ASSERT_TRUE(update.Panel && update.Draw);
            EXPECT_EQ(update.Panel->DBL, 19.5);
            EXPECT_DOUBLE_EQ(update.Draw->DBL, 19.5);
        }
    }
}

TEST_F(JobSession, TypeSelectionsRewriteTheTypeRecords) {
    DeliverJob(); // FTYP 1, ETYP 1
    struct Case {
        std::optional<std::string> frame, edge;
        std::string ftyp, etyp;
        std::optional<std::string> frameShown; // a frame list that is to show another type
    };
    // "Uncut" and no selection leave the tracer's record; a rimless edge makes the frame rimless,
    // and the frame list shows it.
    const Case cases[] = {{"1", "2", "3", "2", "3"},
                          {"2", "1", "2", "1", std::nullopt},
                          {"2", "-1", "2", "1", std::nullopt},
                          {std::nullopt, "3", "1", "3", std::nullopt},
                          {"3", "4", "3", "4", std::nullopt}};
    for (const Case& c : cases) {
        const TJobUpdate update = FSession.TypeChanged(c.frame, c.edge);
        ASSERT_TRUE(update.Write);
        EXPECT_EQ(update.Write->Records.Value("FTYP"), c.ftyp);
        EXPECT_EQ(update.Write->Records.Value("ETYP"), c.etyp);
        EXPECT_EQ(update.FrameKey, c.frameShown);
        EXPECT_EQ(FSession.FrameKey(), c.frameShown ? c.frameShown : c.frame);
    }
}

TEST_F(JobSession, ChangesWhileTheWindowFillsItsControlsAreIgnored) {
    DeliverJob();
    const TRecordList job = FSession.Job();
    const TJobSession::TUpdating updating(FSession);
    for (const TJobUpdate& update :
         {FSession.ValueEntered(TJobField::BoxA, "45", false), FSession.ValueEntered(TJobField::DBL, "18", false),
          FSession.ValueEntered(TJobField::BoxA, "-", false), FSession.TypeChanged("2", "2")}) {
        EXPECT_FALSE(update.Write || update.Draw || update.Values);
        EXPECT_EQ(update.Problem, "");
    }
    EXPECT_EQ(FSession.Job(), job);
    EXPECT_EQ(FSession.FrameKey(), "1");
}

// Writing an opened job where the traces folder holds another job under its name is the
// operator's decision, asked once for the job shown; nothing else asks.
TEST_F(JobSession, OpenedJobReplacesAnotherSavedJobOnlyWhenTheOperatorSaysSo) {
    const std::vector<std::string> opened{"REQ=FIL", "FTYP=2", "TRCFMT=1;4;E;R;F", "R=2500;2000;2500;2000"};
    const std::vector<std::string> other{"REQ=FIL", "FTYP=1", "TRCFMT=1;4;E;R;F", "R=2400;2000;2400;2000"};
    enum THeld { kNothing, kOther, kSame, kItself };
    struct Case {
        THeld held;
        std::optional<TReplaceAnswer> answer; // none: the question is not answered
        bool asked;
        std::string written; // "" : nothing written
        std::string note;
    };
    const Case cases[] = {
        {kNothing, std::nullopt, false, "1001.txt", ""},
        {kSame, std::nullopt, false, "1001.txt", ""},
        {kItself, std::nullopt, false, "1001.txt", ""},
        {kOther, TReplaceAnswer::Replace, true, "1001.txt", "The opened job replaced the job in 1001.txt"},
        {kOther, TReplaceAnswer::KeepBoth, true, "1001-3.txt",
         "The opened job was saved as 1001-3.txt; 1001.txt keeps the job it held"},
        {kOther, TReplaceAnswer::DoNotWrite, true, "", "The opened job was not saved: 1001.txt holds another job"},
        {kOther, std::nullopt, true, "", "The opened job was not saved: 1001.txt holds another job"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.held) + " " + c.written);
        const TTempFolder folder;
        TJobSession session(folder / "traces");
        CreateFolder(folder / "traces");
        const std::string target = folder / "traces/1001.txt";
        coretest::WriteBytes(folder / "traces/1001-2.txt", "taken\r\n");
        std::string openedName = folder / "1001.txt";
        if (c.held == kItself)
            openedName = target;
        coretest::WriteBytes(openedName, "x"); // the name only matters
        if (c.held == kOther || c.held == kSame)
            coretest::WriteBytes(target, JoinLinesCRLF(ListOf(c.held == kOther ? other : opened)));
        const std::string before = coretest::ReadBytes(target);

        int asked = 0;
        const TAskReplace ask = [&](const std::string& existing, const std::string& keepBoth) {
            ++asked;
            EXPECT_EQ(existing, target);
            EXPECT_EQ(keepBoth, folder / "traces/1001-3.txt");
            return c.answer.value_or(TReplaceAnswer::DoNotWrite);
        };
        const TJobUpdate update = session.FileOpened(opened, openedName);
        ASSERT_TRUE(update.Write); // its frame type is another than none
        const TSettledWrite settled = session.SettleWrite(*update.Write, c.answer ? ask : TAskReplace());
        EXPECT_EQ(asked, c.asked && c.answer ? 1 : 0);
        EXPECT_EQ(settled.Note, c.note);
        EXPECT_EQ(settled.Write ? settled.Write->FileName : "",
                  c.written.empty() ? "" : folder / ("traces/" + c.written));
        EXPECT_EQ(coretest::ReadBytes(target), before); // SettleWrite never writes; the caller does

        // The answer holds for the job shown: the next change goes the same way, unasked.
        const TJobUpdate dbl = session.ValueEntered(TJobField::DBL, "18", false);
        ASSERT_TRUE(dbl.Write);
        const TSettledWrite again = session.SettleWrite(*dbl.Write, ask);
        EXPECT_EQ(again.Write ? again.Write->FileName : "", settled.Write ? settled.Write->FileName : "");
        EXPECT_EQ(again.Note, "");
        EXPECT_EQ(asked, c.asked && c.answer ? 1 : 0);
    }
    // A tracer's job is never asked about.
    DeliverJob();
    const TJobUpdate tracer = FSession.ValueEntered(TJobField::DBL, "18", false);
    const TSettledWrite settled = FSession.SettleWrite(*tracer.Write, nullptr);
    ASSERT_TRUE(settled.Write);
    EXPECT_EQ(settled.Write->FileName, Traces() + "/123.txt");
}

// A file opened again after it was kept beside another job is offered the name that already holds
// it, not one more copy.
TEST_F(JobSession, KeepBothOffersTheNameThatAlreadyHoldsTheOpenedJob) {
    const TTempFolder folder;
    TJobSession session(folder / "traces");
    CreateFolder(folder / "traces");
    coretest::WriteBytes(folder / "traces/1001.txt", "another job\r\n");
    coretest::WriteBytes(folder / "traces/1001-2.txt", "yet another job\r\n");
    coretest::WriteBytes(folder / "1001.txt", "x"); // the name only matters
    const TJobUpdate update =
        session.FileOpened({"REQ=FIL", "FTYP=2", "TRCFMT=1;4;E;R;F", "R=2500;2000;2500;2000"}, folder / "1001.txt");
    ASSERT_TRUE(update.Write);
    coretest::WriteBytes(folder / "traces/1001-3.txt", JoinLinesCRLF(update.Write->Records));
    std::string offered;
    const TSettledWrite settled =
        session.SettleWrite(*update.Write, [&](const std::string&, const std::string& keepBoth) {
            offered = keepBoth;
            return TReplaceAnswer::KeepBoth;
        });
    EXPECT_EQ(offered, folder / "traces/1001-3.txt");
    ASSERT_TRUE(settled.Write);
    EXPECT_EQ(settled.Write->FileName, folder / "traces/1001-3.txt");
}

TEST(ReadTypedNumber, EitherSeparatorWhateverTheUsersIs) {
    for (const char separator : {'.', ','}) {
        const TSeparator users(separator);
        const struct {
            const char* text;
            bool ok;
            double value;
        } cases[] = {{"48.5", true, 48.5}, {"48,5", true, 48.5}, {" 7 ", true, 7},   {"-2.5", true, -2.5},
                     {"", false, 0},       {"-", false, 0},      {".", false, 0},    {",", false, 0},
                     {"4,8.5", false, 0},  {"abc", false, 0},    {"48.5x", false, 0}};
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(1, separator) + " '" + c.text + "'");
            double value = 0;
            EXPECT_EQ(TJobSession::ReadTypedNumber(c.text, value), c.ok);
            if (c.ok) {
                EXPECT_DOUBLE_EQ(value, c.value);
            }
        }
    }
}
