// How a waiting read of the port applies the timeouts record, the same on every platform: at once
// with what has arrived, until the first byte, or until a total limit and a limit between bytes.
#pragma once

#include "link/CommSettings.h"

#include <cstddef>
#include <cstdint>

struct TReadWait {
    bool AtOnce = false;        // return at once with what has arrived
    bool FirstByteEnds = false; // the first byte ends the wait
    uint64_t TotalMs = 0;       // the whole read's limit; 0: none
    uint32_t IntervalMs = 0;    // the limit between two bytes; 0: none
};

inline TReadWait ReadWaitFor(const TCommTimeouts& Timeouts, size_t Want) {
    constexpr uint32_t kMaxDword = 0xFFFFFFFFu;
    TReadWait wait;
    // Interval "infinite" with no totals: at once.
    if (Timeouts.ReadIntervalTimeout == kMaxDword && Timeouts.ReadTotalTimeoutMultiplier == 0 &&
        Timeouts.ReadTotalTimeoutConstant == 0) {
        wait.AtOnce = true;
        return wait;
    }
    // Interval and multiplier "infinite", a constant: the first byte ends the wait.
    wait.FirstByteEnds = Timeouts.ReadIntervalTimeout == kMaxDword &&
                         Timeouts.ReadTotalTimeoutMultiplier == kMaxDword && Timeouts.ReadTotalTimeoutConstant != 0 &&
                         Timeouts.ReadTotalTimeoutConstant != kMaxDword;
    wait.TotalMs = wait.FirstByteEnds ? Timeouts.ReadTotalTimeoutConstant
                                      : static_cast<uint64_t>(Timeouts.ReadTotalTimeoutMultiplier) * Want +
                                            Timeouts.ReadTotalTimeoutConstant;
    if (!wait.FirstByteEnds && Timeouts.ReadIntervalTimeout != kMaxDword)
        wait.IntervalMs = Timeouts.ReadIntervalTimeout;
    return wait;
}
