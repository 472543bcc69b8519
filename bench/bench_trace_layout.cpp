// Benchmarks of the trace drawing layout as one paint runs it: the measured shape laid out, one
// eye or both, in the main window's panel. 512 points is the protocol's default, 4096 its largest.
#include "trace/EyeShape.h"
#include "trace/TraceLayout.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

namespace {
// An ellipse 50 mm wide and 40 mm high.
std::string Outline(std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        const double theta = 2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(count);
        const double radius = 25.0 * 20.0 / std::hypot(20.0 * std::cos(theta), 25.0 * std::sin(theta));
        char group[16];
        std::snprintf(group, sizeof group, "%.4d", static_cast<int>(std::lround(radius * 100)));
        text += group;
    }
    return text;
}

void BM_Layout(benchmark::State& state, TDrawEyeType mode) {
    const TEyeShape shape(Outline(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state)
        benchmark::DoNotOptimize(LayoutTrace(shape, 1800, mode, {1, 1, 439, 294}));
    state.SetComplexityN(state.range(0));
}
BENCHMARK_CAPTURE(BM_Layout, BothEyes, deBoth)
    ->Arg(512)
    ->Arg(4096)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);
BENCHMARK_CAPTURE(BM_Layout, OneEye, deRight)
    ->Arg(512)
    ->Arg(4096)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);
} // namespace
