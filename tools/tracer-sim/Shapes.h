// The outlines the simulated tracer sends: radii of a circle, an ellipse, a rounded rectangle or
// the traces of a job trace file, the other eye as the mirror image, and the measurements a job
// packet carries (box, circumference) computed from the radii as the program computes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sim {

enum TShapeKind : uint8_t { skCircle, skEllipse, skRoundRect, skFile };

struct TShapeParams {
    TShapeKind Kind = skEllipse;
    double BoxA = 52.0; // horizontal extent in mm; the diameter of a circle
    double BoxB = 38.0; // vertical extent in mm
    std::string Path;   // the job trace file of skFile
};

// Radii in 0.01 mm, at equal angle steps counter-clockwise from the positive x axis.
using TRadii = std::vector<int>;

struct TJobShape {
    TRadii Right;
    TRadii Left;
    TRadii RightZ; // small Z values, 0 to 9999, one per point
    TRadii LeftZ;
};

struct TOutlineMeasures {
    double BoxA = 0;
    double BoxB = 0;
    double Circumference = 0;
};

// The largest radius a radii text can carry (four digits of 0.01 mm).
constexpr int kLargestRadius = 9999;
// The most points the simulator sends per eye (the largest point count a program may accept).
constexpr std::size_t kLargestPointCount = 4096;

// `points` radii of a generated outline centred on the origin. Raises std::invalid_argument for a
// shape that does not fit four-digit radii, a size that is not positive, or skFile.
TRadii OutlineRadii(TShapeKind kind, double boxA, double boxB, std::size_t points);

// The other eye: point k is point (n/2 + n - k) mod n of the given eye (a reflection in the y axis).
TRadii MirroredRadii(std::span<const int> radii);

// The same outline at another number of equal angle steps (linear between neighbouring radii).
TRadii ResampleRadii(std::span<const int> radii, std::size_t points);

// Box and circumference of the closed polygon through the points; the box always holds the centre.
TOutlineMeasures MeasureRadii(std::span<const int> radii);

// Z values for one eye: a gentle wave, so the encodings carry something other than a constant.
TRadii ZWave(std::size_t points);

// The traces of a job trace file (records LABEL=value, each line ended by CR LF or LF alone, a
// TRCFMT header per eye followed by its R records). A missing eye is the mirror of the other one.
// Raises ESimError when the file cannot be read or holds no usable trace.
TJobShape ReadTraceFile(const std::string& path);

// Both eyes of the shape at `points` points each, with their Z values. A file shape is read once
// by the caller (`fileShape`) and resampled here when its point count differs.
TJobShape MakeJobShape(const TShapeParams& params, std::size_t points, const TJobShape* fileShape = nullptr);

} // namespace sim
