#include "link/RxQueue.h"

#include "link/CommSettings.h"

#include <algorithm>
#include <chrono>
#include <cstring>

uint32_t SteadyTick() {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count()); // wraps like the system tick count
}

void TRxQueue::SetSize(uint32_t ReadSize) {
    FCapacity = std::max<size_t>(ReadSize, kMinCapacity);
    FFullMark = ReadSize == 0 ? 0 : static_cast<size_t>((static_cast<uint64_t>(ReadSize) * 4 + 4) / 5);
}

void TRxQueue::StopWatching() {
    if (!FWatching)
        return;
    FWatching = false;
    FStoppedAt = Now();
}

void TRxQueue::ResumeWatching(size_t Backlog) {
    if (FWatching)
        return;
    FWatching = true;
    FBacklog = Backlog;
    FBacklogTick = FStoppedAt;
}

void TRxQueue::Note(TRxArrivals* Arrivals, size_t Offset, uint32_t Tick) {
    if (Arrivals == nullptr)
        return;
    if (!Arrivals->empty() && Arrivals->back().Tick == Tick)
        return; // one arrival as far as the clock can tell
    Arrivals->push_back({Offset, Tick});
}

uint32_t TRxQueue::Dated(uint32_t Tick, bool NotBeforeLast) {
    if (NotBeforeLast && FDated && static_cast<int32_t>(Tick - FLastDate) < 0)
        Tick = FLastDate;
    FDated = true;
    FLastDate = Tick;
    return Tick;
}

bool TRxQueue::Filter(std::string& Str, const char* Data, size_t Size, TRxArrivals* Arrivals) {
    const size_t start = Str.size();
    if (FDiscardNull) {
        for (size_t i = 0; i < Size; ++i)
            if (Data[i] != '\0')
                Str.push_back(Data[i]);
    } else {
        Str.append(Data, Size);
    }
    if (Arrivals != nullptr && Str.size() > start)
        Note(Arrivals, start, Dated(Now()));
    return std::memchr(Str.data() + start, FEvtChar, Str.size() - start) != nullptr;
}

void TRxQueue::Date(size_t Count, uint32_t Tick) {
    if (!FRuns.empty() && FRuns.back().Tick == Tick)
        FRuns.back().Count += Count;
    else
        FRuns.push_back({Count, Tick});
}

uint32_t TRxQueue::Receive(const char* Data, size_t Size) {
    const size_t before = Queued();
    // Bytes that waited in the driver while nobody watched come first.
    const size_t backlog = std::min(FBacklog, Size);
    FBacklog -= backlog;
    uint32_t flags = Filter(FData, Data, backlog) ? EV_RXFLAG : 0;
    if (Queued() > before)
        Date(Queued() - before, Dated(FBacklogTick, true));
    const size_t middle = Queued();
    if (Filter(FData, Data + backlog, Size - backlog))
        flags |= EV_RXFLAG;
    const size_t after = Queued();
    if (after > middle)
        Date(after - middle, Dated(Now()));
    if (after > before)
        flags |= EV_RXCHAR;
    if (FFullMark != 0 && before < FFullMark && after >= FFullMark)
        flags |= EV_RX80FULL;
    return flags;
}

void TRxQueue::Take(std::string& Str, size_t Want, TRxArrivals* Arrivals) {
    if (Str.size() >= Want)
        return;
    const size_t n = std::min(Want - Str.size(), Queued());
    if (n == 0)
        return;
    for (size_t left = n; left > 0;) {
        TRun& run = FRuns.front();
        const size_t part = std::min(left, run.Count);
        Note(Arrivals, Str.size() + (n - left), run.Tick);
        run.Count -= part;
        left -= part;
        if (run.Count == 0)
            FRuns.pop_front();
    }
    Str.append(FData, FHead, n);
    FHead += n;
    if (FHead == FData.size()) {
        FData.clear();
        FHead = 0;
    } else if (FHead >= 65536 && FHead * 2 >= FData.size()) {
        // Taking from the front is cheap; the dead front is dropped once it outweighs the rest.
        FData.erase(0, FHead);
        FHead = 0;
    }
}

void TRxQueue::Clear() {
    FData.clear();
    FHead = 0;
    FRuns.clear();
}
