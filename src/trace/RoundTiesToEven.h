// Rounding to the nearest whole number with ties to even, for a binary floating type of any width.
#pragma once

#include <limits>

// Adding 2^(p-1), p the significand's width in bits, leaves no fraction bit in the sum of a
// value below it, so the hardware rounds that sum to a whole number with ties to even (the
// rounding mode the process runs in, never changed); taking it away again is exact. Any value
// at or beyond 2^(p-1) is whole already. The shift follows the type's own width: a shift fitted
// to one width rounds to multiples of 2^(shift-p+1) on a narrower type (long double as a plain
// double) and does not round at all on a wider one (128-bit long double).
//
// Digits is the significand width, sign not counted; give it for a type numeric_limits does not
// describe (__float128: 113). NaN comes back as it is.
template <typename Float, int Digits = std::numeric_limits<Float>::digits> Float RoundTiesToEven(Float value) {
    static_assert(Digits > 1, "the significand width of this type must be given");
    static_assert(!std::numeric_limits<Float>::is_specialized || std::numeric_limits<Float>::radix == 2,
                  "the shift works in a binary floating type");
    // 2^(Digits-1), built by doubling: exact in the type itself, whatever its width.
    constexpr Float shift = [] {
        Float power = 1;
        for (int i = 1; i < Digits; ++i)
            power = power + power;
        return power;
    }();
    if (value >= 0 && value < shift)
        return (value + shift) - shift;
    if (value < 0 && value > -shift)
        return -((-value + shift) - shift);
    return value;
}
