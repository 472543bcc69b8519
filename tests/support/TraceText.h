// Radii texts of simple outlines as a tracer sends them (four digits a point, in hundredths of a
// millimetre), for the tests and the benchmarks.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <numbers>
#include <string>

namespace trace_text {

// A radii text of `count` points from a radius in mm as a function of the angle.
inline std::string MakeTrace(std::size_t count, const std::function<double(double)>& radius) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        char group[16];
        std::snprintf(group, sizeof group, "%.4d",
                      static_cast<int>(std::lround(radius(2 * std::numbers::pi * i / count) * 100)));
        text += group;
    }
    return text;
}

inline std::string Circle(std::size_t count, double radius) {
    return MakeTrace(count, [radius](double) { return radius; });
}

// An ellipse with half-axes a (x) and b (y) in mm.
inline std::string Ellipse(std::size_t count, double a, double b) {
    return MakeTrace(count, [a, b](double t) { return a * b / std::hypot(b * std::cos(t), a * std::sin(t)); });
}

} // namespace trace_text
