// Codec and trace-format costs: decoding 4096-point traces in each format, and parsing and
// building a 4096-point format-1 job packet. Each decoder runs beside its floor, a plain loop that
// unpacks the same bytes to int16 without producing text. The two take turns in batches, so a
// neighbour's load falls on both alike; "x_floor" is the median over the batches of the decoder's
// time over the floor's.
#include "protocol/OMAMach.h"
#include "protocol/TraceFormats.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>
#include <time.h>
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

// An outline whose differences are bytes that travel escaped (ACK, CR, ESC, FS, ...): rising in such
// steps, then back to the start by an absolute value. Nearly every byte of its format-3 record is
// escaped.
std::vector<int> EscapedStepRadii(int n) {
    constexpr int kSteps[] = {6, 10, 13, 17, 19, 21, 26, 27, 28, 29, 30};
    std::vector<int> radii;
    int radius = 2000;
    for (int i = 0; i < n; ++i) {
        radii.push_back(radius);
        radius = radius > 2600 ? 2000 : radius + kSteps[i % std::size(kSteps)];
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

// This thread's CPU time in nanoseconds: on a shared machine, time spent waiting for a core would
// make the ratios to the floors depend on the neighbours' load.
double ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Each iteration is one batch of the floor, then one of the decoder, each timed on its own; the
// counters are CPU nanoseconds per point and the median ratio of the batches.
template <typename Floor, typename Decoder>
void FloorAndDecoder(benchmark::State& state, Floor&& floor, Decoder&& decoder) {
    constexpr int kBatch = 16;
    std::vector<double> floorNs, decoderNs, ratios;
    for (auto _ : state) {
        double start = ThreadCpuNs();
        for (int i = 0; i < kBatch; ++i)
            floor();
        const double f = ThreadCpuNs() - start;
        start = ThreadCpuNs();
        for (int i = 0; i < kBatch; ++i)
            decoder();
        const double d = ThreadCpuNs() - start;
        floorNs.push_back(f / kBatch / kPoints);
        decoderNs.push_back(d / kBatch / kPoints);
        ratios.push_back(d / f);
    }
    state.SetItemsProcessed(state.iterations() * kBatch * kPoints);
    state.counters["floor_ns_per_point"] = Median(floorNs);
    state.counters["ns_per_point"] = Median(decoderNs);
    state.counters["x_floor"] = Median(ratios);
}

// Format 1 beside its floor: the value fields of the R= records read as int16.
void DecodeFormat1BesideFloor(benchmark::State& state) {
    const TRecordList records = JobRecords(FrameRadii(kPoints));
    std::vector<int16_t> values(kPoints + 16);
    const auto floor = [&] {
        std::size_t n = 0;
        for (const std::string& line : records.Lines()) {
            if (line.size() < 2 || line[0] != 'R' || line[1] != '=')
                continue;
            int v = 0;
            for (std::size_t i = 2; i < line.size(); ++i) {
                const char c = line[i];
                if (c == ';') {
                    values[n++] = static_cast<int16_t>(v);
                    v = 0;
                } else {
                    v = v * 10 + (c - '0');
                }
            }
            values[n++] = static_cast<int16_t>(v);
        }
        benchmark::DoNotOptimize(values.data());
        benchmark::DoNotOptimize(n);
    };
    FloorAndDecoder(state, floor, [&] {
        TEyeRec right, left;
        DecodeTraceBlocks(records, right, left);
        benchmark::DoNotOptimize(right.Radii.data());
    });
}

// Format 2 beside its floor: unescape, then little-endian byte pairs to int16.
void DecodeFormat2BesideFloor(benchmark::State& state) {
    const std::string data = EncodeBinaryAbsolute(Words(FrameRadii(kPoints)));
    std::string bytes;
    std::vector<int16_t> values(kPoints);
    const auto floor = [&] {
        UnescapeTextInto(data, bytes);
        const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
        const std::size_t count = bytes.size() / 2;
        for (std::size_t i = 0; i < count; ++i)
            values[i] = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
        benchmark::DoNotOptimize(values.data());
    };
    FloorAndDecoder(state, floor, [&] { benchmark::DoNotOptimize(DecodeBinaryAbsolute(data)); });
}

// Format 3 beside its floor: unescape, then byte differences (0x80 brings an absolute value)
// to int16.
void DecodeFormat3BesideFloor(benchmark::State& state) {
    const std::string data = EncodeBinaryDifferential(Words(FrameRadii(kPoints)));
    std::string bytes;
    std::vector<int16_t> values(kPoints + 1);
    const auto floor = [&] {
        UnescapeTextInto(data, bytes);
        const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
        const std::size_t size = bytes.size();
        int16_t value = static_cast<int16_t>(b[0] | (b[1] << 8));
        std::size_t n = 0;
        values[n++] = value;
        for (std::size_t i = 2; i < size;) {
            if (b[i] == 0x80 && i + 2 < size) {
                value = static_cast<int16_t>(b[i + 1] | (b[i + 2] << 8));
                i += 3;
            } else {
                value = static_cast<int16_t>(value + static_cast<int8_t>(b[i]));
                i += 1;
            }
            values[n++] = value;
        }
        benchmark::DoNotOptimize(values.data());
    };
    FloorAndDecoder(state, floor, [&] { benchmark::DoNotOptimize(DecodeBinaryDifferential(data)); });
}

// Format 3 with nearly every byte escaped, beside a floor that unescapes as it unpacks: one pass
// over the record text, no copy of the bytes.
void DecodeFormat3ManyEscapesBesideFloor(benchmark::State& state) {
    const std::string data = EncodeBinaryDifferential(Words(EscapedStepRadii(kPoints)));
    std::vector<int16_t> values(kPoints + 1);
    const auto floor = [&] {
        const auto* p = reinterpret_cast<const unsigned char*>(data.data());
        const auto* const end = p + data.size();
        const auto next = [&]() -> unsigned {
            if (p == end)
                return 0;
            unsigned c = *p++;
            if (c == 0x1B)
                c = p < end ? (*p++ & 0x7F) : 0;
            return c;
        };
        const unsigned low = next();
        int16_t value = static_cast<int16_t>(low | next() << 8);
        std::size_t n = 0;
        values[n++] = value;
        while (p < end) {
            const unsigned b = next();
            if (b == 0x80) {
                const unsigned absoluteLow = next();
                value = static_cast<int16_t>(absoluteLow | next() << 8);
            } else {
                value = static_cast<int16_t>(value + static_cast<int8_t>(b));
            }
            values[n++] = value;
        }
        benchmark::DoNotOptimize(values.data());
    };
    FloorAndDecoder(state, floor, [&] { benchmark::DoNotOptimize(DecodeBinaryDifferential(data)); });
}

// Format 4 beside its floor: unescape, then the 16/8/4-bit packed stream to int16.
void DecodeFormat4BesideFloor(benchmark::State& state) {
    const std::string data = EncodePackedBinary(Words(FrameRadii(kPoints)));
    std::string bytes;
    std::vector<int16_t> values(kPoints);
    const auto floor = [&] {
        UnescapeTextInto(data, bytes);
        const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
        std::size_t unit = 0;
        auto next = [&] {
            const unsigned byte = b[unit >> 1];
            const unsigned u = (unit & 1) ? (byte & 0x0F) : (byte >> 4);
            ++unit;
            return u;
        };
        int mode = 16;
        uint16_t previous = 0, difference = 0;
        for (std::size_t point = 0; point < kPoints;) {
            if (mode == 16) {
                const unsigned lo = next() << 4 | next();
                const unsigned v = lo | (next() << 12 | next() << 8);
                if (v == 0x8000) {
                    mode = 8;
                    continue;
                }
                difference = static_cast<uint16_t>(v - previous);
                previous = static_cast<uint16_t>(v);
            } else if (mode == 8) {
                const auto e = static_cast<int8_t>(next() << 4 | next());
                if (e == -128 || e == -127) {
                    mode = e == -128 ? 4 : 16;
                    continue;
                }
                difference = static_cast<uint16_t>(e);
                previous = static_cast<uint16_t>(previous + e);
            } else {
                const unsigned u = next();
                if (u == 8) {
                    mode = 8;
                    continue;
                }
                difference = static_cast<uint16_t>(difference + (static_cast<int>(u ^ 8) - 8));
                previous = static_cast<uint16_t>(previous + difference);
            }
            values[point++] = static_cast<int16_t>(previous);
        }
        benchmark::DoNotOptimize(values.data());
    };
    FloorAndDecoder(state, floor, [&] { benchmark::DoNotOptimize(DecodePackedBinary(data, kPoints)); });
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

BENCHMARK(DecodeFormat1BesideFloor);
BENCHMARK(DecodeFormat2BesideFloor);
BENCHMARK(DecodeFormat3BesideFloor);
BENCHMARK(DecodeFormat3ManyEscapesBesideFloor);
BENCHMARK(DecodeFormat4BesideFloor);
BENCHMARK(BM_ParsePacket);
BENCHMARK(BM_BuildPacket);
BENCHMARK(BM_ParseAndBuildPacket);
