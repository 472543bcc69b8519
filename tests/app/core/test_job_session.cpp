// Tests of the job session: a tracer's job and an opened file drawn, shown and written once, the
// type selections, and the operator's box, circumference and DBL values, taken or put back.
#include "app/core/JobSession.h"

#include "CoreTestUtil.h"
#include "app/core/JobKeys.h"

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

double First(const std::string& pair) {
    double value = 0;
    EXPECT_TRUE(TJobSession::ReadTypedNumber(pair.substr(0, pair.find(';')), value)) << pair;
    return value;
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
    EXPECT_EQ(update.Draw->Trace, kRight);
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
    EXPECT_EQ(FSession.BaseTraces().Value(jobkey::LtTrace), kLeft);
    EXPECT_FALSE(FSession.ShapeModified());

    // Another vendor's job: the panel is disabled, nothing is drawn or written.
    TJob other;
    other.Vendor = "OTHERCO";
    const TJobUpdate dropped = FSession.PacketArrived(Packet(other));
    ASSERT_TRUE(dropped.Panel);
    EXPECT_EQ(dropped.Panel->JobNumber, "");
    FSession.TracesArrived({kRight, ""}, {kLeft, ""});
    const TJobUpdate ignored = FSession.TracerJobArrived();
    EXPECT_FALSE(ignored.Draw || ignored.Panel || ignored.Write);
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
                          {"1", "2", "1", "2", "3", "2"}, // a rimless edge makes the frame rimless
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
    EXPECT_EQ(opened.Draw->Trace, "2500200025002000");
    EXPECT_EQ(FSession.BaseTraces().Value(jobkey::RtTrace), FSession.Job().Value(jobkey::RtTrace));
}

// Whatever separator the operator types, the file holds the box that was typed.
TEST_F(JobSession, TypedBoxIsTakenAndTheOtherMeasurementsFollow) {
    for (const char separator : {'.', ','}) {
        const TSeparator users(separator);
        for (const std::string typed : {"48.5", "48,5"}) {
            SCOPED_TRACE(std::string(1, separator) + " " + typed);
            DeliverJob();
            const TJobUpdate update = FSession.BoxValueChanged(TShapeOp::BoxA, typed, false);
            EXPECT_EQ(update.Problem, "");
            ASSERT_TRUE(update.Measures && update.Write && update.Draw);
            EXPECT_NEAR(update.Measures->BoxA, 48.5, 0.011);
            EXPECT_NEAR(update.Measures->BoxB, 40, 0.011); // box A alone was changed
            EXPECT_NEAR(First(update.Write->Records.Value("HBOX")), 48.5, 0.011);
            EXPECT_EQ(update.Draw->Trace, FSession.Job().Value(jobkey::RtTrace));
            EXPECT_NE(FSession.Job().Value(jobkey::LtTrace), kLeft);
            EXPECT_TRUE(FSession.ShapeModified());
            EXPECT_EQ(FSession.EditFinished(TJobField::BoxA).Text, FormatFixed(48.5, 2));
        }
    }
    // Every rescale starts from the base traces: box B alone decides the shape, box A shows the
    // result again.
    FSession.BoxValueChanged(TShapeOp::BoxB, "41", false);
    const TEditFinish boxA = FSession.EditFinished(TJobField::BoxA);
    EXPECT_NEAR(std::stod(boxA.Text), 50, 0.011);
    EXPECT_EQ(boxA.Problem, "");
    EXPECT_EQ(FSession.EditFinished(TJobField::BoxB).Text, "41.00");
}

// Text that is no value to take changes nothing, says why, and once the operator leaves the
// edit it shows the job's value again.
TEST_F(JobSession, TextThatIsNoValueToTakeChangesNothingAndIsPutBack) {
    struct Case {
        TJobField field;
        std::string text;
        std::string problem;
        std::string shown;
    };
    const Case cases[] = {
        {TJobField::BoxA, "", "Box A is empty: type a number", "50.00"},
        {TJobField::BoxA, "-", "Box A: \"-\" is not a number", "50.00"},
        {TJobField::BoxB, ",", "Box B: \",\" is not a number", "40.00"},
        {TJobField::BoxA, "0", "Box A must be more than 0.00 and at most 9999.99", "50.00"},
        {TJobField::Circumference, "-5", "Circumference must be more than 0.00 and at most 9999.99", ""},
        {TJobField::BoxA, "999", "Box A 999.00 cannot be made: Radius 499.50 mm is out of range (0.00 to 99.99 mm)",
         "50.00"},
        {TJobField::DBL, "abc", "DBL: \"abc\" is not a number", "17.50"},
        {TJobField::DBL, "-1", "DBL must be at least 0.00 and at most 9999.99", "17.50"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const TJobUpdate arrived = DeliverJob();
        const TRecordList job = FSession.Job();
        const TJobUpdate update = c.field == TJobField::DBL
                                      ? FSession.DBLChanged(c.text)
                                      : FSession.BoxValueChanged(c.field == TJobField::BoxA   ? TShapeOp::BoxA
                                                                 : c.field == TJobField::BoxB ? TShapeOp::BoxB
                                                                                              : TShapeOp::Circumference,
                                                                 c.text, false);
        EXPECT_EQ(update.Problem, c.problem);
        EXPECT_FALSE(update.Write || update.Draw || update.Measures);
        EXPECT_EQ(FSession.Job(), job);
        EXPECT_FALSE(FSession.ShapeModified());

        const TEditFinish finish = FSession.EditFinished(c.field);
        const std::string shown = c.shown.empty() ? FormatFixed(arrived.Panel->Measures.Circumference, 2) : c.shown;
        EXPECT_EQ(finish.Text, shown);
        EXPECT_EQ(finish.Problem, c.problem + "; back to " + shown);
        // Said once: the edit now holds the job's value.
        EXPECT_EQ(FSession.EditFinished(c.field).Problem, "");

        // A later write keeps the tracer's box records: no shape was changed.
        const TJobUpdate dbl = FSession.DBLChanged("18");
        ASSERT_TRUE(dbl.Write);
        EXPECT_EQ(dbl.Write->Records.Value("HBOX"), "50.00;50.00");
        EXPECT_EQ(dbl.Write->Records.Value("CIRC"), "142.00;142.00");
    }
}

TEST_F(JobSession, RefusedValueAfterATakenOneGoesBackToTheShapeShown) {
    DeliverJob();
    const TJobUpdate taken = FSession.BoxValueChanged(TShapeOp::BoxA, "99", false);
    ASSERT_TRUE(taken.Write);
    const TRecordList job = FSession.Job();
    EXPECT_NE(FSession.BoxValueChanged(TShapeOp::BoxA, "999", false).Problem, "");
    EXPECT_EQ(FSession.Job(), job);
    // The edit shows the box of the shape that the drawing, the records and the file hold.
    const TEditFinish finish = FSession.EditFinished(TJobField::BoxA);
    EXPECT_EQ(finish.Text, FormatFixed(taken.Measures->BoxA, 2));
    EXPECT_EQ(taken.Write->Records.Value("HBOX").substr(0, finish.Text.size() + 1), finish.Text + ";");
}

TEST_F(JobSession, DBLChangeRedrawsAndWritesButLeavesTheShape) {
    const TSeparator comma(',');
    DeliverJob();
    const TJobUpdate update = FSession.DBLChanged("18,5");
    ASSERT_TRUE(update.Draw && update.Write);
    EXPECT_DOUBLE_EQ(update.Draw->DBL, 18.5);
    EXPECT_EQ(update.Draw->Trace, kRight);
    // The window shows the user's separator; the file a full stop.
    EXPECT_EQ(FSession.Job().Value(jobkey::DBL), "18.50");
    EXPECT_EQ(update.Write->Records.Value("DBL"), "18.50");
    EXPECT_EQ(update.Write->Records.Value("HBOX"), "50.00;50.00");
    EXPECT_FALSE(update.Measures);
    EXPECT_FALSE(FSession.ShapeModified());
    EXPECT_EQ(FSession.EditFinished(TJobField::DBL).Text, "18,50");
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
    };
    // "Uncut" and no selection leave the tracer's record; a rimless edge makes the frame rimless.
    const Case cases[] = {{"1", "2", "3", "2"},
                          {"2", "1", "2", "1"},
                          {"2", "-1", "2", "1"},
                          {std::nullopt, "3", "1", "3"},
                          {"3", "4", "3", "4"}};
    for (const Case& c : cases) {
        const TJobUpdate update = FSession.TypeChanged(c.frame, c.edge);
        ASSERT_TRUE(update.Write);
        EXPECT_EQ(update.Write->Records.Value("FTYP"), c.ftyp);
        EXPECT_EQ(update.Write->Records.Value("ETYP"), c.etyp);
    }
}

TEST_F(JobSession, ChangesWhileTheWindowFillsItsControlsAreIgnored) {
    DeliverJob();
    const TRecordList job = FSession.Job();
    const TJobSession::TUpdating updating(FSession);
    for (const TJobUpdate& update :
         {FSession.BoxValueChanged(TShapeOp::BoxA, "45", false), FSession.DBLChanged("18"),
          FSession.BoxValueChanged(TShapeOp::BoxA, "-", false), FSession.TypeChanged("2", "2")}) {
        EXPECT_FALSE(update.Write || update.Draw || update.Measures);
        EXPECT_EQ(update.Problem, "");
    }
    EXPECT_EQ(FSession.Job(), job);
    EXPECT_EQ(FSession.FrameKey(), "1");
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
