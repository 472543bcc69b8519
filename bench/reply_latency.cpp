// Reply latency over a pseudo-terminal: the protocol handler on its serial port at one end, the
// simulated tracer at the other. For each job the tracer measures from the moment its write of the
// packet's final GS has returned to the moment the first byte of the reply can be read, and the
// percentiles are printed as one JSON line.
//
//   reply_latency [--jobs N] [--points N] [--format 1..4]
#include "handler/OMATracer.h"

#include "Conversation.h"
#include "Transport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <pty.h>
#include <string>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    sim::TSimOptions options;
    options.Jobs = 2000;
    options.Points = 400;
    options.Format = 1;
    options.MeasureLatency = true;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--jobs") == 0)
            options.Jobs = std::stoll(argv[i + 1]);
        else if (std::strcmp(argv[i], "--points") == 0)
            options.Points = std::stoul(argv[i + 1]);
        else if (std::strcmp(argv[i], "--format") == 0)
            options.Format = std::stoi(argv[i + 1]);
        else {
            std::fprintf(stderr, "usage: reply_latency [--jobs N] [--points N] [--format 1..4]\n");
            return 2;
        }
    }

    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    TOMATracer tracer;
    tracer.ComPort()->SetPort(name);
    tracer.SetActive(true);
    long long traces = 0;
    tracer.OnRecvOMATrace = [&](QObject*, const std::string&, PEyeRec, PEyeRec, double) { ++traces; };

    auto line = sim::MakeFdTransport(master, name);
    sim::TSimReport report;
    int result = 1;
    QEventLoop loop;
    std::thread tracerThread([&] {
        result = sim::RunConversation(*line, options, report);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    tracerThread.join();
    tracer.SetActive(false);
    close(slave);
    if (result != 0) {
        std::fprintf(stderr, "reply_latency: %s\n", report.Error.c_str());
        return 1;
    }
    std::printf("%s\n", sim::LatencyJson(sim::SummarizeLatency(report.LatencyMs)).c_str());
    std::fprintf(stderr, "%lld jobs of %zu points in format %d, %lld trace events\n", report.JobsDone, report.Points,
                 report.Format, traces);
    return 0;
}
