// Outlines, mirror, resampling and measurements of the simulated tracer's shapes.
#include "Shapes.h"

#include "SimError.h"

#include "common/RecordList.h"
#include "protocol/TraceFormats.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>
#include <sstream>
#include <stdexcept>

namespace sim {

namespace {

// Distance from the centre to the outline along the ray at angle `theta`, in mm.
double EllipseRadius(double halfA, double halfB, double theta) {
    const double c = std::cos(theta), s = std::sin(theta);
    return halfA * halfB / std::sqrt(halfB * c * halfB * c + halfA * s * halfA * s);
}

// A rectangle of half sides w and h whose corners are quarter circles of radius rc.
double RoundRectRadius(double w, double h, double rc, double theta) {
    const double c = std::cos(theta), s = std::sin(theta);
    const double ac = std::fabs(c), as = std::fabs(s);
    // Where the ray leaves the sharp rectangle.
    double t = std::min(ac > 0 ? w / ac : INFINITY, as > 0 ? h / as : INFINITY);
    const double x = t * ac, y = t * as;
    if (x > w - rc && y > h - rc) {
        // Inside a corner's square: the far intersection with the corner circle, worked in the
        // first quadrant where the corner centre is (w - rc, h - rc).
        const double cx = w - rc, cy = h - rc;
        const double along = ac * cx + as * cy;
        const double disc = along * along - (cx * cx + cy * cy - rc * rc);
        t = along + std::sqrt(std::max(disc, 0.0));
    }
    return t;
}

int ToHundredths(double millimetres) {
    const double value = std::round(millimetres * 100.0);
    if (!(value >= 0 && value <= kLargestRadius))
        throw std::invalid_argument("the shape does not fit four-digit radii (largest radius 99.99 mm)");
    return static_cast<int>(value);
}

} // namespace

TRadii OutlineRadii(TShapeKind kind, double boxA, double boxB, std::size_t points) {
    if (points == 0)
        throw std::invalid_argument("an outline needs at least one point");
    if (!(boxA > 0 && boxB > 0 && std::isfinite(boxA) && std::isfinite(boxB)))
        throw std::invalid_argument("box sizes must be positive numbers");
    TRadii radii(points);
    const double step = 2 * std::numbers::pi / static_cast<double>(points);
    for (std::size_t i = 0; i < points; ++i) {
        const double theta = step * static_cast<double>(i);
        double r = 0;
        switch (kind) {
        case skCircle:
            r = boxA / 2;
            break;
        case skEllipse:
            r = EllipseRadius(boxA / 2, boxB / 2, theta);
            break;
        case skRoundRect:
            r = RoundRectRadius(boxA / 2, boxB / 2, std::min(boxA, boxB) / 4, theta);
            break;
        case skFile:
            throw std::invalid_argument("a file shape has no generated outline");
        }
        radii[i] = ToHundredths(r);
    }
    return radii;
}

TRadii MirroredRadii(std::span<const int> radii) {
    const std::size_t n = radii.size();
    TRadii mirrored(n);
    for (std::size_t k = 0; k < n; ++k)
        mirrored[k] = radii[(n / 2 + n - k) % n];
    return mirrored;
}

TRadii ResampleRadii(std::span<const int> radii, std::size_t points) {
    const std::size_t m = radii.size();
    if (m == points || m == 0)
        return TRadii(radii.begin(), radii.end());
    TRadii out(points);
    for (std::size_t i = 0; i < points; ++i) {
        const double position = static_cast<double>(i) * static_cast<double>(m) / static_cast<double>(points);
        const auto j = static_cast<std::size_t>(position);
        const double f = position - static_cast<double>(j);
        const double r = radii[j % m] * (1 - f) + radii[(j + 1) % m] * f;
        out[i] = static_cast<int>(std::lround(r));
    }
    return out;
}

TOutlineMeasures MeasureRadii(std::span<const int> radii) {
    TOutlineMeasures m;
    const std::size_t n = radii.size();
    if (n == 0)
        return m;
    const double step = 2 * std::numbers::pi / static_cast<double>(n);
    const double c = std::cos(step);
    double maxX = 0, minX = 0, maxY = 0, minY = 0;
    double previous = radii[n - 1] / 100.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = radii[i] / 100.0;
        const double theta = step * static_cast<double>(i);
        maxX = std::max(maxX, r * std::cos(theta));
        minX = std::min(minX, r * std::cos(theta));
        maxY = std::max(maxY, r * std::sin(theta));
        minY = std::min(minY, r * std::sin(theta));
        // The chord between neighbouring points, by the law of cosines.
        m.Circumference += std::sqrt(std::max(0.0, r * r + previous * previous - 2 * r * previous * c));
        previous = r;
    }
    m.BoxA = maxX - minX;
    m.BoxB = maxY - minY;
    return m;
}

TRadii ZWave(std::size_t points) {
    TRadii z(points);
    const double step = points == 0 ? 0 : 2 * std::numbers::pi / static_cast<double>(points);
    for (std::size_t i = 0; i < points; ++i)
        z[i] = 400 + static_cast<int>(std::lround(150 * std::sin(2 * step * static_cast<double>(i))));
    return z;
}

TJobShape ReadTraceFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw ESimError("cannot read " + path + ": " + std::strerror(errno));
    std::stringstream content;
    content << file.rdbuf();
    const std::string text = content.str();

    TRecordList records;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            records.Add(std::move(line));
        start = end + 1;
    }

    TEyeRec right, left;
    TJobShape shape;
    try {
        DecodeTraceBlocks(records, right, left);
        shape.Right = RadiiValues(right.Radii);
        shape.Left = RadiiValues(left.Radii);
    } catch (const std::exception& e) {
        throw ESimError(path + ": " + e.what());
    }
    for (const TRadii* eye : {&shape.Right, &shape.Left})
        for (int r : *eye)
            if (r < 0 || r > kLargestRadius)
                throw ESimError(path + ": radius " + std::to_string(r) + " is out of range (0 to 9999)");
    if (shape.Right.empty() && shape.Left.empty())
        throw ESimError(path + ": no trace found (expected a TRCFMT=1;n;E;R;F or ...;L;F block)");
    if (shape.Right.empty())
        shape.Right = MirroredRadii(shape.Left);
    if (shape.Left.empty())
        shape.Left = MirroredRadii(shape.Right);
    return shape;
}

TJobShape MakeJobShape(const TShapeParams& params, std::size_t points, const TJobShape* fileShape) {
    if (points == 0 || points > kLargestPointCount)
        throw std::invalid_argument("point count out of range (1 to " + std::to_string(kLargestPointCount) + ")");
    TJobShape shape;
    if (params.Kind == skFile) {
        const TJobShape read = fileShape != nullptr ? TJobShape() : ReadTraceFile(params.Path);
        const TJobShape& source = fileShape != nullptr ? *fileShape : read;
        shape.Right = ResampleRadii(source.Right, points);
        shape.Left = ResampleRadii(source.Left, points);
    } else {
        shape.Right = OutlineRadii(params.Kind, params.BoxA, params.BoxB, points);
        shape.Left = MirroredRadii(shape.Right);
    }
    shape.RightZ = ZWave(points);
    shape.LeftZ = MirroredRadii(shape.RightZ);
    return shape;
}

} // namespace sim
