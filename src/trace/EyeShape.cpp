#include "trace/EyeShape.h"

#include "trace/TrceCalc.h"

#include <algorithm>
#include <cmath>
#include <numbers>

TEyeShape::TEyeShape(std::string radii) : FRadii(std::move(radii)) {
    if (FRadii.empty())
        return;
    TTraceCalc calc;
    calc.SetTrace(FRadii);
    Take(calc);
}

TEyeShape::TEyeShape(TTraceCalc& calc) : FRadii(calc.Trace()) {
    if (FRadii.empty())
        return;
    Take(calc);
}

void TEyeShape::Take(TTraceCalc& calc) {
    FBoxA = calc.BoxA();
    FBoxB = calc.BoxB();
    FCircumference = calc.Circumference();
    FCentredDiameter = calc.EffectiveDiameter();
    FFarthestAngle = calc.EffectiveDiameterAngle();

    const std::size_t count = calc.PointCount();
    FOutline.reserve(count);
    FRadiusMm.reserve(count);
    const long double step = 2 * std::numbers::pi_v<long double> / static_cast<long double>(count);
    for (std::size_t i = 0; i < count; ++i) {
        long double sine = 0;
        long double cosine = 0;
        ExtendedSinCos(step * static_cast<long double>(i), sine, cosine);
        const double r = calc.Radius(i);
        FRadiusMm.push_back(r);
        const TOutlinePoint p{static_cast<double>(r * cosine), static_cast<double>(r * sine)};
        FOutline.push_back(p);
        FLeft = std::min(FLeft, p.X);
        FRight = std::max(FRight, p.X);
        FBottom = std::min(FBottom, p.Y);
        FTop = std::max(FTop, p.Y);
    }
    const double cx = BoxCentreX();
    const double cy = BoxCentreY();
    double farthest = 0;
    for (std::size_t i = 0; i < FOutline.size(); ++i) {
        const double distance = std::hypot(FOutline[i].X - cx, FOutline[i].Y - cy);
        if (distance > farthest) {
            farthest = distance;
            FFarthestPoint = i;
        }
    }
    FEffectiveDiameter = 2 * farthest;
}

TEyeShapePtr MakeEyeShape(std::string radii) {
    if (radii.empty())
        return nullptr;
    return std::make_shared<const TEyeShape>(std::move(radii));
}

TEyeShapePtr MakeEyeShape(TTraceCalc& calc) {
    auto shape = std::make_shared<const TEyeShape>(calc);
    if (shape->Radii().empty())
        return nullptr;
    return shape;
}
