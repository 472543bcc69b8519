// The operating-system layer under TComPort. Comms.cpp calls only what is declared here; each
// platform implements it in files of its own (Comms_posix.cpp: the device over poll, ioctl and
// eventfd; Comms_posix_termios.cpp: port names and line settings; Comms_win32.cpp: overlapped
// I/O on a COM handle). Results carry the platform's own error codes; the messages
// are made by the portable port.
#pragma once

#include "link/CommSettings.h"
#include "link/RxQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace comms_os {

// The platform's codes for the two failures the portable port finds itself: an operation on a
// port that is not open, and an open of a port this program holds already.
extern const int kErrorNotOpen;
extern const int kErrorInUse;

// The system's text for an error code, without trailing blanks, control characters and full stops.
std::string SystemErrorText(int Code);

// The device a port name stands for (the platform's files give the naming rules).
std::string DevicePath(const std::string& Port);

// The record of one read or write; made for every operation and released by the port once the
// operation is known to be finished or has been aborted.
struct TPendingOp;
TPendingOp* NewOp();
void ReleaseOp(TPendingOp* Op);

struct TOpResult {
    enum TStatus { Done, Pending, Failed };
    TStatus Status = Done;
    int Count = 0; // bytes transferred (Done)
    int Error = 0; // error code (Failed)
};

// One wake-up of the event thread.
struct TLineEvents {
    bool Stopped = false; // a stop was asked for: the event thread ends
    uint32_t Flags = 0;   // EV_* flags that occurred, limited to the enabled ones
    int LostError = 0;    // reported once: the line went away (hang-up, vanished adapter)
};

class TComDevice {
public:
    virtual ~TComDevice() = default;

    // Settings; each returns 0 or an error code.
    virtual int SetQueueSizes(uint32_t ReadSize, uint32_t WriteSize) = 0;
    virtual int SetState(const TDCB& DCB) = 0;
    virtual int SetTimeouts(const TCommTimeouts& Timeouts) = 0;

    // Bytes waiting to be read; returns 0 or an error code.
    virtual int InputCount(int& Count) = 0;
    // Starts a write of all of Data with Op. Done: all bytes were handed over at once; Pending:
    // the rest is written later, in order, and WaitOp can wait for it.
    virtual TOpResult StartWrite(TPendingOp* Op, const std::string& Data) = 0;
    // Reads up to Count bytes into Str (replacing its content); Arrivals, when given, gets when the
    // bytes reached the line.
    virtual TOpResult StartRead(TPendingOp* Op, std::string& Str, int Count, bool Wait, TRxArrivals* Arrivals) = 0;
    // The clock that dates received bytes (called on the device's reading thread); null: the
    // steady clock.
    virtual void SetTickSource(std::function<uint32_t()> Source) = 0;
    // Waits until the operation of Op has finished (bounded by the write timeouts when they set
    // a limit) and gives its result.
    virtual TOpResult WaitOp(TPendingOp* Op) = 0;
    // Aborts pending writes and clears both directions; the pending operations' records are no
    // longer referred to afterwards, even when an error code is returned.
    virtual int Purge() = 0;

    // Event thread side: the flags to report (set before the first wait), the wait itself, and
    // the stop request, which may come from any thread.
    virtual void SetEventMask(uint32_t Mask) = 0;
    virtual TLineEvents WaitEvents() = 0;
    // The handlers of a batch have returned (called on the thread that ran them): the event thread
    // is as good as back on the line, so bytes arriving from now on are dated when they come.
    virtual void Delivered() = 0;
    virtual void RequestStop() = 0;
    virtual bool StopRequested() const = 0;
    virtual uint64_t Wakeups() const = 0;
};

// True while this program holds the port open (in any process). Where the open itself refuses a
// held port (POSIX: the lock and TIOCEXCL), always false.
bool PortLocked(const std::string& Port);

// Opens the device named by Port for exclusive use; nullptr and Error set on failure.
std::unique_ptr<TComDevice> OpenDevice(const std::string& Port, int& Error);

} // namespace comms_os
