// The main window takes in jobs from a tracer on a real pseudo-terminal: the job panel, the job
// trace file and the clipboard; other vendors, malformed packets, an empty job number, a file
// that cannot be written, and a job arriving while the window is minimised.
#include "FormTestSupport.h"

#include "app/NumberEdit.h"
#include "handler/OMATracer.h"
#include "trace/TracePanel.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QMessageBox>
#include <QSignalSpy>

using namespace form_test;

namespace {

const QString kFileOnClipboard = QStringLiteral("The trace filename is on the clipboard for pasting");

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

class FormIntake : public TFormFixture {};

} // namespace

TEST_F(FormIntake, TakuboJobIsShownWrittenAndItsNameIsOnTheClipboard) {
    StartForm();
    ASSERT_EQ(StatusText(*FForm), QString::fromStdString("Ready on port " + FPty.SlavePath()));
    ASSERT_FALSE(Control<QGroupBox>(*FForm, "JobGroupBox")->isEnabled());
    std::vector<std::string> told; // what the window's job files tell their subscribers
    FForm->JobFiles().Subscribe([&](const TJobFileEvent& e) { told.push_back(e.FileName + " " + e.JobNumber); });

    ASSERT_EQ(DeliverJob().substr(0, 2), "\x06\x1c");
    ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == kFileOnClipboard; }));

    // The job number is cleaned to its digits; the file holds the tracer's records (lower-case
    // names left out) and both traces as format 1, whatever the tracer sent.
    std::vector<std::string> expected{"REQ=FIL",          "VEN=TAKUBO",       "MODEL=T1",           "DBL=17.50",
                                      "HBOX=50.00;50.00", "VBOX=40.00;40.00", "CIRC=142.00;142.00", "FTYP=1",
                                      "ETYP=1",           "XTRA=kept",        "TRCFMT=1;16;E;R;F"};
    for (const std::string& r : RadiiRecords(RightRadii()))
        expected.push_back(r);
    expected.push_back("TRCFMT=1;16;E;L;F");
    for (const std::string& r : RadiiRecords(LeftRadii()))
        expected.push_back(r);
    const QString file = TracePath(QStringLiteral("123.txt"));
    EXPECT_EQ(ReadFileText(file), Joined(expected));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), file);
    EXPECT_EQ(told, std::vector<std::string>{file.toStdString() + " 123"});

    auto* panel = Control<QGroupBox>(*FForm, "JobGroupBox");
    EXPECT_TRUE(panel->isEnabled());
    EXPECT_EQ(panel->title(), QStringLiteral(" Tracer job 123 "));
    EXPECT_EQ(Control<TNumberEdit>(*FForm, "BoxAEdit")->text(), QStringLiteral("50.00"));
    EXPECT_EQ(Control<TNumberEdit>(*FForm, "BoxBEdit")->text(), QStringLiteral("40.00"));
    EXPECT_EQ(Control<TNumberEdit>(*FForm, "DBLEdit")->text(), QStringLiteral("17.50"));
    EXPECT_EQ(Control<QComboBox>(*FForm, "FrameTypeCombo")->currentText(), QStringLiteral("Plastic"));
    EXPECT_EQ(Control<QComboBox>(*FForm, "EdgeTypeCombo")->currentText(), QStringLiteral("Bevel"));
    EXPECT_EQ(FForm->TracePanel1()->Trace(), RadiiText(RightRadii()));
    EXPECT_EQ(FForm->TracePanel1()->DrawEye, deRight);
    EXPECT_EQ(FForm->TracePanel1()->Shape(), FForm->Session().Rt());
    EXPECT_EQ(Radii(FForm->Session().Lt()), RadiiText(LeftRadii()));
    EXPECT_EQ(Radii(FForm->Session().BaseRt()), RadiiText(RightRadii()));

    // Everything exchanged is in the log: the packet, the trace line, the answer.
    const auto& log = CommLog().Lines();
    auto has = [&](const std::string& line) { return std::find(log.begin(), log.end(), line) != log.end(); };
    EXPECT_TRUE(has(std::string(kInFromTracer)));
    EXPECT_TRUE(has("Received  Rt Trace: 16 data points, Lt Trace: 16 data points"));
    EXPECT_TRUE(has(std::string(kOutToTracer)));
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}

TEST_F(FormIntake, JobIsHandledOnlyOnceTheTracerHasItsAnswer) {
    StartForm();
    // What the window had done with the job at the moment the answer to its packet went out.
    struct TAtAnswer {
        std::size_t JobsWaiting;
        bool FileWritten;
        QString Status;
    };
    std::vector<TAtAnswer> atAnswer;
    TOMATracer* tracer = FForm->OMATracer1();
    const TOMADataPacket logAnswer = tracer->OnSendOMAPacket;
    tracer->OnSendOMAPacket = [&, logAnswer](QObject* sender, std::string& packet) {
        atAnswer.push_back({FForm->Session().QueuedJobs(), QFileInfo::exists(TracePath(QStringLiteral("123.txt"))),
                            StatusText(*FForm)});
        logAnswer(sender, packet);
    };
    ASSERT_FALSE(DeliverJob().empty());
    ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == kFileOnClipboard; }));
    ASSERT_EQ(atAnswer.size(), 1u);
    EXPECT_EQ(atAnswer[0].JobsWaiting, 1u); // the job and its traces are taken in before the answer...
    EXPECT_FALSE(atAnswer[0].FileWritten);  // ...the job is handled after it, and the status
    EXPECT_EQ(atAnswer[0].Status, QString::fromStdString("Ready on port " + FPty.SlavePath())); // set
    EXPECT_TRUE(QFileInfo::exists(TracePath(QStringLiteral("123.txt"))));
}

// A job's file is written once, with the type selections its own records make: a first write
// with the previous job's selections would let anyone reading the folder see the wrong types.
TEST_F(FormIntake, NewJobIsWrittenOnceWithItsOwnTypeSelections) {
    StartForm();
    ASSERT_FALSE(DeliverJob().empty());
    ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == kFileOnClipboard; }));
    struct Case {
        std::string job, frame, edge;
        int frameIndex, edgeIndex;
    };
    const Case cases[] = {
        {"124", "2", "1", 1, 1}, {"125", "2", "1", 1, 1}, {"126", "1", "3", 0, 3}, {"127", "4", "3", -1, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.job);
        FPty.Send({"REQ=INI"}); // clears the status
        FPty.AwaitReply();
        ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == QStringLiteral("Receiving data"); }));
        QSignalSpy written(QGuiApplication::clipboard(), &QClipboard::dataChanged);
        TJobPacket job;
        job.Job = c.job;
        job.FrameType = c.frame;
        job.EdgeType = c.edge;
        ASSERT_FALSE(DeliverJob(job).empty());
        ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == kFileOnClipboard; }));
        Settle();
        EXPECT_EQ(written.count(), 1);
        const std::string text = ReadFileText(TracePath(QString::fromStdString(c.job + ".txt")));
        EXPECT_EQ(FileRecord(text, "FTYP"), c.frame);
        EXPECT_EQ(FileRecord(text, "ETYP"), c.edge);
        EXPECT_EQ(Control<QComboBox>(*FForm, "FrameTypeCombo")->currentIndex(), c.frameIndex);
        EXPECT_EQ(Control<QComboBox>(*FForm, "EdgeTypeCombo")->currentIndex(), c.edgeIndex);
    }
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}

TEST_F(FormIntake, AnotherVendorsJobIsAnsweredButNothingIsTakenIn) {
    StartForm();
    TJobPacket job;
    job.Vendor = "OTHERCO";
    ASSERT_EQ(DeliverJob(job).substr(0, 2), "\x06\x1c");
    Settle();
    // The tracer was told "No Error": the job that is not taken in is said, in red, and the log
    // names the vendor.
    EXPECT_EQ(StatusText(*FForm), QStringLiteral("Job 123 was not taken in: the tracer's vendor is OTHERCO; jobs "
                                                 "are taken in from TAKUBO only."));
    EXPECT_EQ(Control<QLabel>(*FForm, "StatusLabel")->palette().color(QPalette::WindowText), QColor(Qt::red));
    const auto log = CommLog().Lines();
    EXPECT_NE(
        std::find(log.begin(), log.end(), "Job 123 not taken in: vendor OTHERCO (jobs are taken in from TAKUBO only)"),
        log.end());
    EXPECT_FALSE(Control<QGroupBox>(*FForm, "JobGroupBox")->isEnabled());
    EXPECT_EQ(FForm->Job().Value("JOB"), "");
    EXPECT_TRUE(FForm->TracePanel1()->Trace().empty());
    EXPECT_FALSE(QDir(FFolder.path() + QStringLiteral("/traces")).exists());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
}

TEST_F(FormIntake, TrailingRecordsAndTypesFollowTheJob) {
    struct Case {
        std::string job, frame, edge;
        QString file;
        std::string ftyp, etyp;
        bool panelEnabled;
        QString status = kFileOnClipboard;
    };
    // A tracer FTYP of 0 is left out; the Rimless edge makes the frame rimless; a job number
    // without a digit from 1 to 9 gets a visible name of its own, said in the status, and leaves
    // the job panel disabled; a job number too long for a file name is saved under a shorter
    // one, also said in the status.
    const QString noNumber = QStringLiteral("The job had no job number: saved as ");
    const QString tooLong = QStringLiteral("The job number is too long for a file name: saved as ");
    const QString longName = QString(111, QLatin1Char('7')) + QStringLiteral("-6252d7a9.txt");
    const Case cases[] = {
        {"A0012B", "0", "1", QStringLiteral("12.txt"), "<none>", "1", true},
        {"77", "1", "2", QStringLiteral("77.txt"), "3", "2", true},
        {"0000", "1", "2", QStringLiteral("no-job-number-1.txt"), "3", "2", false,
         noNumber + QStringLiteral("no-job-number-1.txt")},
        {"ABC", "1", "2", QStringLiteral("no-job-number-2.txt"), "3", "2", false,
         noNumber + QStringLiteral("no-job-number-2.txt")},
        {std::string(300, '7'), "1", "1", longName, "1", "1", true, tooLong + longName},
    };
    StartForm();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.job);
        TJobPacket job;
        job.Job = c.job;
        job.FrameType = c.frame;
        job.EdgeType = c.edge;
        ASSERT_FALSE(DeliverJob(job).empty());
        ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == c.status; })) << StatusText(*FForm).toStdString();
        const std::string text = ReadFileText(TracePath(c.file));
        EXPECT_EQ(FileRecord(text, "FTYP"), c.ftyp);
        EXPECT_EQ(FileRecord(text, "ETYP"), c.etyp);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), TracePath(c.file));
        EXPECT_EQ(Control<QGroupBox>(*FForm, "JobGroupBox")->isEnabled(), c.panelEnabled);
        FPty.Send({"REQ=INI"}); // any packet clears the status for the next case
        FPty.AwaitReply(2000);
        ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == QStringLiteral("Receiving data"); }));
    }
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}

TEST_F(FormIntake, MalformedPacketIsOneLogLineAndTheNextPacketIsAnswered) {
    StartForm();
    FPty.Write("\x1cREQ=INI\r\n\x1d"); // no RS, so no CRC record
    ASSERT_EQ(DeliverJob().substr(0, 2), "\x06\x1c");
    ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == kFileOnClipboard; }));
    EXPECT_TRUE(QFileInfo::exists(TracePath(QStringLiteral("123.txt"))));

    // The bad packet: its "in" entry, then exactly one line that is neither a record nor a separator.
    const auto& log = CommLog().Lines();
    std::vector<std::string> others;
    for (const std::string& line : log)
        if (line.find('=') == std::string::npos && line.find("<") == std::string::npos &&
            line.rfind("---------", 0) != 0 && line.rfind("Received  ", 0) != 0)
            others.push_back(line);
    std::string all;
    for (const std::string& line : log)
        all += line + "\n";
    ASSERT_EQ(others.size(), 1u) << all;
    EXPECT_EQ(others[0], "Missing RS character in packet");
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}

TEST_F(FormIntake, FileThatCannotBeWrittenIsReportedAndChangesNothingElse) {
    StartForm();
    // A regular file where the traces folder should be.
    QFile blocker(FFolder.path() + QStringLiteral("/traces"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.write("not a folder");
    blocker.close();

    ASSERT_FALSE(DeliverJob().empty());
    ASSERT_TRUE(WaitUntil([&] { return !FErrors.Messages.empty(); }));
    EXPECT_NE(FErrors.Messages[0].find("123.txt"), std::string::npos) << FErrors.Messages[0];
    EXPECT_EQ(ReadFileText(blocker.fileName()), "not a folder");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    // The handling stopped at the write: no drawing, no panel filling; the status says the job
    // was not saved.
    EXPECT_EQ(FForm->TracePanel1()->Trace(), "");
    EXPECT_TRUE(StatusText(*FForm).startsWith(QStringLiteral("Jobs are not being saved: 1 job not saved.")))
        << StatusText(*FForm).toStdString();
    EXPECT_FALSE(Control<QGroupBox>(*FForm, "JobGroupBox")->isEnabled());

    // The tracer is still answered.
    FPty.Send({"REQ=INI"});
    EXPECT_FALSE(FPty.AwaitReply().empty());
}

TEST_F(FormIntake, JobArrivingWhileMinimisedIsAnnouncedInTheTitle) {
    StartForm();
    FForm->show();
    FForm->MinimizeButtonClick();
    ASSERT_TRUE(WaitUntil([&] { return FForm->isMinimized() || !FForm->isVisible(); }));
    ASSERT_FALSE(DeliverJob().empty());
    ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == kFileOnClipboard; }));
    // No notification area offscreen: the minimised window's title carries the news.
    EXPECT_EQ(FForm->windowTitle(), QStringLiteral("Tracer Interface - Received shape with job ID 123"));
    FForm->RestoreFromTray();
    EXPECT_FALSE(FForm->isMinimized());
    EXPECT_EQ(FForm->windowTitle(), QStringLiteral("Tracer Interface"));
}

TEST_F(FormIntake, WithoutSettingsThePortErrorAndTheDefaultColours) {
    FForm = std::make_unique<TForm1>(FFolder.path());
    EXPECT_EQ(StatusText(*FForm), QStringLiteral("Cannot open tracer COM port.  Please see Settings."));
    const QLabel* status = Control<QLabel>(*FForm, "StatusLabel");
    EXPECT_EQ(status->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_TRUE(status->font().bold());
    EXPECT_EQ(FForm->TracePanel1()->BGColor, 16776960u);
    EXPECT_EQ(FForm->TracePanel1()->FillColor, 16777215u);
    EXPECT_EQ(FForm->OMATracer1()->ComPort()->BaudRate(), 9600);
    EXPECT_FALSE(FForm->OMATracer1()->Active());
    EXPECT_EQ(FForm->windowTitle(), QStringLiteral("Tracer Interface"));
}

TEST_F(FormIntake, CaptionsAreTheWindowsOwnAndErrorsCarryTheProgramsTitle) {
    StartForm();
    // An application display name would be appended to every window's caption by the X11 and
    // Wayland platforms ("Settings — Tracer Interface"); the window does not set one.
    EXPECT_EQ(QGuiApplication::applicationDisplayName().toStdString(),
              QCoreApplication::applicationName().toStdString());

    const TErrorReporter collector = SetErrorReporter({}); // the message box
    QString title, text;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    Guarded([] { throw std::runtime_error("refused"); });
    SetErrorReporter(collector);
    EXPECT_EQ(title, QStringLiteral("Tracer Interface"));
    EXPECT_EQ(text, QStringLiteral("refused"));
}
