// What wakes the event thread of the POSIX serial device besides the line itself: the wake-up
// descriptor that its poll() watches (stop requests, new writes, room in the input queue, flags
// raised elsewhere), and the modem-line thread, which blocks in TIOCMIWAIT where poll() cannot
// see the lines change.
#pragma once

#include "common/UniqueFd.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace comms_os {

// The descriptor that wakes the event thread's poll(): an eventfd, or a pipe where there is none.
class TWakeup {
public:
    bool Create();
    // Readable while a wake-up is pending.
    int Fd() const { return FRead.Get(); }
    void Signal() const;
    // Takes the pending wake-ups (after poll() reported Fd readable).
    void Drain() const;

private:
    TUniqueFd FRead;
#ifndef __linux__
    TUniqueFd FWrite;
#endif
};

// The modem-line thread: it waits in TIOCMIWAIT on the device and passes the EV_CTS, EV_DSR,
// EV_RING and EV_RLSD flags of every change to its callback, until Stop. Where the system has no
// TIOCMIWAIT, Start does nothing.
class TModemWatch {
public:
    TModemWatch() = default;
    TModemWatch(const TModemWatch&) = delete;
    TModemWatch& operator=(const TModemWatch&) = delete;
    ~TModemWatch() { Stop(); }

    // Starts the thread on the device Fd, once; Changed runs on that thread.
    void Start(int Fd, std::function<void(uint32_t Flags)> Changed);
    // Ends the thread and waits for it.
    void Stop();

private:
    void Run();

    int FFd = -1;
    std::function<void(uint32_t)> FChanged;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::mutex FLock;
    std::condition_variable FEndedChanged;
    bool FEnded = false;
};

} // namespace comms_os
