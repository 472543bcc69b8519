// The single-instance guard between real processes: each test gives its processes a runtime
// folder of their own.
#include "app/shell/InstanceManager.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPatienceMsecs = 20000;

class TProbe {
public:
    explicit TProbe(const QString& runtimeFolder, const QStringList& arguments = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeFolder);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        FProcess.setProcessEnvironment(environment);
        FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
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
    QString LockFile() const {
        return QDir(FRuntime.path()).filePath(QStringLiteral("%1-%2.lock").arg(kInstanceName).arg(::getuid()));
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
        EXPECT_FALSE(QFileInfo::exists(LockFile()));
    }
};

TEST_F(InstanceGuard, SecondStartKnocksAndEnds) {
    // Named unlike its file, which must not make its lock look abandoned.
    TProbe first(FRuntime.path(), {QStringLiteral("Tracer Interface")});
    ASSERT_EQ(first.NextWord(), "first");
    EXPECT_TRUE(QFileInfo::exists(LockFile()));

    TProbe second(FRuntime.path());
    ExpectSecond(second);
    EXPECT_EQ(first.NextWord(), "knock");

    TProbe third(FRuntime.path());
    ExpectSecond(third);
    EXPECT_EQ(first.NextWord(), "knock");
    StopFirst(first);
}

TEST_F(InstanceGuard, ThreeStartsAtOnceLeaveOne) {
    std::vector<std::unique_ptr<TProbe>> probes;
    for (int i = 0; i < 3; ++i)
        probes.push_back(std::make_unique<TProbe>(FRuntime.path()));

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

TEST_F(InstanceGuard, AKilledFirstInstanceDoesNotBlockTheNext) {
    {
        TProbe crashed(FRuntime.path());
        ASSERT_EQ(crashed.NextWord(), "first");
        crashed.Kill();
    }
    // It left its lock file and its socket behind.
    ASSERT_TRUE(QFileInfo::exists(LockFile()));

    TProbe next(FRuntime.path());
    ASSERT_EQ(next.NextWord(), "first");
    TProbe later(FRuntime.path());
    ExpectSecond(later);
    EXPECT_EQ(next.NextWord(), "knock");
    StopFirst(next);
}

TEST_F(InstanceGuard, AStoppedFirstInstanceFreesTheName) {
    {
        TProbe ended(FRuntime.path());
        ASSERT_EQ(ended.NextWord(), "first");
        StopFirst(ended);
    }
    TProbe next(FRuntime.path());
    ASSERT_EQ(next.NextWord(), "first");
    StopFirst(next);
}

} // namespace
