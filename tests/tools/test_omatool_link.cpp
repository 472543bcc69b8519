// omatool replay and listen run as processes: the real protocol handler answering a recorded
// byte stream, and a live line (pseudo-terminal or loopback TCP) driven by the simulated tracer.
#include "Process.h"

#include "protocol/OMAMach.h"
#include "protocol/TraceFormats.h"

#include "Conversation.h"
#include "Loopback.h"
#include "Transport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::string_literals;

namespace {
std::string Pkt(std::vector<std::string> lines) {
    return FramePacket(lines);
}
std::string Reply(std::vector<std::string> lines) {
    return "\x06" + FramePacket(lines);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n') {
            lines.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    return lines;
}

int Count(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const auto& line : lines)
        n += line.rfind(prefix, 0) == 0;
    return n;
}
} // namespace

TEST(OmatoolReplay, AnswersARecordedStreamWhateverTheChunkSize) {
    const std::string stream =
        "\x06"s + Pkt({"REQ=INF"}) + Pkt({"REQ=INI"}) +
        Pkt({"DEV=FMT", "VEN=TAKUBO", "MID=X1", "MODEL=T100", "DEF=1", "ENDDEF=1", "TRCFMT=1;400;E;B;F"}) +
        Pkt({"REQ=TRC", "JOB=\"0042\"", "DBL=17.50", "TRCFMT=1;2;E;R;F", "R=2500;2400", "ZFMT=1;2;E;R;F", "Z=12;-3"}) +
        Pkt({"REQ=TRC", "JOB=43", "TRCFMT=1;2;E"});
    const std::string replies = "\x06"s + Reply({"ANS=INI", "STATUS=0;"}) +
                                Reply({"ANS=INI", "STATUS=0", "DEF=1;277", "TRCFMT=1;400;E;B"}) +
                                Reply({"ANS=TRC", "JOB=\"0042\"", "STATUS=0;\"No Error\""});
    const std::string events =
        R"({"event":"trace","job":"42","dbl":17.5,"right":{"radii":"25002400","z":"001200-3"},"left":{"radii":"","z":""}})"
        "\n"
        R"({"event":"error","message":"Bad TRCFMT header: 1;2;E"})"
        "\n";
    for (const char* chunk : {"0", "1", "7"}) {
        std::vector<std::string> args{OMATOOL_PATH, "replay"};
        if (std::string(chunk) != "0")
            args.insert(args.end(), {"--chunk", chunk});
        const auto r = RunProcess(args, stream);
        EXPECT_EQ(r.exitCode, 0) << chunk;
        EXPECT_EQ(r.out, replies) << chunk;
        EXPECT_EQ(r.err, events) << chunk;
    }
    EXPECT_EQ(RunProcess({OMATOOL_PATH, "replay", "--chunk", "0"}).exitCode, 2);
}

TEST(OmatoolListen, AnswersATracerOnAPseudoTerminal) {
    // The simulator's own pty waits until the program has opened the other end (and set it up)
    // before the first packet goes out.
    std::unique_ptr<TChildProcess> listen;
    auto line = sim::OpenPty(
        [&](const std::string& path) {
            listen =
                std::make_unique<TChildProcess>(std::vector<std::string>{OMATOOL_PATH, "listen", "--device", path});
        },
        10000, 100);
    sim::TSimOptions options;
    options.SendInf = true;
    options.Jobs = 3;
    options.TimeoutMs = 10000;
    sim::TSimReport report;
    EXPECT_EQ(sim::RunConversation(*line, options, report), 0) << report.Error;
    const auto r = listen->Stop(SIGINT);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    EXPECT_EQ(Count(lines, "--------- In from tracer ------------"), 6); // INF, INI, init, 3 jobs
    EXPECT_EQ(Count(lines, "--------- Out to tracer -------------"), 6);
    EXPECT_EQ(Count(lines, "Received  Rt Trace: 400 data points, Lt Trace: 400 data points"), 3);
    EXPECT_EQ(Count(lines, R"({"event":"trace","job":")"), 3);
    EXPECT_EQ(Count(lines, "<ack><fs>ANS=INI<crlf>"), 2);
    EXPECT_EQ(Count(lines, "<fs>REQ=INF<crlf>"), 1);
}

TEST(OmatoolListen, AnswersATracerOverTcpAndReportsAPortInUse) {
    // A free port: bind to 0, read it, let it go.
    const uint16_t free = FreeLoopbackPort();
    ASSERT_NE(free, 0);
    const std::string port = std::to_string(free);

    TChildProcess listen({OMATOOL_PATH, "listen", "--tcp", port});
    std::unique_ptr<sim::TSimTransport> line;
    for (int attempt = 0; attempt < 200 && !line; ++attempt) {
        try {
            line = sim::ConnectTcp("127.0.0.1:" + port, 1000);
        } catch (const std::exception&) {
            usleep(20000); // not listening yet
        }
    }
    ASSERT_TRUE(line);
    sim::TSimOptions options;
    options.Jobs = 2;
    sim::TSimReport report;
    EXPECT_EQ(sim::RunConversation(*line, options, report), 0) << report.Error;

    // A second listener on the same port fails at once with a clear error.
    const auto second = RunProcess({OMATOOL_PATH, "listen", "--tcp", port}, {}, 10000);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.out.rfind("{\"error\":", 0), 0u) << second.out;

    const auto r = listen.Stop(SIGTERM);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Count(Lines(r.out), R"({"event":"trace","job":")"), 2);
}

TEST(OmatoolListen, RefusesADeviceThatCannotBeOpened) {
    const auto r = RunProcess({OMATOOL_PATH, "listen", "--device", "/dev/does-not-exist"}, {}, 10000);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "{\"error\":\"Unable to open /dev/does-not-exist: No such file or directory\"}\n");
    EXPECT_EQ(RunProcess({OMATOOL_PATH, "listen"}).exitCode, 2);
}
