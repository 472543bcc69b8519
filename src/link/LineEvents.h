// The event bookkeeping every device shares: the enabled EV_* mask, flags raised outside the event
// wait (a write that emptied the queue, a modem line) until the wait collects them, and the loss of
// the line, which is reported exactly once however many wake-ups see it.
#pragma once

#include <atomic>
#include <cstdint>

class TLineEventState {
public:
    void SetMask(uint32_t Mask) { FMask = Mask; }
    uint32_t Mask() const { return FMask.load(); }

    // Records flags for the next collection; true when any of them is enabled (the caller then
    // wakes the event thread).
    bool Raise(uint32_t Flags) {
        Flags &= FMask.load();
        if (Flags == 0)
            return false;
        FPending.fetch_or(Flags);
        return true;
    }
    bool HasPending() const { return (FPending.load() & FMask.load()) != 0; }
    // The raised flags that are enabled, cleared.
    uint32_t Collect() { return FPending.exchange(0) & FMask.load(); }

    // Marks the line as lost; true only for the first call, which is the one to report.
    bool MarkLost(int Error) {
        int expected = 0;
        if (Error == 0 || !FLostError.compare_exchange_strong(expected, Error))
            return false;
        return true;
    }
    bool Lost() const { return FLostError.load() != 0; }
    int LostError() const { return FLostError.load(); }

private:
    std::atomic<uint32_t> FMask{0};
    std::atomic<uint32_t> FPending{0};
    std::atomic<int> FLostError{0};
};
