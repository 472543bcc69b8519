// The writes the driver could not take at once, kept in the order they were started and handed
// over oldest first as the driver makes room. The write itself is the platform's; a record is
// finished when all of it went out, when the line failed, or when its time ran out. Not locked:
// the device holds its send lock around every call.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

struct TTxRecord {
    std::string Data;  // the bytes of a write still running
    size_t Offset = 0; // how many of Data the driver has taken
    size_t Count = 0;  // the result of a finished write
    bool Finished = false;
    int Error = 0;
};

// One attempt of the platform to write: how many bytes it took, whether it would block now, or
// the error that ended it.
struct TWriteStep {
    size_t Bytes = 0;
    bool Blocked = false;
    int Error = 0;
};

class TTxQueue {
public:
    bool Empty() const { return FQueue.empty(); }
    size_t Size() const { return FQueue.size(); }
    TTxRecord* Front() const { return FQueue.empty() ? nullptr : FQueue.front(); }

    // Queues the rest of Data from Offset on.
    void Push(TTxRecord* Record, const std::string& Data, size_t Offset);
    // Hands queued bytes to Write, oldest record first; true when the queue is empty afterwards
    // (all written, or all failed with the write's error).
    template <class TWrite> bool Flush(TWrite&& Write) {
        while (!FQueue.empty()) {
            TTxRecord* record = FQueue.front();
            while (record->Offset < record->Data.size()) {
                const TWriteStep step =
                    Write(record->Data.data() + record->Offset, record->Data.size() - record->Offset);
                record->Offset += step.Bytes;
                if (step.Error != 0) {
                    FailAll(step.Error);
                    return true;
                }
                if (step.Blocked)
                    return false;
            }
            Finish(record, 0);
            FQueue.pop_front();
        }
        return true;
    }
    // Ends one record early (its time ran out) with what was written so far.
    void Expire(TTxRecord* Record);
    // Ends every record with Error (a purge, a lost line).
    void FailAll(int Error);

    static void Finish(TTxRecord* Record, int Error);

private:
    std::deque<TTxRecord*> FQueue;
};
