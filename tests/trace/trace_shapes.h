// Radii texts the drawing tests share: an outline measuring exactly 50.00 × 40.00 mm and a
// helper for texts written point by point.
#pragma once

#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

namespace trace_shapes {

inline std::string Groups(const std::vector<int>& hundredths) {
    std::string text;
    for (int value : hundredths) {
        char group[16];
        std::snprintf(group, sizeof group, "%.4d", value);
        text += group;
    }
    return text;
}

// `count` points of a radius in mm as a function of the angle, each cut down to 0.01 mm.
inline std::string Sampled(std::size_t count, const std::function<double(double)>& radius) {
    std::vector<int> values;
    for (std::size_t i = 0; i < count; ++i) {
        const double theta = 2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(count);
        // Cut down, not rounded, so that no point reaches past the ellipse's box; the small
        // allowance keeps 20.00 at 90° from turning into 19.99.
        values.push_back(static_cast<int>(std::floor(radius(theta) * 100 + 1e-6)));
    }
    return Groups(values);
}

// An ellipse 50 mm wide and 40 mm high about the trace centre; `count` a multiple of 4 puts
// points on both axes, so the box is exactly 50.00 × 40.00.
inline std::string Ellipse50x40(std::size_t count = 360) {
    return Sampled(
        count, [](double theta) { return 25.0 * 20.0 / std::hypot(20.0 * std::cos(theta), 25.0 * std::sin(theta)); });
}

// An egg: 25 mm to the right, 15 mm to the left of the centre, so a mirrored drawing differs.
inline std::string Egg(std::size_t count = 360) {
    return Sampled(count, [](double theta) { return 20.0 + 5.0 * std::cos(theta); });
}

} // namespace trace_shapes
