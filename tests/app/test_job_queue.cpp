// Every job the tracer is answered for reaches the job handling, in arrival order: several job
// packets taken in one read, a flood of jobs sent without waiting for the replies, and a tracer
// that sends its jobs without naming its vendor after the program restarted.
#include "FormTestSupport.h"

#include "handler/OMATracer.h"

#include <QDir>
#include <QFileInfo>
#include <QGroupBox>

#include <cerrno>

using namespace form_test;

namespace {

const QString kFileOnClipboard = QStringLiteral("The trace filename is on the clipboard for pasting");

std::string JobPacket(const std::string& number, const std::string& frameType = "1",
                      const std::string& vendor = "TAKUBO") {
    TJobPacket job;
    job.Job = number;
    job.FrameType = frameType;
    job.Vendor = vendor;
    return FramePacket(JobLines(job));
}

std::size_t Count(const std::string& text, char c) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

class JobQueue : public TFormFixture {
protected:
    // Reads the program's replies until `count` of them (each begins with ACK) have come. The bound
    // is generous: a machine busy with builds once took longer than the usual ten seconds.
    std::string AwaitReplies(std::size_t count) {
        std::string replies;
        WaitUntil(
            [&] {
                char buffer[4096];
                ssize_t n;
                while ((n = ::read(FPty.Master(), buffer, sizeof buffer)) > 0)
                    replies.append(buffer, static_cast<std::size_t>(n));
                return Count(replies, '\x06') >= count;
            },
            30000);
        return replies;
    }
    QStringList TraceFiles() const {
        return QDir(FFolder.path() + QStringLiteral("/traces")).entryList({QStringLiteral("*.txt")}, QDir::Files);
    }
};

} // namespace

TEST_F(JobQueue, PacketsTakenInOneReadAreEachAnsweredAndEachJobIsSaved) {
    struct TCase {
        const char* What;
        std::vector<std::string> Packets;
        std::vector<std::pair<std::string, std::string>> Files; // job number, its FTYP
        QString Status;
    };
    const std::string ini = FramePacket(std::vector<std::string>{"REQ=INI"});
    const std::string inf = FramePacket(std::vector<std::string>{"REQ=INF"});
    const TCase cases[] = {
        {"two jobs", {JobPacket("101", "1"), JobPacket("102", "2")}, {{"101", "1"}, {"102", "2"}}, kFileOnClipboard},
        {"jobs between other packets",
         {JobPacket("201", "2"), ini, JobPacket("202", "3"), inf, JobPacket("203", "1")},
         {{"201", "2"}, {"202", "3"}, {"203", "1"}},
         kFileOnClipboard},
        // The later of two jobs of one number is the one that stays.
        {"one number twice", {JobPacket("301", "1"), JobPacket("301", "3")}, {{"301", "3"}}, kFileOnClipboard},
        // The vendor counts as it stood when each job came.
        {"another vendor in between",
         {JobPacket("401", "2"), JobPacket("402", "1", "OTHERCO"), JobPacket("403", "1", "")},
         {{"401", "2"}},
         QStringLiteral("Job 403 was not taken in: the tracer's vendor is OTHERCO; jobs are taken in from TAKUBO "
                        "only.")},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        StartForm();
        std::string bytes;
        for (const std::string& packet : c.Packets)
            bytes += packet;
        // One arrival of bytes, as a frozen program or a fast tracer gives it.
        FForm->OMATracer1()->InjectReceived(bytes);
        const std::string replies = AwaitReplies(c.Packets.size());
        EXPECT_EQ(Count(replies, '\x06'), c.Packets.size());
        ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == c.Status; })) << StatusText(*FForm).toStdString();
        Settle();
        QStringList expected;
        for (const auto& [number, frameType] : c.Files) {
            const QString name = QString::fromStdString(number + ".txt");
            expected << name;
            EXPECT_EQ(FileRecord(ReadFileText(TracePath(name)), "FTYP"), frameType) << number;
        }
        EXPECT_EQ(TraceFiles(), expected);
        EXPECT_EQ(FForm->Session().QueuedJobs(), 0u);
        EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
        FForm.reset();
        QDir(FFolder.path() + QStringLiteral("/traces")).removeRecursively();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    }
}

// A tracer that does not wait for its replies: every job is answered and every one is saved.
TEST_F(JobQueue, FloodOfJobsNotWaitingForRepliesSavesEveryJob) {
    constexpr int kJobs = 200;
    StartForm();
    std::string bytes;
    for (int i = 0; i < kJobs; ++i)
        bytes += JobPacket(std::to_string(1000 + i));
    std::string replies;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(FPty.Master(), bytes.data() + done, std::min<std::size_t>(bytes.size() - done, 4096));
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else
            ASSERT_EQ(errno, EAGAIN);
        char buffer[4096];
        ssize_t r;
        while ((r = ::read(FPty.Master(), buffer, sizeof buffer)) > 0)
            replies.append(buffer, static_cast<std::size_t>(r));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    replies += AwaitReplies(kJobs - Count(replies, '\x06'));
    EXPECT_EQ(Count(replies, '\x06'), static_cast<std::size_t>(kJobs));
    ASSERT_TRUE(WaitUntil([&] { return FForm->Session().QueuedJobs() == 0 && TraceFiles().size() == kJobs; }))
        << TraceFiles().size() << " files";
    EXPECT_EQ(FileRecord(ReadFileText(TracePath(QStringLiteral("1199.txt"))), "JOB"), "<none>");
    EXPECT_EQ(FForm->Job().Value("JOB"), "1199"); // the last one is shown
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}

// The vendor a tracer named is remembered in settings.txt: after a restart, a tracer that sends
// its job without naming itself again is recognised; without it the job is said not taken in.
TEST_F(JobQueue, VendorIsRememberedAcrossARestart) {
    const std::string settingsFile = FFolder.path().toStdString() + "/settings.txt";
    TJobPacket anonymous;
    anonymous.Job = "501";
    anonymous.Vendor.clear();

    StartForm();
    ASSERT_FALSE(DeliverJob(anonymous).empty()); // no vendor known yet
    ASSERT_TRUE(WaitUntil([&] {
        return StatusText(*FForm) == QStringLiteral("Job 501 was not taken in: the tracer has not named its vendor; "
                                                    "jobs are taken in from TAKUBO only.");
    })) << StatusText(*FForm).toStdString();
    FPty.Send({"REQ=INI"});
    FPty.AwaitReply();
    FPty.Send({"ANS=INI", "DEV=TRC", "VEN=TAKUBO", "MODEL=T1", "DEF=1", "ENDDEF", "TRCFMT=1;400;E;R;F"});
    ASSERT_FALSE(FPty.AwaitReply().empty());
    ASSERT_TRUE(WaitUntil([&] { return SettingsList().Value(setting::TracerVendor) == "TAKUBO"; }));
    FForm.reset();
    ASSERT_TRUE(SaveSettings(SettingsList(), settingsFile));

    // The program restarts; the tracer stayed on and sends its next job at once.
    SettingsList().Clear();
    ASSERT_TRUE(LoadSettings(SettingsList(), settingsFile));
    StartForm();
    ASSERT_FALSE(DeliverJob(anonymous).empty());
    ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == kFileOnClipboard; })) << StatusText(*FForm).toStdString();
    EXPECT_TRUE(QFileInfo::exists(TracePath(QStringLiteral("501.txt"))));
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}
