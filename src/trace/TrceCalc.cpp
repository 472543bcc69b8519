// TTraceCalc: measuring, rescaling, circumference scaling and mirroring of a radii text.
//
// Arithmetic: each expression is evaluated in long double (80-bit extended on x86-64), the
// arctangent of the polar angle aside (see PolarAngle), and every value that is kept — fields,
// named locals, the point tables, factors, dθ, cos dθ — is a double. The groups written depend on this to the last
// rounding (a radius kept in extended precision, for one, no longer equals its stored copy), so keep it when changing
// the code. Round is nearest with ties to even (RoundTiesToEven.h), and a division by zero raises EZeroDivide
// instead of yielding an infinity.
#include "trace/TrceCalc.h"

#include "common/Errors.h"
#include "common/Numbers.h"
#include "trace/RoundTiesToEven.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <numbers>
#include <string_view>

namespace {
// x87 extended precision on x86-64, which the groups written were checked against. Elsewhere long
// double may be a plain double or a 128-bit type; everything here, rounding included, follows the
// width it has, so a group there can differ from the one written on x86-64 only where its value
// lies within the last bits of a half.
using Ext = long double;
static_assert(std::numeric_limits<Ext>::digits >= std::numeric_limits<double>::digits &&
                  std::numeric_limits<Ext>::radix == 2,
              "the geometry needs a binary long double at least as wide as double");

constexpr Ext kPi = std::numbers::pi_v<long double>;
constexpr Ext kTwoPi = 2 * kPi;
constexpr std::size_t kGroupSize = 4;
constexpr int kLargestGroup = 9999;

// The angle tables of the last few point counts used, for all objects of the process. The
// protocol's counts are few (512 by default), so a handful covers every task.
std::shared_ptr<const TAngleTable> SharedAngleTable(std::size_t count, double step) {
    constexpr std::size_t kKept = 4;
    static std::mutex guard;
    static std::vector<std::shared_ptr<const TAngleTable>> kept;
    {
        const std::lock_guard lock(guard);
        for (const auto& table : kept)
            if (table->Cos.size() == count)
                return table;
    }
    auto table = std::make_shared<TAngleTable>();
    table->Cos.resize(count);
    table->Sin.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        ExtendedSinCos(static_cast<Ext>(i) * step, table->Sin[i], table->Cos[i]);
    const std::lock_guard lock(guard);
    if (kept.size() == kKept)
        kept.erase(kept.begin());
    kept.push_back(table);
    return table;
}

// Group `index` of a radii text in 0.01 mm; raises EConvertError for a group that is not an
// integer.
int32_t Group(const std::string& text, std::size_t index) {
    return GroupToInt(std::string_view(text.data() + index * kGroupSize, kGroupSize));
}

// "%.4d" of a value already known to lie in 0..9999.
void PutGroup(char* out, int value) {
    // Two pairs of digits, each split on its own: no chain of four divisions.
    const auto high = static_cast<unsigned>(value) / 100;
    const auto low = static_cast<unsigned>(value) % 100;
    out[0] = static_cast<char>('0' + high / 10);
    out[1] = static_cast<char>('0' + high % 10);
    out[2] = static_cast<char>('0' + low / 10);
    out[3] = static_cast<char>('0' + low % 10);
}

[[noreturn, gnu::cold, gnu::noinline]] void RefuseGroup(double rounded) {
    throw Exception("Radius " + FormatFixed(rounded / 100.0, 2) + " mm is out of range (" + FormatFixed(0.0, 2) +
                    " to " + FormatFixed(kLargestGroup / 100.0, 2) + " mm)");
}

// Round(hundredths) as a group value. A value outside 0..9999 has no four-character form;
// writing it would shift every later group, so the change is refused instead.
inline int GroupValue(Ext hundredths) {
    const Ext rounded = RoundTiesToEven(hundredths);
    if (!(rounded >= 0 && rounded <= kLargestGroup)) [[unlikely]]
        RefuseGroup(static_cast<double>(rounded));
    // Whole and within 0..9999, so exact as a double, whose conversion to int needs no change of
    // the x87 rounding mode.
    return static_cast<int>(static_cast<double>(rounded));
}

// Polar angle of a point, from 0 to 2π. A point on the y axis is decided by the sign of y alone,
// and a point just below the positive x axis may round to 2π itself.
//
// The arctangent alone is taken in double precision: the angle is kept as a double anyway, and
// the extended-precision arctangent cost almost half of a whole rescale. Compared with it over
// 1.5 million rescaled points of random outlines, no group came out different; the tests keep
// comparing the rescale with one written wholly in extended precision.
double PolarAngle(double x, double y) {
    if (x == 0)
        return y >= 0 ? kPi / 2 : 3 * kPi / 2;
    const Ext angle = std::atan(static_cast<double>(static_cast<Ext>(y) / x));
    if (x < 0)
        return angle + kPi;
    if (y < 0)
        return angle + kTwoPi;
    return angle;
}
} // namespace

void ExtendedSinCos(long double angle, long double& sine, long double& cosine) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    __asm__("fsincos" : "=t"(cosine), "=u"(sine) : "0"(angle));
#else
    sine = std::sin(angle);
    cosine = std::cos(angle);
#endif
}

TTraceCalc::TTraceCalc() = default;

void TTraceCalc::SetTrace(const std::string& radii) {
    FOriginalTrace = radii;
    FCurrentTrace = radii;
    FMeasurementsStale = true;
    FRescalePending = false;
}

std::string TTraceCalc::Trace() {
    Update();
    return FCurrentTrace;
}

double TTraceCalc::BoxA() {
    Update();
    return FBoxA;
}

double TTraceCalc::BoxB() {
    Update();
    return FBoxB;
}

double TTraceCalc::Circumference() {
    Update();
    return FCircumference;
}

double TTraceCalc::EffectiveDiameter() {
    Update();
    return FEffectiveDiameter;
}

double TTraceCalc::EffectiveDiameterAngle() {
    Update();
    return FEffectiveDiameterAngle;
}

void TTraceCalc::SetBoxA(double wanted) {
    if (FMeasurementsStale)
        Measure();
    FWantedA = wanted;
    FRescalePending = true;
}

void TTraceCalc::SetBoxB(double wanted) {
    if (FMeasurementsStale)
        Measure();
    FWantedB = wanted;
    FRescalePending = true;
}

void TTraceCalc::SetCircumference(double wanted) {
    // Compared with the value held from the last measurement, deliberately not brought up to
    // date: asking again for the size just set costs nothing.
    if (std::fabs(static_cast<Ext>(wanted) - FCircumference) < 0.01L)
        return;
    Update();
    if (FCircumference == 0)
        throw EZeroDivide();
    const double factor = static_cast<Ext>(wanted) / FCircumference;
    // Scaled into a copy, so that a refused value leaves the trace as it was.
    std::string trace = FCurrentTrace;
    const std::size_t count = PointCount();
    for (std::size_t i = 0; i < count; ++i)
        PutGroup(&trace[i * kGroupSize], GroupValue(static_cast<Ext>(Group(trace, i)) * factor));
    FCurrentTrace = std::move(trace);
    FMeasurementsStale = true;
}

std::size_t TTraceCalc::PointCount() const {
    return FCurrentTrace.size() / kGroupSize;
}

double TTraceCalc::Radius(std::size_t index) const {
    const std::size_t count = PointCount();
    if (index >= count)
        throw Exception("Invalid data point " + std::to_string(index) + " requested\r(valid values are 0 through " +
                        std::to_string(static_cast<long long>(count) - 1) + ")");
    int32_t value = 0;
    try {
        value = Group(FCurrentTrace, index);
    } catch (const Exception& error) {
        throw Exception("Error retrieving data point " + std::to_string(index) + "\r" + error.what());
    }
    return static_cast<Ext>(value) / 100;
}

std::string TTraceCalc::MirroredTrace() const {
    const std::size_t count = PointCount();
    std::string mirrored(count * kGroupSize, '\0');
    // Point k of the mirror is point (count/2 - k) mod count: from count/2 down to 0, then on
    // from the last point.
    std::size_t source = count / 2;
    for (std::size_t k = 0; k < count; ++k) {
        std::memcpy(&mirrored[k * kGroupSize], &FCurrentTrace[source * kGroupSize], kGroupSize);
        source = source == 0 ? count - 1 : source - 1;
    }
    return mirrored;
}

void TTraceCalc::Update() {
    if (FRescalePending)
        Rescale();
    if (FMeasurementsStale)
        Measure();
}

void TTraceCalc::Measure() {
    FCircumference = 0;
    // Holds the largest radius until the end, where it is doubled.
    FEffectiveDiameter = 0;
    const std::size_t count = PointCount();
    if (count == 0)
        return;
    const double step = kTwoPi / count;
    const double cosStep = std::cos(static_cast<Ext>(step));
    PrepareAngles(count, step);

    // Starting at 0 keeps the trace centre inside the box.
    double maxX = 0;
    double minX = 0;
    double maxY = 0;
    double minY = 0;
    double previous = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double r = static_cast<Ext>(Group(FCurrentTrace, i)) / 100;
        const double x = r * FAngleTable->Cos[i];
        const double y = r * FAngleTable->Sin[i];
        maxX = std::max(maxX, x);
        minX = std::min(minX, x);
        maxY = std::max(maxY, y);
        minY = std::min(minY, y);
        if (r > FEffectiveDiameter) {
            FEffectiveDiameter = r;
            FEffectiveDiameterAngle = static_cast<Ext>(i) * step * 180 / kPi;
        }
        // The first chord closes the polygon from the last point to point 0.
        if (i == 0)
            previous = static_cast<Ext>(Group(FCurrentTrace, count - 1)) / 100;
        const Ext here = r;
        const Ext before = previous;
        const Ext squaredChord = here * here + before * before - 2 * here * before * cosStep;
        if (squaredChord < 0)
            throw EInvalidOp();
        FCircumference = FCircumference + std::sqrt(squaredChord);
        previous = r;
    }
    FBoxA = static_cast<Ext>(maxX) - minX;
    FBoxB = static_cast<Ext>(maxY) - minY;
    FEffectiveDiameter = 2 * static_cast<Ext>(FEffectiveDiameter);
    FWantedA = FBoxA;
    FWantedB = FBoxB;
    FMeasurementsStale = false;
}

void TTraceCalc::Rescale() {
    const std::size_t count = PointCount();
    // A zero box or an empty text cannot be scaled: the change stays pending and the getters
    // go on reporting the unchanged trace.
    if (FBoxA == 0)
        return;
    const double sx = static_cast<Ext>(FWantedA) / FBoxA;
    if (FBoxB == 0)
        return;
    // Locked, the lower half alone carries the whole change of height, hence twice the change.
    const double sy =
        LockBAtDatum ? (2 * static_cast<Ext>(FWantedB) - FBoxB) / FBoxB : static_cast<Ext>(FWantedB) / FBoxB;
    if (count == 0)
        return;
    const double step = kTwoPi / count;

    // The point tables are scratch of this call. Callers make a new object per task, so they are
    // borrowed from the thread and handed back, keeping their memory from task to task.
    static thread_local std::vector<double> spareRadii;
    static thread_local std::vector<double> spareAngles;
    struct TBorrow {
        std::vector<double>& Own;
        std::vector<double>& Spare;
        TBorrow(std::vector<double>& own, std::vector<double>& spare) : Own(own), Spare(spare) { Own.swap(Spare); }
        ~TBorrow() { Own.swap(Spare); }
    };
    const TBorrow radii(FRadii, spareRadii);
    const TBorrow angles(FAngles, spareAngles);

    try {
        PrepareAngles(count, step);
        FRadii.resize(count);
        FAngles.resize(count);

        // Every box change starts from the trace as given, not from an earlier change.
        double topY = -std::numeric_limits<double>::infinity();
        for (std::size_t i = 0; i < count; ++i) {
            const double r = static_cast<Ext>(Group(FOriginalTrace, i)) / 100;
            const double x = FAngleTable->Cos[i] * r * sx;
            double y = FAngleTable->Sin[i] * r;
            if (!(LockBAtDatum && i <= count / 2))
                y = static_cast<Ext>(y) * sy;
            StorePoint(i, x, y);
            topY = std::max(topY, y);
        }
        std::string trace = Resample(count, step);

        if (LockBAtDatum && sy != 1) {
            // Move the shape so that its top lies half the wanted height above the centre.
            const double offset = static_cast<Ext>(FWantedB) / 2 - topY;
            for (std::size_t i = 0; i < count; ++i) {
                const double r = static_cast<Ext>(Group(trace, i)) / 100;
                const double x = FAngleTable->Cos[i] * r;
                const double y = FAngleTable->Sin[i] * r + offset;
                StorePoint(i, x, y);
            }
            RotateToAscending();
            trace = Resample(count, step);
        }
        FCurrentTrace = std::move(trace);
    } catch (...) {
        DropRescale();
        throw;
    }
    FMeasurementsStale = true;
    FRescalePending = false;
}

// A refused change is forgotten, with its targets: a later box change must not pick up the
// refused value of the other side.
void TTraceCalc::DropRescale() {
    FRescalePending = false;
    FWantedA = FBoxA;
    FWantedB = FBoxB;
}

void TTraceCalc::PrepareAngles(std::size_t count, double step) {
    if (FAngleTable && FAngleTable->Cos.size() == count)
        return;
    FAngleTable = SharedAngleTable(count, step);
}

void TTraceCalc::StorePoint(std::size_t index, double x, double y) {
    const Ext ex = x;
    const Ext ey = y;
    FRadii[index] = std::sqrt(ex * ex + ey * ey);
    FAngles[index] = PolarAngle(x, y);
}

// Brings the smallest angle first when the angles rise cyclically with a single wrap. Rotating
// by one place until angle[0] <= angle[N-1] stops after k places, k the first index whose angle
// is not above its cyclic predecessor's; rotating by k at once gives the same tables.
void TTraceCalc::RotateToAscending() {
    const std::size_t count = FAngles.size();
    std::size_t k = 0;
    while (k < count && FAngles[k] > FAngles[(k + count - 1) % count])
        ++k;
    if (k == 0 || k == count)
        return;
    std::rotate(FAngles.begin(), FAngles.begin() + static_cast<std::ptrdiff_t>(k), FAngles.end());
    std::rotate(FRadii.begin(), FRadii.begin() + static_cast<std::ptrdiff_t>(k), FRadii.end());
}

// Linear in angle between the table entries around theta; `above` is the first index whose
// angle theta is not at or beyond (the table size when there is none). Past either end the
// neighbour across 0° is used with its angle moved by a full turn.
double TTraceCalc::InterpolateRadius(double theta, std::size_t above) const {
    const std::size_t count = FAngles.size();
    std::size_t hi = above;
    std::size_t lo = above - 1;
    Ext angleHi = 0;
    Ext angleLo = 0;
    if (above == count) {
        hi = 0;
        lo = count - 1;
        angleHi = FAngles[0] + kTwoPi;
        angleLo = FAngles[lo];
    } else if (above == 0) {
        lo = count - 1;
        angleHi = FAngles[0];
        angleLo = FAngles[lo] - kTwoPi;
    } else {
        angleHi = FAngles[hi];
        angleLo = FAngles[lo];
    }
    const Ext span = angleHi - angleLo;
    if (span == 0)
        throw EZeroDivide();
    const Ext radiusLo = FRadii[lo];
    return radiusLo + (FRadii[hi] - radiusLo) * (theta - angleLo) / span;
}

// The groups of the point tables resampled at θ = i·dθ. The first angle above θ never moves
// back as θ grows, whatever the order of the table, so one forward scan serves the whole pass.
std::string TTraceCalc::Resample(std::size_t count, double step) const {
    std::string trace(count * kGroupSize, '0');
    std::size_t above = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double theta = static_cast<Ext>(i) * step;
        while (above < count && theta >= FAngles[above])
            ++above;
        PutGroup(&trace[i * kGroupSize], GroupValue(100 * static_cast<Ext>(InterpolateRadius(theta, above))));
    }
    return trace;
}
