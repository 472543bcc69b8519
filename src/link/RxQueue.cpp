#include "link/RxQueue.h"

#include "link/CommSettings.h"

#include <algorithm>
#include <cstring>

void TRxQueue::SetSize(uint32_t ReadSize) {
    FCapacity = std::max<size_t>(ReadSize, kMinCapacity);
    FFullMark = ReadSize == 0 ? 0 : static_cast<size_t>((static_cast<uint64_t>(ReadSize) * 4 + 4) / 5);
}

bool TRxQueue::Filter(std::string& Str, const char* Data, size_t Size) const {
    const size_t start = Str.size();
    if (FDiscardNull) {
        for (size_t i = 0; i < Size; ++i)
            if (Data[i] != '\0')
                Str.push_back(Data[i]);
    } else {
        Str.append(Data, Size);
    }
    return std::memchr(Str.data() + start, FEvtChar, Str.size() - start) != nullptr;
}

uint32_t TRxQueue::Receive(const char* Data, size_t Size) {
    const size_t before = Queued();
    uint32_t flags = Filter(FData, Data, Size) ? EV_RXFLAG : 0;
    const size_t after = Queued();
    if (after > before)
        flags |= EV_RXCHAR;
    if (FFullMark != 0 && before < FFullMark && after >= FFullMark)
        flags |= EV_RX80FULL;
    return flags;
}

void TRxQueue::Take(std::string& Str, size_t Want) {
    if (Str.size() >= Want)
        return;
    const size_t n = std::min(Want - Str.size(), Queued());
    if (n == 0)
        return;
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
}
