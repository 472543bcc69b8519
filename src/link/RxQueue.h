// The port's own input queue, filled by the device's reading thread and emptied by reads. It sizes
// itself from ReadBufSize, marks the 80 % level for EV_RX80FULL, drops NULs and spots the event
// character as the line settings ask, and dates the bytes: a reader learns when they reached the
// line, not when it got round to reading them. Not locked: the device holds its receive lock around
// every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// Where bytes of one arrival begin in what a read gave, and when they arrived (a 32-bit wrapping
// millisecond tick).
struct TRxArrival {
    size_t Offset = 0;
    uint32_t Tick = 0;
    bool operator==(const TRxArrival&) const = default;
};
using TRxArrivals = std::vector<TRxArrival>;

// The steady clock as a 32-bit wrapping millisecond tick.
uint32_t SteadyTick();

class TRxQueue {
public:
    // The queue never holds less than this, whatever ReadBufSize says, so a tiny setting does not
    // turn every few bytes into a wake-up.
    static constexpr size_t kMinCapacity = 256;

    void SetSize(uint32_t ReadSize);
    void SetFilter(bool DiscardNull, uint8_t EvtChar) {
        FDiscardNull = DiscardNull;
        FEvtChar = static_cast<char>(EvtChar);
    }
    // The clock that dates arrivals; null: the steady clock. Called under the device's lock.
    void SetClock(std::function<uint32_t()> Clock) { FClock = std::move(Clock); }
    uint32_t Now() const { return FClock ? FClock() : SteadyTick(); }

    size_t Queued() const { return FData.size() - FHead; }
    size_t Capacity() const { return FCapacity; }
    bool Full() const { return Queued() >= FCapacity; }
    size_t Room() const { return Full() ? 0 : FCapacity - Queued(); }

    // The reading thread no longer watches the line (it waits for a delivery, or the queue is
    // full); bytes reaching the driver meanwhile cannot be dated more closely than this moment.
    // A second call before ResumeWatching keeps the first moment.
    void StopWatching();
    // It watches again; the next Backlog bytes received waited in the driver and are dated to the
    // moment watching stopped (the silence before them is not longer than the line showed).
    void ResumeWatching(size_t Backlog);
    bool Watching() const { return FWatching; }

    // Appends received bytes (filtered) dated now (or to the stop, for a backlog); the EV_* flags
    // they raise: EV_RXCHAR when a byte was queued, EV_RXFLAG for the event character, EV_RX80FULL
    // when the 80 % mark is crossed.
    uint32_t Receive(const char* Data, size_t Size);
    // Appends the filtered bytes to Str itself (a read that bypasses the queue), dated now into
    // Arrivals when given; true when the event character was among them.
    bool Filter(std::string& Str, const char* Data, size_t Size, TRxArrivals* Arrivals = nullptr);
    // Moves the oldest bytes to Str until it holds Want bytes or the queue is empty; Arrivals, when
    // given, gets when the moved bytes arrived (offsets into Str).
    void Take(std::string& Str, size_t Want, TRxArrivals* Arrivals = nullptr);
    void Clear();

private:
    struct TRun {
        size_t Count = 0;
        uint32_t Tick = 0;
    };
    // Records Tick as the latest date. A backlog's date (NotBeforeLast) may lie before bytes a direct
    // read dated meanwhile: it is moved up to them, so that a reader never sees a negative gap,
    // which the wrapping tick would turn into a long silence.
    uint32_t Dated(uint32_t Tick, bool NotBeforeLast = false);
    void Date(size_t Count, uint32_t Tick);
    static void Note(TRxArrivals* Arrivals, size_t Offset, uint32_t Tick);

    std::string FData; // queued bytes from FHead on
    size_t FHead = 0;
    std::deque<TRun> FRuns; // the queued bytes by arrival, oldest first
    size_t FCapacity = 1024;
    size_t FFullMark = 820;
    bool FDiscardNull = false;
    char FEvtChar = 0;
    std::function<uint32_t()> FClock;
    bool FWatching = true;
    uint32_t FStoppedAt = 0;
    size_t FBacklog = 0;
    uint32_t FBacklogTick = 0;
    bool FDated = false;
    uint32_t FLastDate = 0;
};
