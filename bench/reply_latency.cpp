// Reply latency over a pseudo-terminal: the protocol handler on its serial port at one end, the
// simulated tracer at the other. For each job the tracer measures from the moment its write of the
// packet's final GS has returned to the moment the first byte of the reply can be read.
//
// The floor is reply_floor, a bare C program that answers GS with ACK on the same line, measured
// the same way with the same packet. The machine is shared and noisy, so the two run in turns,
// block by block, and the figures to compare are the ratios to the floor.
//
//   reply_latency [--jobs N] [--points N] [--format 1..4] [--rounds N] [--no-floor]
#include "handler/OMATracer.h"
#include "protocol/OMAMach.h"

#include "Conversation.h"
#include "Packets.h"
#include "Shapes.h"
#include "Transport.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
using TClock = std::chrono::steady_clock;

// The handler's jobs of one block, through the whole conversation of the simulated tracer.
bool HandlerBlock(sim::TSimTransport& line, const sim::TSimOptions& options, std::vector<double>& samples,
                  long long& traces) {
    TOMATracer tracer;
    tracer.ComPort()->SetPort(line.Name());
    tracer.OnRecvOMATrace = [&](QObject*, const std::string&, PEyeRec, PEyeRec, double) { ++traces; };
    tracer.SetActive(true);
    sim::TSimReport report;
    int result = 1;
    QEventLoop loop;
    std::thread tracerThread([&] {
        result = sim::RunConversation(line, options, report);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    tracerThread.join();
    tracer.SetActive(false);
    if (result != 0) {
        std::fprintf(stderr, "reply_latency: %s\n", report.Error.c_str());
        return false;
    }
    samples.insert(samples.end(), report.LatencyMs.begin(), report.LatencyMs.end());
    return true;
}

// The same job packet answered by reply_floor on the same line.
bool FloorBlock(sim::TSimTransport& line, const std::string& slavePath, const std::string& packet, long long jobs,
                std::vector<double>& samples) {
    int ready[2];
    if (pipe(ready) != 0)
        return false;
    const pid_t child = fork();
    if (child == 0) {
        dup2(ready[1], STDOUT_FILENO);
        close(ready[0]);
        execl(REPLY_FLOOR_PATH, "reply_floor", slavePath.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    char word[8] = {};
    const bool started = read(ready[0], word, sizeof word) > 0;
    close(ready[0]);
    bool ok = started;
    for (long long i = 0; ok && i < jobs; ++i) {
        line.Write(packet, 5000);
        const auto sentAt = TClock::now();
        std::string reply;
        ok = line.WaitReadable(5000);
        if (ok)
            samples.push_back(std::chrono::duration<double, std::milli>(TClock::now() - sentAt).count());
        while (ok && reply.empty() && line.WaitReadable(5000))
            line.Read(reply);
        ok = ok && reply == "\x06";
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    if (!ok)
        std::fprintf(stderr, "reply_latency: the floor program did not answer\n");
    return ok;
}

double Ratio(double a, double b) {
    return b > 0 ? a / b : 0;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    sim::TSimOptions options;
    options.Jobs = 2000;
    options.Points = 400;
    options.Format = 1;
    // The tracer sends the right eye only; the handler mirrors the missing one before it replies.
    options.Eyes = sim::seRight;
    options.MeasureLatency = true;
    int rounds = 10;
    bool withFloor = true;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--no-floor") == 0)
            withFloor = false;
        else if (hasValue && std::strcmp(argv[i], "--jobs") == 0)
            options.Jobs = std::stoll(argv[++i]);
        else if (hasValue && std::strcmp(argv[i], "--points") == 0)
            options.Points = std::stoul(argv[++i]);
        else if (hasValue && std::strcmp(argv[i], "--format") == 0)
            options.Format = std::stoi(argv[++i]);
        else if (hasValue && std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::stoi(argv[++i]));
        else {
            std::fprintf(stderr,
                         "usage: reply_latency [--jobs N] [--points N] [--format 1..4] [--rounds N] [--no-floor]\n");
            return 2;
        }
    }

    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    auto line = sim::MakeFdTransport(master, name);

    sim::TJobParams job;
    job.Eyes = options.Eyes;
    job.Format = options.Format;
    const std::string packet = FramePacket(sim::JobPacketLines(job, sim::MakeJobShape(options.Shape, options.Points)));

    const long long perRound = std::max(1LL, options.Jobs / rounds);
    std::vector<double> handler, floor;
    long long traces = 0;
    for (int r = 0; r < rounds; ++r) {
        if (withFloor && !FloorBlock(*line, name, packet, perRound, floor))
            return 1;
        sim::TSimOptions block = options;
        block.Jobs = perRound;
        block.FirstJob = 1 + r * perRound;
        if (!HandlerBlock(*line, block, handler, traces))
            return 1;
    }
    close(slave);

    const sim::TLatencySummary h = sim::SummarizeLatency(handler);
    std::printf("handler %s\n", sim::LatencyJson(h).c_str());
    if (withFloor) {
        const sim::TLatencySummary f = sim::SummarizeLatency(floor);
        std::printf("floor   %s\n", sim::LatencyJson(f).c_str());
        std::printf("ratio to the floor: median %.2f, p90 %.2f, p99 %.2f (goal: median <= 3, p99 <= 1.04 ms)\n",
                    Ratio(h.MedianMs, f.MedianMs), Ratio(h.P90Ms, f.P90Ms), Ratio(h.P99Ms, f.P99Ms));
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%zu jobs of %zu points in format %d, right eye only, %lld trace events, %d rounds\n",
                 handler.size(), options.Points, options.Format, traces, rounds);
    return 0;
}
