// Whole conversations between the protocol handler, on its real serial port or TCP listener,
// and the simulated tracer on the other end of a pseudo-terminal pair or a loopback socket: every
// format and eye, Z data, a 2,000-job soak with noise, and a tracer that falls silent mid-packet.
#include "handler/OMATracer.h"
#include "protocol/TraceFormats.h"

#include "Conversation.h"
#include "PtyPair.h"
#include "Shapes.h"
#include "Transport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

using test_support::TPtyPair;

// The handler under test with what it reported.
struct TTracerSide {
    TOMATracer tracer;
    std::vector<TEyeRec> rights, lefts;
    std::vector<std::string> jobs;
    std::vector<std::string> errors;
    TTracerSide() {
        tracer.OnRecvOMATrace = [this](QObject*, const std::string& job, PEyeRec rt, PEyeRec lt, double) {
            jobs.push_back(job);
            rights.push_back(*rt);
            lefts.push_back(*lt);
        };
        tracer.OnProtocolError = [this](QObject*, const std::string& m) { errors.push_back(m); };
        tracer.OnLinkError = [this](QObject*, const std::string& m) { errors.push_back("link: " + m); };
    }
    // Opens the handler's serial port on the program's end of the pair.
    void OpenOn(const TPtyPair& pty) {
        tracer.ComPort()->SetPort(pty.SlavePath());
        tracer.SetActive(true);
    }
};

// Runs the simulated tracer on its own thread while this thread serves the handler's events.
int Converse(sim::TSimTransport& line, const sim::TSimOptions& options, sim::TSimReport& report,
             int deadlineMs = 120000) {
    QEventLoop loop;
    std::atomic<bool> finished{false};
    int result = 1;
    std::thread tracerThread([&] {
        result = sim::RunConversation(line, options, report);
        finished = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    QTimer::singleShot(deadlineMs, &loop, &QEventLoop::quit);
    if (!finished)
        loop.exec();
    tracerThread.join();
    return result;
}

std::string Radii(const sim::TRadii& values) {
    return RadiiText(values);
}

} // namespace

TEST(Conversation, EveryFormatAndEyeOverAPseudoTerminal) {
    struct Case {
        int format;
        sim::TSimEyes eyes;
        bool z;
    };
    const Case cases[] = {{1, sim::seBoth, true},
                          {2, sim::seRight, false},
                          {3, sim::seLeft, true},
                          {4, sim::seBoth, true},
                          {4, sim::seLeft, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE("format " + std::to_string(c.format));
        TPtyPair pty;
        TTracerSide side;
        side.OpenOn(pty);
        auto line = sim::MakeFdTransport(dup(pty.Master()), "pty");
        sim::TSimOptions options;
        options.Device.Offers = {"1;400;E;B;F", "4;512;E;B;F"};
        options.Device.WithZ = c.z;
        options.Format = c.format;
        options.Eyes = c.eyes;
        options.Jobs = 3;
        options.LingerMs = 50;
        sim::TSimReport report;
        ASSERT_EQ(Converse(*line, options, report), 0) << report.Error;
        EXPECT_EQ(report.TraceFormat, "4;512;E;B");
        ASSERT_EQ(side.jobs, (std::vector<std::string>{"1", "2", "3"}));
        const sim::TJobShape shape = sim::MakeJobShape(options.Shape, report.Points);
        // A missing right eye is the mirror of the left; a missing left eye stays empty unless
        // the job's CIRC fits it, which the simulator's CIRC does.
        EXPECT_EQ(side.rights[0].Radii, Radii(c.eyes == sim::seLeft ? sim::MirroredRadii(shape.Left) : shape.Right));
        if (c.eyes != sim::seRight) {
            EXPECT_EQ(side.lefts[0].Radii, Radii(shape.Left));
        }
        if (c.z && c.eyes != sim::seLeft) {
            EXPECT_EQ(side.rights[0].ZData, Radii(shape.RightZ));
        }
        EXPECT_TRUE(side.errors.empty()) << side.errors.front();
        side.tracer.SetActive(false);
    }
}

TEST(Conversation, LoopbackTcpListener) {
    TTracerSide side;
    side.tracer.SetPortType(ptTCPIP);
    side.tracer.SetPortNumber(0); // any free port
    side.tracer.SetActive(true);
    const uint16_t port = side.tracer.PortNumber();
    ASSERT_NE(port, 0);
    auto line = sim::ConnectTcp("127.0.0.1:" + std::to_string(port), 5000);
    sim::TSimOptions options;
    options.SendInf = true;
    options.Jobs = 5;
    options.NoiseBytes = 8;
    options.LingerMs = 50;
    sim::TSimReport report;
    ASSERT_EQ(Converse(*line, options, report), 0) << report.Error;
    EXPECT_EQ(side.jobs.size(), 5u);
    EXPECT_TRUE(side.errors.empty());
}

TEST(Conversation, SoakOfTwoThousandJobsWithNoise) {
    TPtyPair pty;
    TTracerSide side;
    side.OpenOn(pty);
    auto line = sim::MakeFdTransport(dup(pty.Master()), "pty");
    sim::TSimOptions options;
    options.Jobs = 2000;
    options.NoiseBytes = 16;
    options.Points = 128; // keeps the run short; the per-job path is the same
    options.LingerMs = 100;
    sim::TSimReport report;
    ASSERT_EQ(Converse(*line, options, report), 0) << report.Error;
    EXPECT_EQ(report.JobsDone, 2000);
    ASSERT_EQ(side.jobs.size(), 2000u); // one trace event per job, in order
    for (std::size_t i = 0; i < side.jobs.size(); ++i)
        ASSERT_EQ(side.jobs[i], std::to_string(i + 1));
    EXPECT_TRUE(side.errors.empty()) << side.errors.front();
}

TEST(Conversation, UnfinishedPacketIsDroppedAfterTwentySecondsOfSilence) {
    for (const uint32_t silence : {20001u, 20000u}) {
        TPtyPair pty;
        TTracerSide side;
        std::atomic<uint32_t> tick{0xFFFFF000u}; // the 32-bit tick wraps during the silence
        side.tracer.SetTickSource([&] { return tick.load(); });
        side.OpenOn(pty);

        // Half a job packet, then the tracer falls silent.
        const std::string half =
            FramePacket(std::vector<std::string>{"REQ=TRC", "JOB=9", "TRCFMT=1;2;E;R;F"}).substr(0, 20);
        ASSERT_TRUE(pty.Send(half));
        QEventLoop wait;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (side.tracer.RxBuffer().size() == half.size())
                wait.quit();
        });
        poll.start(1);
        QTimer::singleShot(10000, &wait, &QEventLoop::quit);
        wait.exec();
        ASSERT_EQ(side.tracer.RxBuffer(), half);

        tick += silence;
        auto line = sim::MakeFdTransport(dup(pty.Master()), "pty");
        sim::TSimOptions options;
        options.Jobs = 2;
        options.TimeoutMs = silence > 20000 ? 5000 : 500;
        sim::TSimReport report;
        const int result = Converse(*line, options, report);
        if (silence > 20000) {
            // The new conversation is answered normally.
            EXPECT_EQ(result, 0) << report.Error;
            EXPECT_EQ(side.jobs.size(), 2u);
        } else {
            // Exactly 20000 ms keeps the unfinished packet: cut together with the next request it
            // reads as the old job, and the tracer's REQ=INI gets a job's answer.
            EXPECT_NE(result, 0);
            EXPECT_NE(report.Error.find("REQ=INI"), std::string::npos) << report.Error;
        }
        side.tracer.SetActive(false);
    }
}
