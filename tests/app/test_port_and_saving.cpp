// The port that is not there yet, the settings dialog's effect on the line, and jobs or settings
// that cannot be saved: all said in the status, none with a stack of message boxes.
#include "FormTestSupport.h"

#include "app/dialogs/SettingsForm.h"
#include "handler/OMATracer.h"

#include "OtherUser.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTest>

#include <QDir>

#include <algorithm>
#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace form_test;

namespace {

// Another program holding the line, as the serial port itself holds it.
class TLineHolder {
public:
    explicit TLineHolder(const std::string& path) : FFd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        if (FFd >= 0)
            ::flock(FFd, LOCK_EX | LOCK_NB);
    }
    ~TLineHolder() { ::close(FFd); }
    TLineHolder(const TLineHolder&) = delete;
    TLineHolder& operator=(const TLineHolder&) = delete;

private:
    int FFd;
};

QColor StatusColour(const TForm1& form) {
    return Control<QLabel>(form, "StatusLabel")->palette().color(QPalette::WindowText);
}

void MakeFile(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a folder");
}

class PortAndSaving : public TFormFixture {};

} // namespace

TEST_F(PortAndSaving, PortThatAppearsLaterIsOpenedByTheRetry) {
    // The simulator's stable name, made only after the program has started.
    const std::string link = FFolder.path().toStdString() + "/tracer";
    StartForm({{"TracerCOMPort", link}});
    EXPECT_EQ(StatusText(*FForm),
              QStringLiteral("Cannot open tracer COM port.  Please see Settings.  Trying again every 3 seconds."));
    EXPECT_EQ(StatusColour(*FForm), QColor(Qt::red));
    EXPECT_TRUE(FForm->Reconnecting());

    ASSERT_EQ(::symlink(FPty.SlavePath().c_str(), link.c_str()), 0);
    ASSERT_TRUE(WaitUntil([&] { return FForm->OMATracer1()->Active(); }));
    EXPECT_EQ(StatusText(*FForm), QString::fromStdString("Ready on port " + link));
    EXPECT_EQ(StatusColour(*FForm), QColor(Qt::black));
    EXPECT_FALSE(FForm->Reconnecting());
    ASSERT_FALSE(DeliverJob().empty());
    EXPECT_TRUE(QFile::exists(TracePath(QStringLiteral("123.txt"))));
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}

TEST_F(PortAndSaving, APortThatDoesNotOpenSaysWhatTheOperatorCanDo) {
    const std::string port = FPty.SlavePath();
    const QString retry = QStringLiteral(".  Trying again every 3 seconds.");
    {
        const TLineHolder otherProgram(port);
        StartForm();
        EXPECT_EQ(StatusText(*FForm),
                  QString::fromStdString("Cannot open tracer COM port " + port + ": in use by another program") +
                      retry);
        FForm.reset();
    }
    {
        // The operator may write the program's folder; only the line is refused.
        ASSERT_EQ(::chmod(FFolder.path().toLocal8Bit().constData(), 0777), 0);
        const test_support::TDeniedDevice outsideTheGroup(port, 0600);
        if (!outsideTheGroup.Denied())
            GTEST_SKIP() << "this system cannot refuse the line to this test";
        StartForm();
        EXPECT_EQ(StatusText(*FForm),
                  QString::fromStdString("Cannot open tracer COM port " + port +
                                         ": no permission: join the group dialout, then log in again") +
                      retry);
        EXPECT_EQ(StatusColour(*FForm), QColor(Qt::red));
        EXPECT_TRUE(FForm->Reconnecting());
    }
    // Once the operator may use the line, the retry opens it.
    ASSERT_TRUE(WaitUntil([&] { return FForm->OMATracer1()->Active(); }));
    EXPECT_EQ(StatusText(*FForm), QString::fromStdString("Ready on port " + port));
}

TEST_F(PortAndSaving, SettingsLeaveAnUnchangedLineAloneAndANewPortEndsTheOldRetries) {
    const QTemporaryDir devices; // no other ports to probe
    StartForm();
    FForm->DeviceFolder = devices.path().toStdString();
    ASSERT_FALSE(DeliverJob().empty());
    const QString afterJob = StatusText(*FForm);
    ASSERT_TRUE(afterJob.startsWith(QStringLiteral("The trace filename")));

    // Closed without a change: neither closed nor reopened, so the status is not rewritten either.
    WhenModal<TSettingsForm>([&](TSettingsForm* dialog) {
        WaitUntil([&] { return dialog->PortsProbed(); });
        dialog->close();
    });
    FForm->Button1Click();
    EXPECT_EQ(StatusText(*FForm), afterJob);
    EXPECT_TRUE(FForm->OMATracer1()->Active());

    // A port that is gone is retried; choosing a working one in Settings ends those retries.
    FPty.Close();
    ASSERT_TRUE(WaitUntil([&] { return FForm->Reconnecting(); }));
    TPty next;
    WhenModal<TSettingsForm>([&](TSettingsForm* dialog) {
        WaitUntil([&] { return dialog->PortsProbed(); });
        dialog->COMPortComboBox()->lineEdit()->setText(QString::fromStdString(next.SlavePath()));
        dialog->close();
    });
    FForm->Button1Click();
    EXPECT_FALSE(FForm->Reconnecting());
    EXPECT_EQ(StatusText(*FForm), QString::fromStdString("Ready on port " + next.SlavePath()));
    next.Send({"REQ=INI"});
    EXPECT_EQ(next.AwaitReply().substr(0, 2), "\x06\x1c");
}

TEST_F(PortAndSaving, JobsThatCannotBeSavedOpenOneMessageAtATimeAndAreCounted) {
    StartForm();
    MakeFile(FFolder.path() + QStringLiteral("/traces"));
    // The reporter plays a modal box: while it is open, further jobs arrive and are handled.
    int reports = 0;
    const TErrorReporter previous = SetErrorReporter([&](const QString&) {
        if (++reports > 1)
            return;
        for (const char* job : {"124", "125", "126"}) {
            TJobPacket packet;
            packet.Job = job;
            DeliverJob(packet);
        }
    });
    ASSERT_FALSE(DeliverJob().empty());
    ASSERT_TRUE(WaitUntil([&] { return FForm->UnsavedJobs() == 4; }));
    SetErrorReporter(previous);
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(
        StatusText(*FForm).startsWith(QStringLiteral("Jobs are not being saved: 4 jobs not saved.  Cannot write ")))
        << StatusText(*FForm).toStdString();
    EXPECT_EQ(StatusColour(*FForm), QColor(Qt::red));
    // The count outlives the tracer's next packets, also another vendor's job not taken in.
    FPty.Send({"REQ=INI"});
    ASSERT_FALSE(FPty.AwaitReply().empty());
    Settle();
    EXPECT_TRUE(StatusText(*FForm).startsWith(QStringLiteral("Jobs are not being saved: 4 jobs not saved.  ")))
        << StatusText(*FForm).toStdString();
    TJobPacket other;
    other.Vendor = "OTHERCO";
    ASSERT_FALSE(DeliverJob(other).empty());
    EXPECT_TRUE(StatusText(*FForm).startsWith(QStringLiteral("Jobs are not being saved: 4 jobs not saved.  ")))
        << StatusText(*FForm).toStdString();
    EXPECT_TRUE(StatusText(*FForm).endsWith(QStringLiteral("Job 123 was not taken in: the tracer's vendor is "
                                                           "OTHERCO; jobs are taken in from TAKUBO only.")))
        << StatusText(*FForm).toStdString();
    EXPECT_EQ(StatusColour(*FForm), QColor(Qt::red));

    // Once the folder takes files again, the jobs waiting are written before the next job, which
    // replaces the older job of its number; the status says which were saved late.
    QFile::remove(FFolder.path() + QStringLiteral("/traces"));
    TJobPacket last;
    last.FrameType = "2";
    ASSERT_FALSE(DeliverJob(last).empty());
    EXPECT_EQ(FForm->UnsavedJobs(), 0);
    EXPECT_EQ(StatusText(*FForm), QStringLiteral("The trace filename is on the clipboard for pasting  Saved late: "
                                                 "jobs 123, 124, 125 and 126."));
    for (const char* job : {"124", "125", "126"})
        EXPECT_EQ(FileRecord(ReadFileText(TracePath(QString::fromLatin1(job) + QStringLiteral(".txt"))), "FTYP"), "1");
    EXPECT_EQ(FileRecord(ReadFileText(TracePath(QStringLiteral("123.txt"))), "FTYP"), "2");
}

TEST_F(PortAndSaving, UnsavedJobsAreWrittenWhenTheFolderTakesThemOrAtTheEndElsewhere) {
    const QString blocker = FFolder.path() + QStringLiteral("/traces");
    // While the program runs: the retry writes them as soon as the folder takes them.
    StartForm();
    MakeFile(blocker);
    for (const char* job : {"201", "202"}) {
        TJobPacket packet;
        packet.Job = job;
        ASSERT_FALSE(DeliverJob(packet).empty());
    }
    ASSERT_TRUE(WaitUntil([&] { return FForm->UnsavedJobs() == 2; }));
    EXPECT_EQ(FErrors.Messages.size(), 2u);
    QFile::remove(blocker);
    ASSERT_TRUE(WaitUntil([&] { return FForm->UnsavedJobs() == 0; }));
    EXPECT_EQ(StatusText(*FForm), QStringLiteral("Saved late: jobs 201 and 202."));
    EXPECT_EQ(StatusColour(*FForm), QColor(Qt::black));
    EXPECT_TRUE(QFile::exists(TracePath(QStringLiteral("201.txt"))));
    EXPECT_TRUE(QFile::exists(TracePath(QStringLiteral("202.txt"))));
    FForm.reset();

    // At the end, by the operator's close or a termination signal, they go to the fallback folder.
    const struct {
        const char* What;
        bool Operator;
    } cases[] = {{"closed by the operator", true}, {"termination signal", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        QDir(blocker).removeRecursively();
        MakeFile(blocker);
        FErrors.Messages.clear();
        StartForm({{"DontAskCloseProgram", "Y"}});
        for (const char* job : {"301", "302"}) {
            TJobPacket packet;
            packet.Job = job;
            ASSERT_FALSE(DeliverJob(packet).empty());
        }
        ASSERT_TRUE(WaitUntil([&] { return FForm->UnsavedJobs() == 2; }));
        FErrors.Messages.clear();
        if (c.Operator)
            FForm->close();
        else
            FForm->CloseWithoutAsking();
        EXPECT_EQ(FForm->UnsavedJobs(), 0);
        for (const char* job : {"301", "302"}) {
            const std::string text =
                ReadFileText(FallbackFolder() + QLatin1Char('/') + QLatin1String(job) + QStringLiteral(".txt"));
            EXPECT_EQ(FileRecord(text, "REQ"), "FIL") << job;
            EXPECT_EQ(FileRecord(text, "DBL"), "17.50") << job;
        }
        // The operator is told where they are; a signal leaves it to stderr and the log.
        ASSERT_EQ(FErrors.Messages.size(), c.Operator ? 1u : 0u);
        if (c.Operator) {
            EXPECT_NE(FErrors.Messages[0].find(FallbackFolder().toStdString()), std::string::npos)
                << FErrors.Messages[0];
        }
        const auto log = CommLog().Lines();
        EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) {
            return line.find("were written to " + FallbackFolder().toStdString()) != std::string::npos;
        }));
        FForm.reset();
    }
    // The fallback folder is emptied by the operator only: the jobs of an earlier end stay.
    EXPECT_TRUE(QFile::exists(FallbackFolder() + QStringLiteral("/301.txt")));
    EXPECT_TRUE(QFile::exists(FallbackFolder() + QStringLiteral("/301-2.txt")));
}

// Jobs the tracer has its answer for but whose turn has not come yet when the program ends (a
// flood, or a termination signal in the same pass as the packets) are saved all the same: in the
// traces folder, or where unsaved jobs go when it refuses them.
TEST_F(PortAndSaving, JobsAnsweredButNotYetHandledAreSavedAtTheEnd) {
    const QString blocker = FFolder.path() + QStringLiteral("/traces");
    const struct {
        const char* What;
        bool Blocked;
        QString Folder;
    } cases[] = {
        {"traces folder", false, blocker},
        {"fallback folder", true, FallbackFolder()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        QDir(blocker).removeRecursively();
        if (c.Blocked)
            MakeFile(blocker);
        StartForm({{"DontAskCloseProgram", "Y"}});
        std::string bytes;
        for (const char* job : {"401", "402", "403"}) {
            TJobPacket packet;
            packet.Job = job;
            bytes += FramePacket(JobLines(packet));
        }
        FForm->OMATracer1()->InjectReceived(bytes);
        ASSERT_EQ(FForm->Session().QueuedJobs(), 3u);
        FForm->CloseWithoutAsking();
        FForm.reset();
        for (const char* job : {"401", "402", "403"})
            EXPECT_EQ(
                FileRecord(ReadFileText(c.Folder + QLatin1Char('/') + QLatin1String(job) + QStringLiteral(".txt")),
                           "DBL"),
                "17.50")
                << job;
        EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
        QDir(FallbackFolder()).removeRecursively();
    }
}

TEST_F(PortAndSaving, FolderThatCannotBeWrittenIsReportedAtStart) {
    const struct {
        const char* What;
        bool BlockTraces;
        bool BlockSettings;
        const char* Says;
    } cases[] = {
        {"traces", true, false, "Jobs cannot be saved in "},
        {"settings", false, true, "Settings cannot be saved in "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        const QTemporaryDir folder;
        if (c.BlockTraces)
            MakeFile(folder.path() + QStringLiteral("/traces"));
        // A settings folder that is a file.
        const QString settingsFolder = folder.path() + QStringLiteral("/config");
        if (c.BlockSettings)
            MakeFile(settingsFolder);
        SettingsList().SetValue(setting::TracerCOMPort, FPty.SlavePath());
        FForm = std::make_unique<TForm1>(folder.path());
        FForm->SetSettingsFile(settingsFolder + QStringLiteral("/settings.txt"));
        EXPECT_TRUE(FForm->OMATracer1()->Active());
        const QString status = StatusText(*FForm);
        EXPECT_TRUE(status.startsWith(QString::fromLatin1(c.Says))) << status.toStdString();
        EXPECT_TRUE(status.endsWith(QString::fromStdString("Ready on port " + FPty.SlavePath())))
            << status.toStdString();
        EXPECT_EQ(StatusColour(*FForm), QColor(Qt::red));
        FForm.reset();
    }
}
