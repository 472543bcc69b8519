// The single-instance guard between real processes: each test gives its processes an instance
// name and a runtime folder of their own.
#include "app/shell/InstanceManager.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

constexpr int kPatienceMsecs = 20000;

class TProbe {
public:
    TProbe(const QString& runtimeFolder, const QString& name, const QString& folder = QString()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeFolder);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        FProcess.setProcessEnvironment(environment);
        FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList arguments{QStringLiteral("--name"), name};
        if (!folder.isEmpty())
            arguments << QStringLiteral("--folder") << folder;
        FProcess.start(QStringLiteral(INSTANCE_PROBE), arguments);
    }
    ~TProbe() {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.kill();
            FProcess.waitForFinished();
        }
    }

    // The next word the probe printed, or empty when none came in time.
    QString NextWord(int msecs = kPatienceMsecs) {
        const QDeadlineTimer deadline(msecs);
        while (!FProcess.canReadLine() && !deadline.hasExpired())
            if (!FProcess.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime()))))
                break;
        return FProcess.canReadLine() ? QString::fromLatin1(FProcess.readLine()).trimmed() : QString();
    }
    bool Finished(int msecs = kPatienceMsecs) {
        return FProcess.state() == QProcess::NotRunning || FProcess.waitForFinished(msecs);
    }
    // A first instance ends when its standard input closes.
    void Stop() { FProcess.closeWriteChannel(); }
    void Kill() {
        FProcess.kill(); // SIGKILL: no chance to release anything
        FProcess.waitForFinished();
    }
    int ExitCode() const { return FProcess.exitStatus() == QProcess::NormalExit ? FProcess.exitCode() : -1; }
    QProcess& Process() { return FProcess; }

private:
    QProcess FProcess;
};

class InstanceGuard : public testing::Test {
protected:
    QTemporaryDir FRuntime; // mode 0700, as a runtime folder must be
    QTemporaryDir FFolders; // the folders the probes work in
    // The lock of a system-wide kind (a named mutex) is shared by every test run at the same time.
    const QString FName = QStringLiteral("%1Test%2").arg(kInstanceName).arg(QRandomGenerator::global()->generate());

    std::unique_ptr<TProbe> Start(const QString& folder = QString()) {
        return std::make_unique<TProbe>(FRuntime.path(), FName, folder);
    }
    QString Folder(const QString& name) {
        const QString path = QDir(FFolders.path()).filePath(name);
        QDir().mkpath(path);
        return path;
    }
    void ExpectSecond(TProbe& probe) {
        EXPECT_EQ(probe.NextWord(), "second");
        ASSERT_TRUE(probe.Finished());
        EXPECT_EQ(probe.ExitCode(), 0);
    }
    void StopFirst(TProbe& first) {
        first.Stop();
        ASSERT_TRUE(first.Finished());
        EXPECT_EQ(first.ExitCode(), 0);
    }
    // What an instance made (lock, socket) goes with it when it ends the normal way.
    void ExpectNothingLeft() {
        EXPECT_TRUE(QDir(FRuntime.path()).isEmpty(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            << QDir(FRuntime.path())
                   .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                   .join(' ')
                   .toStdString();
    }
};

TEST_F(InstanceGuard, SecondStartKnocksAndEnds) {
    auto first = Start();
    ASSERT_EQ(first->NextWord(), "first");

    auto second = Start();
    ExpectSecond(*second);
    EXPECT_EQ(first->NextWord(), "knock");

    auto third = Start();
    ExpectSecond(*third);
    EXPECT_EQ(first->NextWord(), "knock");
    StopFirst(*first);
    ExpectNothingLeft();
}

TEST_F(InstanceGuard, ThreeStartsAtOnceLeaveOne) {
    std::vector<std::unique_ptr<TProbe>> probes;
    for (int i = 0; i < 3; ++i)
        probes.push_back(Start());

    int firsts = 0, seconds = 0;
    TProbe* first = nullptr;
    for (auto& probe : probes) {
        const QString word = probe->NextWord();
        if (word == "first") {
            ++firsts;
            first = probe.get();
        } else if (word == "second") {
            ++seconds;
            EXPECT_TRUE(probe->Finished());
            EXPECT_EQ(probe->ExitCode(), 0);
        } else {
            ADD_FAILURE() << "probe said " << word.toStdString();
        }
    }
    EXPECT_EQ(firsts, 1);
    EXPECT_EQ(seconds, 2);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->NextWord(), "knock");
    EXPECT_EQ(first->NextWord(), "knock");
    EXPECT_EQ(first->Process().state(), QProcess::Running);
    StopFirst(*first);
}

// A killed instance releases nothing itself; the next start must not take what it left (a lock
// file, a socket, its process id given to a new process) for a running copy.
TEST_F(InstanceGuard, AKilledFirstInstanceDoesNotBlockTheNext) {
    for (int round = 0; round < 2; ++round) {
        auto crashed = Start();
        ASSERT_EQ(crashed->NextWord(), "first");
        crashed->Kill();
    }
    auto next = Start();
    ASSERT_EQ(next->NextWord(), "first");
    auto later = Start();
    ExpectSecond(*later);
    EXPECT_EQ(next->NextWord(), "knock");
    StopFirst(*next);
    ExpectNothingLeft();
}

TEST_F(InstanceGuard, AStoppedFirstInstanceFreesTheName) {
    {
        auto ended = Start();
        ASSERT_EQ(ended->NextWord(), "first");
        StopFirst(*ended);
    }
    auto next = Start();
    ASSERT_EQ(next->NextWord(), "first");
    StopFirst(*next);
    ExpectNothingLeft();
}

// One instance per folder: starts for other folders run beside each other and beside the default
// one; a start for a folder in use reaches the instance of that folder only, however the folder
// is written.
TEST_F(InstanceGuard, EachFolderHasItsOwnInstance) {
    const QString a = Folder(QStringLiteral("a"));
    const QString b = Folder(QStringLiteral("b"));
    auto plain = Start();
    auto inA = Start(a);
    auto inB = Start(b);
    ASSERT_EQ(plain->NextWord(), "first");
    ASSERT_EQ(inA->NextWord(), "first");
    ASSERT_EQ(inB->NextWord(), "first");

    struct TCase {
        QString Folder;
        TProbe* Reached;
    };
    const TCase cases[] = {
        {a, inA.get()},
        {a + QStringLiteral("/"), inA.get()},
        {QDir(FFolders.path()).filePath(QStringLiteral("b/../b")), inB.get()},
        {QString(), plain.get()},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Folder.toStdString());
        auto again = Start(c.Folder);
        ExpectSecond(*again);
        EXPECT_EQ(c.Reached->NextWord(), "knock");
    }
    // Nobody else heard a knock.
    StopFirst(*plain);
    StopFirst(*inA);
    StopFirst(*inB);
    for (TProbe* probe : {plain.get(), inA.get(), inB.get()})
        EXPECT_EQ(probe->NextWord(0), QString());
    ExpectNothingLeft();
}

} // namespace
