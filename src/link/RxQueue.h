// The port's own input queue, filled by the event thread and emptied by reads. It sizes itself
// from ReadBufSize, marks the 80 % level for EV_RX80FULL, drops NULs and spots the event character
// as the line settings ask. Not locked: the device holds its receive lock around every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

    size_t Queued() const { return FData.size() - FHead; }
    size_t Capacity() const { return FCapacity; }
    bool Full() const { return Queued() >= FCapacity; }
    size_t Room() const { return Full() ? 0 : FCapacity - Queued(); }

    // Appends received bytes (filtered); the EV_* flags they raise: EV_RXCHAR when a byte was
    // queued, EV_RXFLAG for the event character, EV_RX80FULL when the 80 % mark is crossed.
    uint32_t Receive(const char* Data, size_t Size);
    // Appends the filtered bytes to Str itself (a read that bypasses the queue); true when the
    // event character was among them.
    bool Filter(std::string& Str, const char* Data, size_t Size) const;
    // Moves the oldest bytes to Str until it holds Want bytes or the queue is empty.
    void Take(std::string& Str, size_t Want);
    void Clear();

private:
    std::string FData; // queued bytes from FHead on
    size_t FHead = 0;
    size_t FCapacity = 1024;
    size_t FFullMark = 820;
    bool FDiscardNull = false;
    char FEvtChar = 0;
};
