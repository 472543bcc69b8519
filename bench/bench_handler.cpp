// The protocol handler's own work for one job, with no line in between: the tracer's job packet
// (400 points, right eye only, so the left one is mirrored and fitted) goes in, the reply comes
// out. This is the part of the reply latency that is the program's and not the kernel's.
#include "handler/OMATracer.h"
#include "protocol/OMAMach.h"

#include "Packets.h"
#include "Shapes.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <string>

namespace {

void JobPacketToReply(benchmark::State& state, int format) {
    sim::TJobParams job;
    job.Eyes = sim::seRight;
    job.Format = format;
    const std::string packet = FramePacket(sim::JobPacketLines(job, sim::MakeJobShape(sim::TShapeParams{}, 400)));
    TOMATracer tracer;
    std::string reply;
    long long traces = 0;
    tracer.SetLoopbackSink([&](const std::string& data) { reply = data; });
    tracer.OnRecvOMATrace = [&](QObject*, const std::string&, PEyeRec, PEyeRec, double) { ++traces; };
    for (auto _ : state) {
        reply.clear();
        tracer.InjectReceived(packet);
        benchmark::DoNotOptimize(reply.data());
    }
    if (reply.empty() || traces == 0)
        state.SkipWithError("the handler gave no reply or no trace");
    state.counters["packet_bytes"] = static_cast<double>(packet.size());
}

} // namespace

BENCHMARK_CAPTURE(JobPacketToReply, format1, 1);
BENCHMARK_CAPTURE(JobPacketToReply, format4, 4);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
