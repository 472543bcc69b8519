// Fuzz target for TTraceCalc: arbitrary bytes as a radii text with one size change, then every
// read. The system's own exceptions are expected answers to bad input; anything else, and any
// broken invariant of the radii text, is a fault.
//
// Input: byte 0 chooses LockBAtDatum (bit 0) and the change (bits 1-2: none, box A, box B,
// circumference); byte 1 gives the wanted size (254 and 255 give NaN and infinity); the rest is
// the radii text.
#include "trace/TrceCalc.h"

#include "common/Errors.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

namespace {
template <typename Action> void Attempt(Action action) {
    try {
        action();
    } catch (const Exception&) {
    }
}

void Check(bool holds) {
    if (!holds)
        __builtin_trap();
}

bool AllGroupsAreDigits(const std::string& text, std::size_t count) {
    for (std::size_t i = 0; i < count * 4; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

double WantedSize(uint8_t amount, bool circumference) {
    if (amount == 254)
        return std::numeric_limits<double>::quiet_NaN();
    if (amount == 255)
        return std::numeric_limits<double>::infinity();
    return (amount - 40) * (circumference ? 1.5 : 0.5);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t control = size > 0 ? data[0] : 0;
    const uint8_t amount = size > 1 ? data[1] : 0;
    const std::string radii = size > 2 ? std::string(reinterpret_cast<const char*>(data) + 2, size - 2) : std::string();
    const int change = (control >> 1) & 3;
    const double wanted = WantedSize(amount, change == 3);

    TTraceCalc calc;
    calc.LockBAtDatum = (control & 1) != 0;
    calc.SetTrace(radii);
    Attempt([&] {
        switch (change) {
        case 1:
            calc.SetBoxA(wanted);
            break;
        case 2:
            calc.SetBoxB(wanted);
            break;
        case 3:
            calc.SetCircumference(wanted);
            break;
        default:
            break;
        }
    });
    Attempt([&] { calc.Trace(); });
    Attempt([&] { calc.BoxA(); });
    Attempt([&] { calc.BoxB(); });
    Attempt([&] { calc.Circumference(); });
    Attempt([&] { calc.EffectiveDiameter(); });
    Attempt([&] { calc.EffectiveDiameterAngle(); });

    // Whatever happened, the point count is kept and a changed text is made of digit groups.
    const std::size_t count = calc.PointCount();
    Check(count == radii.size() / 4);
    Check(calc.OriginalTrace() == radii);
    Check(calc.CurrentTrace() == radii || AllGroupsAreDigits(calc.CurrentTrace(), count));

    const std::string mirrored = calc.MirroredTrace();
    Check(mirrored.size() == count * 4);
    TTraceCalc back;
    back.SetTrace(mirrored);
    Check(back.MirroredTrace() == calc.CurrentTrace().substr(0, count * 4));

    for (std::size_t i = 0; i <= count; ++i)
        Attempt([&] { calc.Radius(i); });
    bool refused = false;
    try {
        calc.Radius(count);
    } catch (const Exception&) {
        refused = true;
    }
    Check(refused);
    return 0;
}
