// Benchmarks of TTraceCalc as its users drive it: a new object per task, one trace, at most one
// size change, then the getters. The point counts span the protocol's range (512 by default,
// 4096 at most); the locked box B change is the costliest task, with four passes.
#include "trace/TrceCalc.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

namespace {
// A frame outline 50 mm wide, 15 mm from the centre to the top and 20 mm to the bottom.
std::string Outline(std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        const double theta = 2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(count);
        const double a = 25;
        const double b = std::sin(theta) >= 0 ? 15 : 20;
        const double radius = a * b / std::hypot(b * std::cos(theta), a * std::sin(theta));
        char group[16];
        std::snprintf(group, sizeof group, "%.4d", static_cast<int>(std::lround(radius * 100)));
        text += group;
    }
    return text;
}

void PointCounts(benchmark::internal::Benchmark* b) {
    for (int count : {512, 1024, 2048, 4096})
        b->Arg(count);
    b->Unit(benchmark::kMicrosecond)->Complexity(benchmark::oN);
}

void BM_BoxBLockedAtDatum(benchmark::State& state) {
    const std::string outline = Outline(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        TTraceCalc calc;
        calc.LockBAtDatum = true;
        calc.SetTrace(outline);
        calc.SetBoxB(40);
        benchmark::DoNotOptimize(calc.Trace());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_BoxBLockedAtDatum)->Apply(PointCounts);

// t(4096)/t(512) of the locked change, both timed in turn in each iteration so that the load of
// a shared machine weighs on both alike. Linear work gives 8; the allocator's trimming and page
// faults of work tables freed per task show up above it.
void BM_BoxBLockedAtDatumRatio(benchmark::State& state) {
    const std::string small = Outline(512);
    const std::string large = Outline(4096);
    const auto task = [](const std::string& outline) {
        TTraceCalc calc;
        calc.LockBAtDatum = true;
        calc.SetTrace(outline);
        calc.SetBoxB(40);
        benchmark::DoNotOptimize(calc.Trace());
    };
    using Clock = std::chrono::steady_clock;
    Clock::duration smallTime{};
    Clock::duration largeTime{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        task(small);
        const auto t1 = Clock::now();
        task(large);
        const auto t2 = Clock::now();
        smallTime += t1 - t0;
        largeTime += t2 - t1;
    }
    if (smallTime.count() > 0)
        state.counters["t4096_over_t512"] =
            static_cast<double>(largeTime.count()) / static_cast<double>(smallTime.count());
}
BENCHMARK(BM_BoxBLockedAtDatumRatio)->Unit(benchmark::kMicrosecond);

void BM_BoxA(benchmark::State& state) {
    const std::string outline = Outline(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        TTraceCalc calc;
        calc.SetTrace(outline);
        calc.SetBoxA(53);
        benchmark::DoNotOptimize(calc.Trace());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_BoxA)->Apply(PointCounts);

void BM_Circumference(benchmark::State& state) {
    const std::string outline = Outline(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        TTraceCalc calc;
        calc.SetTrace(outline);
        calc.SetCircumference(140);
        benchmark::DoNotOptimize(calc.Trace());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Circumference)->Apply(PointCounts);

// Measuring only, as the job panel and the job trace file do.
void BM_Measure(benchmark::State& state) {
    const std::string outline = Outline(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        TTraceCalc calc;
        calc.SetTrace(outline);
        benchmark::DoNotOptimize(calc.BoxA());
        benchmark::DoNotOptimize(calc.Circumference());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Measure)->Apply(PointCounts);

// Deriving the missing eye, as the protocol handler does.
void BM_MirroredTrace(benchmark::State& state) {
    const std::string outline = Outline(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        TTraceCalc calc;
        calc.SetTrace(outline);
        benchmark::DoNotOptimize(calc.MirroredTrace());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_MirroredTrace)->Apply(PointCounts);
} // namespace
