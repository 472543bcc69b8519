#include "link/TxQueue.h"

#include <algorithm>

void TTxQueue::Push(TTxRecord* Record, const std::string& Data, size_t Offset) {
    Record->Data = Data;
    Record->Offset = Offset;
    Record->Finished = false;
    Record->Error = 0;
    FQueue.push_back(Record);
}

void TTxQueue::Expire(TTxRecord* Record) {
    FQueue.erase(std::remove(FQueue.begin(), FQueue.end(), Record), FQueue.end());
    Finish(Record, 0);
}

void TTxQueue::FailAll(int Error) {
    for (TTxRecord* record : FQueue)
        Finish(record, Error);
    FQueue.clear();
}

void TTxQueue::Finish(TTxRecord* Record, int Error) {
    Record->Finished = true;
    Record->Error = Error;
    Record->Count = Record->Offset;
    std::string().swap(Record->Data); // a finished record may wait long for its release
}
