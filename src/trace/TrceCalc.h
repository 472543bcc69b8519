// TTraceCalc: the geometry of one eye's trace held as a radii text (groups of four decimal
// characters, each a radius in 0.01 mm at equal angle steps counter-clockwise from the
// positive x axis). It measures the trace, rescales it to a wanted box A or box B, scales it to
// a wanted circumference, hands out single radii and builds the mirror image for the other eye.
//
// An object serves one task: set LockBAtDatum if wanted, SetTrace, at most one size change,
// then the getters. Measurements and a pending box change are brought up to date lazily by
// the first getter (Trace or a measurement) after a change; PointCount, Radius and
// MirroredTrace read the current text as it is.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// Sine and cosine of an angle below 2π in extended precision, as the geometry computes them. On
// x86-64 this is the x87 FSINCOS instruction, which is how extended-precision sine and cosine are
// evaluated on that processor; the C library's sincosl reduces the argument in software for a
// last-bit accuracy the radii never need, at six times the cost. The two can differ in the last
// bits, which decides the side of a point lying exactly on the x axis at 180°.
void ExtendedSinCos(long double angle, long double& sine, long double& cosine);

// cos and sin of i·dθ for one point count, in extended precision.
struct TAngleTable {
    std::vector<long double> Cos;
    std::vector<long double> Sin;
};

class TTraceCalc {
public:
    TTraceCalc();

    void SetTrace(const std::string& radii);
    std::string Trace();

    // Millimetres (the angle in degrees), brought up to date first.
    double BoxA();
    double BoxB();
    double Circumference();
    double EffectiveDiameter();
    double EffectiveDiameterAngle();

    // The box change is applied by the next getter; a change that would give a radius outside
    // 0.00 to 99.99 mm is refused there and dropped.
    void SetBoxA(double wanted);
    void SetBoxB(double wanted);
    // Applied at once; refused (nothing changed) when a radius would leave 0.00 to 99.99 mm.
    void SetCircumference(double wanted);

    std::size_t PointCount() const;
    double Radius(std::size_t index) const;
    std::string MirroredTrace() const;

    // Stretches only the lower half vertically on a box B change, keeping the upper half's form.
    bool LockBAtDatum = false;

    // Read access to the state, for tests and tools; nothing is brought up to date.
    const std::string& OriginalTrace() const { return FOriginalTrace; }
    const std::string& CurrentTrace() const { return FCurrentTrace; }
    double WantedA() const { return FWantedA; }
    double WantedB() const { return FWantedB; }
    bool MeasurementsStale() const { return FMeasurementsStale; }
    bool RescalePending() const { return FRescalePending; }

private:
    void Update();
    void Measure();
    void Rescale();
    void DropRescale();
    void StorePoint(std::size_t index, double x, double y);
    void RotateToAscending();
    void PrepareAngles(std::size_t count, double step);
    double InterpolateRadius(double theta, std::size_t above) const;
    std::string Resample(std::size_t count, double step) const;

    std::string FOriginalTrace;
    std::string FCurrentTrace;
    double FEffectiveDiameter = 0;
    double FEffectiveDiameterAngle = 0;
    double FBoxA = 0;
    double FBoxB = 0;
    double FWantedA = 0;
    double FWantedB = 0;
    double FCircumference = 0;
    bool FMeasurementsStale = false;
    bool FRescalePending = false;

    // Working storage of the rescale: the transformed points as polar coordinates.
    std::vector<double> FRadii;
    std::vector<double> FAngles;
    // cos and sin of i·dθ in extended precision; the measurement and every pass of a rescale read
    // them. They depend on the point count alone, so objects share them and a new object per task
    // neither recomputes nor reallocates them.
    std::shared_ptr<const TAngleTable> FAngleTable;
};
