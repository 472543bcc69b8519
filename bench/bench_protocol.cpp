// Codec and trace-format costs: decoding 4096-point traces in each format, and parsing and
// building a 4096-point format-1 job packet.
#include "protocol/OMAMach.h"
#include "protocol/TraceFormats.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

constexpr int kPoints = 4096;

// A frame-like outline: radii between about 20 and 28 mm, smooth with small ripples.
std::vector<int> FrameRadii(int n) {
    std::vector<int> radii;
    for (int i = 0; i < n; ++i) {
        const double t = 2 * M_PI * i / n;
        radii.push_back(static_cast<int>(2400 + 350 * std::cos(2 * t) + 60 * std::sin(5 * t) + (i % 3)));
    }
    return radii;
}

std::vector<uint16_t> Words(const std::vector<int>& values) {
    return {values.begin(), values.end()};
}

TRecordList JobRecords(const std::vector<int>& radii) {
    TRecordList records;
    for (const char* line : {"REQ=TRC", "JOB=\"00123\"", "DBL=18.00", "CIRC=160.12;160.12", "HBOX=52.00;52.00",
                             "VBOX=38.00;38.00", "FTYP=1", "ETYP=1"})
        records.Add(line);
    records.Add("TRCFMT=1;" + std::to_string(radii.size()) + ";E;R;F");
    for (const std::string& record : EncodeAsciiRecords(radii, "R", 10))
        records.Add(record);
    return records;
}

std::string JobPacket(const std::vector<int>& radii) {
    return FramePacket(JobRecords(radii).Lines());
}

void BM_DecodeFormat1(benchmark::State& state) {
    const TRecordList records = JobRecords(FrameRadii(kPoints));
    for (auto _ : state) {
        TEyeRec right, left;
        DecodeTraceBlocks(records, right, left);
        benchmark::DoNotOptimize(right.Radii.data());
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void BM_DecodeFormat2(benchmark::State& state) {
    const std::string data = EncodeBinaryAbsolute(Words(FrameRadii(kPoints)));
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeBinaryAbsolute(data));
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void BM_DecodeFormat3(benchmark::State& state) {
    const std::string data = EncodeBinaryDifferential(Words(FrameRadii(kPoints)));
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeBinaryDifferential(data));
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void BM_DecodeFormat4(benchmark::State& state) {
    const std::string data = EncodePackedBinary(Words(FrameRadii(kPoints)));
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodePackedBinary(data, kPoints));
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void BM_ParsePacket(benchmark::State& state) {
    const std::string packet = JobPacket(FrameRadii(kPoints));
    TOMAMachine machine;
    for (auto _ : state) {
        machine.ParsePacket(packet);
        benchmark::DoNotOptimize(machine.Received().Count());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(packet.size()));
    state.counters["packet_bytes"] = static_cast<double>(packet.size());
}

void BM_BuildPacket(benchmark::State& state) {
    const TRecordList records = JobRecords(FrameRadii(kPoints));
    TOMAMachine machine;
    for (auto _ : state) {
        machine.ClearReply();
        for (const std::string& line : records.Lines())
            machine.AddReplyLine(line);
        benchmark::DoNotOptimize(machine.BuildPacket());
    }
}

// The whole round of the codec for one job: the packet in, then its records out again.
void BM_ParseAndBuildPacket(benchmark::State& state) {
    const std::string packet = JobPacket(FrameRadii(kPoints));
    TOMAMachine machine;
    for (auto _ : state) {
        machine.ParsePacket(packet);
        machine.ClearReply();
        for (const std::string& line : machine.Received().Lines())
            machine.AddReplyLine(line);
        benchmark::DoNotOptimize(machine.BuildPacket());
    }
}

} // namespace

BENCHMARK(BM_DecodeFormat1);
BENCHMARK(BM_DecodeFormat2);
BENCHMARK(BM_DecodeFormat3);
BENCHMARK(BM_DecodeFormat4);
BENCHMARK(BM_ParsePacket);
BENCHMARK(BM_BuildPacket);
BENCHMARK(BM_ParseAndBuildPacket);
