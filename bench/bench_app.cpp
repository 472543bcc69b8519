// Benchmarks of the application core on the largest inputs it meets: the job trace file of a
// 4096-point job with both eyes, and the intake of a 22 KB job packet. The vendor search is also
// measured with the standard library's regular expression it stands in for.
#include "app/core/JobFile.h"
#include "app/core/JobIntake.h"
#include "app/core/TextFile.h"
#include "protocol/OMAMach.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <regex>
#include <string>
#include <vector>

namespace {
std::string Outline(std::size_t count, double a, double top, double bottom) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        const double theta = 2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(count);
        const double b = std::sin(theta) >= 0 ? top : bottom;
        const double radius = a * b / std::hypot(b * std::cos(theta), a * std::sin(theta));
        char group[16];
        std::snprintf(group, sizeof group, "%.4d", static_cast<int>(std::lround(radius * 100)));
        text += group;
    }
    return text;
}

// The tracer's records of a job with both eyes as the main window holds them.
TRecordList TracerJob(std::size_t points, bool withBoxes) {
    TRecordList job;
    for (const char* line : {"REQ=TRC", "JOB=4711", "DBL=18.00", "FTYP=1", "ETYP=1", "VEN=TAKUBO", "MODEL=T1"})
        job.Add(line);
    if (withBoxes)
        for (const char* line : {"HBOX=50.00;50.00", "VBOX=35.00;35.00", "CIRC=141.00;141.00"})
            job.Add(line);
    const std::string rt = Outline(points, 25, 15, 20);
    const std::string lt = Outline(points, 24.5, 15, 19.5);
    const std::string count = std::to_string(points);
    job.Add("TRCFMT=1;" + count + ";E;R;F");
    AddRadiiRecords(job, rt);
    job.Add("TRCFMT=1;" + count + ";E;L;F");
    AddRadiiRecords(job, lt);
    job.SetValue("_RtTrace", rt);
    job.SetValue("_LtTrace", lt);
    return job;
}

// A job packet of about 22 KB: framing characters, CR LF between records, no VEN record (as in
// the tracer's job packets), so the vendor search runs over all of it.
std::string JobPacket() {
    TRecordList job = TracerJob(2100, true);
    std::vector<std::string> lines;
    for (const std::string& line : job.Lines())
        if (line.rfind("VEN=", 0) != 0 && line.front() != '_')
            lines.push_back(line);
    return FramePacket(lines);
}

void BM_TraceFile(benchmark::State& state, bool shapeModified) {
    const TRecordList job = TracerJob(4096, true);
    const TTraceFormats formats = CaptureTraceFormats(job);
    TJobFileInputs inputs{formats.Rt, formats.Lt, shapeModified, std::string("2"), std::string("1")};
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = JoinLinesCRLF(BuildTraceFileRecords(job, inputs));
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["file_bytes"] = static_cast<double>(bytes);
}
BENCHMARK_CAPTURE(BM_TraceFile, tracer_boxes, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_TraceFile, boxes_recomputed, true)->Unit(benchmark::kMicrosecond);

void BM_PacketIntake(benchmark::State& state) {
    const std::string packet = JobPacket();
    for (auto _ : state) {
        const TRecordList lines = PacketToRecords(packet);
        std::string vendor;
        benchmark::DoNotOptimize(FindVendor(lines, vendor));
        const TTraceFormats formats = CaptureTraceFormats(lines);
        benchmark::DoNotOptimize(formats.Rt.data());
    }
    state.counters["packet_bytes"] = static_cast<double>(packet.size());
}
BENCHMARK(BM_PacketIntake)->Unit(benchmark::kMicrosecond);

void BM_FindVendor(benchmark::State& state) {
    const TRecordList lines = PacketToRecords(JobPacket());
    for (auto _ : state) {
        std::string vendor;
        benchmark::DoNotOptimize(FindVendor(lines, vendor));
    }
}
BENCHMARK(BM_FindVendor)->Unit(benchmark::kMicrosecond);

// The same search with the standard library's multi-line regular expression, for comparison.
void BM_FindVendorStdRegex(benchmark::State& state) {
    const TRecordList lines = PacketToRecords(JobPacket());
    const std::regex pattern("^VEN\\s*=\\s*(\\S+)$", std::regex::ECMAScript | std::regex::multiline);
    for (auto _ : state) {
        std::string text;
        for (std::size_t i = 0; i < lines.Count(); ++i)
            text += (i ? "\r\n" : "") + lines.Line(i);
        std::smatch match;
        benchmark::DoNotOptimize(std::regex_search(text, match, pattern));
    }
}
BENCHMARK(BM_FindVendorStdRegex)->Unit(benchmark::kMicrosecond);
} // namespace
