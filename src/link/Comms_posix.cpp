// The POSIX device under the serial port: exclusive open, the port's own input queue filled by the
// event thread, writes that the driver could not take at once finished in order, and the event wait:
// poll() on the device and a wake-up descriptor (stop and wake commands), never a timed loop.
// Modem-line changes come from a small second thread blocked in TIOCMIWAIT, where the driver has
// modem lines; it and the wake-up descriptor live in Comms_posix_wait.cpp. Port names and line
// settings are turned into POSIX terms in Comms_posix_termios.cpp.
#include "link/Comms_posix.h"
#include "common/UniqueFd.h"
#include "link/CommDevice.h"
#include "link/Comms_posix_wait.h"
#include "link/LineEvents.h"
#include "link/ReadWait.h"
#include "link/RxQueue.h"
#include "link/TxQueue.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace comms_os {

const int kErrorNotOpen = EBADF;
const int kErrorInUse = EBUSY;

namespace {

using Clock = std::chrono::steady_clock;

// Readiness that repeatedly yields no byte would make poll() spin; after this many empty wake-ups
// in a row the line is taken as gone.
constexpr unsigned kEmptyWakeupLimit = 1000;
constexpr uint32_t kModemFlags = EV_CTS | EV_DSR | EV_RING | EV_RLSD;

// strerror_r comes in two shapes (GNU and XSI); take the text from either.
[[maybe_unused]] const char* ErrorTextOf(int Result, const char* Buffer) {
    return Result == 0 ? Buffer : "Unknown error";
}
[[maybe_unused]] const char* ErrorTextOf(const char* Result, const char*) {
    return Result;
}

bool LineGone(int Error) {
    return Error == EIO || Error == ENXIO || Error == ENODEV;
}

} // namespace

// A write's record in the transmit queue, with the time its write timeouts give it.
struct TPendingOp : TTxRecord {
    bool HasDeadline = false;
    Clock::time_point Deadline{};
};

TPendingOp* NewOp() {
    return new TPendingOp;
}

void ReleaseOp(TPendingOp* Op) {
    delete Op;
}

std::string SystemErrorText(int Code) {
    char buffer[256] = {};
    std::string text = ErrorTextOf(::strerror_r(Code, buffer, sizeof buffer), buffer);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

namespace {

class TPosixDevice final : public TComDevice {
public:
    TPosixDevice(TUniqueFd Fd, TWakeup Wakeup, const termios& Saved, bool ModemLines)
        : FFd(std::move(Fd)), FWakeup(std::move(Wakeup)), FSaved(Saved), FModemLines(ModemLines) {}

    ~TPosixDevice() override {
        FModemWatch.Stop();
        // Hand the line back as it was found; errors do not matter any more (a hung-up line
        // refuses everything).
        ::tcsetattr(FFd.Get(), TCSANOW, &FSaved);
        ::ioctl(FFd.Get(), TIOCNXCL);
        // Closing the descriptor releases the flock.
    }

    int SetQueueSizes(uint32_t ReadSize, uint32_t) override {
        // The driver's queues have fixed sizes here; ReadBufSize sizes the port's own input queue.
        std::lock_guard lock(FRxLock);
        FRx.SetSize(ReadSize);
        ResumeReadingLocked();
        return 0;
    }

    int SetState(const TDCB& DCB) override {
        termios tio{};
        if (::tcgetattr(FFd.Get(), &tio) != 0)
            return errno;
        if (const int error = TermiosFromDCB(DCB, tio); error != 0)
            return error;
        if (::tcsetattr(FFd.Get(), TCSANOW, &tio) != 0)
            return errno;
        {
            std::lock_guard lock(FRxLock);
            FRx.SetFilter(DCB.fNull != 0, DCB.EvtChar);
        }
        // DTR and RTS levels; a line without modem lines (a pseudo-terminal) has nothing to set.
        int dtr = TIOCM_DTR;
        if (::ioctl(FFd.Get(), DCB.fDtrControl == dtrDisable ? TIOCMBIC : TIOCMBIS, &dtr) != 0 && !NoModemLines(errno))
            return errno;
        // rtsToggle has no counterpart here: RTS stays at its idle (low) level.
        int rts = TIOCM_RTS;
        const bool raiseRts = DCB.fRtsControl == rtsEnable || DCB.fRtsControl == rtsHandshake;
        if (::ioctl(FFd.Get(), raiseRts ? TIOCMBIS : TIOCMBIC, &rts) != 0 && !NoModemLines(errno))
            return errno;
        return 0;
    }

    int SetTimeouts(const TCommTimeouts& Timeouts) override {
        // Nothing to tell the driver: reads and writes here apply the timeouts themselves.
        std::lock_guard lock(FTimeoutLock);
        FTimeouts = Timeouts;
        return 0;
    }

    int InputCount(int& Count) override {
        ServiceWritesIfUnwatched();
        std::lock_guard lock(FRxLock);
        size_t count = FRx.Queued();
        if (!FWatched.load() && !FEvents.Lost()) {
            // No event thread reads the device: what waits in the driver is the input queue.
            int waiting = 0;
            if (::ioctl(FFd.Get(), FIONREAD, &waiting) != 0)
                return errno;
            count += static_cast<size_t>(std::max(waiting, 0));
        }
        Count = static_cast<int>(std::min<size_t>(count, INT_MAX));
        return 0;
    }

    TOpResult StartWrite(TPendingOp* Op, const std::string& Data) override {
        if (Data.empty())
            return {TOpResult::Done, 0, 0};
        std::unique_lock lock(FTxLock);
        SetDeadline(Op, Data.size());
        size_t written = 0;
        if (FTx.Empty()) {
            while (written < Data.size()) {
                const ssize_t n = ::write(FFd.Get(), Data.data() + written, Data.size() - written);
                if (n > 0) {
                    written += static_cast<size_t>(n);
                    continue;
                }
                if (n < 0 && errno == EINTR)
                    continue;
                if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK)
                    break;
                return {TOpResult::Failed, 0, errno};
            }
            if (written == Data.size()) {
                lock.unlock();
                NoteTxEmpty();
                return {TOpResult::Done, ClampCount(written), 0};
            }
        }
        // The driver is full (or earlier writes still wait): the rest goes out later, in order.
        FTx.Push(Op, Data, written);
        if (!FWatched.load()) {
            if (FlushTxLocked() && Op->Finished && Op->Error == 0) {
                lock.unlock();
                NoteTxEmpty();
                return {TOpResult::Done, ClampCount(Op->Count), 0};
            }
            return {TOpResult::Pending, 0, 0};
        }
        lock.unlock();
        FWakeup.Signal(); // the event thread adds POLLOUT to its wait
        return {TOpResult::Pending, 0, 0};
    }

    void SetTickSource(std::function<uint32_t()> Source) override {
        std::lock_guard lock(FRxLock);
        FRx.SetClock(std::move(Source));
    }

    TOpResult StartRead(TPendingOp*, std::string& Str, int Count, bool Wait, TRxArrivals* Arrivals) override {
        if (Arrivals != nullptr)
            Arrivals->clear();
        Str.clear();
        if (Count <= 0)
            return {TOpResult::Done, 0, 0};
        ServiceWritesIfUnwatched();
        const size_t want = static_cast<size_t>(Count);
        std::unique_lock lock(FRxLock);
        // The queue holds older bytes than the driver: take it first, then the driver, under one
        // lock so that the event thread cannot put bytes in between.
        TakeQueuedLocked(Str, want, Arrivals);
        if (Str.size() < want && !FEvents.Lost()) {
            const int error = ReadDeviceLocked(Str, want, Arrivals);
            if (error != 0 && Str.empty())
                return {TOpResult::Failed, 0, error};
        }
        if (Str.empty() && FEvents.Lost())
            return {TOpResult::Failed, 0, FEvents.LostError()};
        if (!Wait || Str.size() >= want)
            return {TOpResult::Done, ClampCount(Str.size()), 0};

        TCommTimeouts timeouts;
        {
            std::lock_guard timeoutLock(FTimeoutLock);
            timeouts = FTimeouts;
        }
        const TReadWait wait = ReadWaitFor(timeouts, want);
        const bool firstByteEnds = wait.FirstByteEnds;
        if (wait.AtOnce || (firstByteEnds && !Str.empty()))
            return {TOpResult::Done, ClampCount(Str.size()), 0};
        const bool hasTotal = wait.TotalMs != 0;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(wait.TotalMs);
        const bool hasInterval = wait.IntervalMs != 0;
        const auto interval = std::chrono::milliseconds(wait.IntervalMs);

        // This thread reads the device itself while it waits; the event thread keeps off.
        ++FDirectReaders;
        Clock::time_point lastByte = Clock::now();
        for (;;) {
            const Clock::time_point now = Clock::now();
            Clock::time_point until = Clock::time_point::max();
            if (hasTotal)
                until = deadline;
            if (hasInterval && !Str.empty())
                until = std::min(until, lastByte + interval);
            if (until <= now)
                break;
            const int timeout = until == Clock::time_point::max() ? -1 : MillisecondsUntil(until, now);
            lock.unlock();
            pollfd fd{FFd.Get(), POLLIN, 0};
            const int ready = ::poll(&fd, 1, timeout);
            lock.lock();
            if (ready < 0 && errno != EINTR)
                break;
            const size_t before = Str.size();
            TakeQueuedLocked(Str, want, Arrivals); // bytes the event thread took when the line hung up
            if (Str.size() < want && !FEvents.Lost() && ReadDeviceLocked(Str, want, Arrivals) != 0)
                break;
            if (Str.size() > before)
                lastByte = Clock::now();
            if (Str.size() >= want || (firstByteEnds && !Str.empty()) || FEvents.Lost())
                break;
            if (ready > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
                break;
        }
        --FDirectReaders;
        lock.unlock();
        if (FWatched.load())
            FWakeup.Signal(); // the event thread polls for input again
        return {TOpResult::Done, ClampCount(Str.size()), 0};
    }

    TOpResult WaitOp(TPendingOp* Op) override {
        std::unique_lock lock(FTxLock);
        // This thread hands the queued bytes over itself while it waits; the event thread keeps
        // off (it may be blocked in a delivery to this very thread).
        ++FDirectWriters;
        const bool hadQueue = !FTx.Empty();
        while (!Op->Finished) {
            FlushTxLocked();
            if (Op->Finished)
                break;
            int timeout = -1;
            if (Op->HasDeadline) {
                const Clock::time_point now = Clock::now();
                if (Op->Deadline <= now) {
                    // The write timeouts ran out: the operation ends with what was written.
                    FTx.Expire(Op);
                    break;
                }
                timeout = MillisecondsUntil(Op->Deadline, now);
            }
            lock.unlock();
            pollfd fd{FFd.Get(), POLLOUT, 0};
            const int ready = ::poll(&fd, 1, timeout);
            lock.lock();
            if (ready < 0 && errno != EINTR) {
                FTx.FailAll(errno);
                break;
            }
            if (ready > 0 && (fd.revents & POLLOUT) == 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                FTx.FailAll((fd.revents & POLLNVAL) != 0 ? EBADF : EIO);
                break;
            }
        }
        --FDirectWriters;
        const bool emptied = hadQueue && FTx.Empty();
        const bool more = !FTx.Empty();
        lock.unlock();
        if (emptied && Op->Error == 0)
            NoteTxEmpty();
        else if (more && FWatched.load())
            FWakeup.Signal();
        if (Op->Error != 0)
            return {TOpResult::Failed, 0, Op->Error};
        return {TOpResult::Done, ClampCount(Op->Count), 0};
    }

    int Purge() override {
        int error = 0;
        // A line that has gone away has nothing left to abort.
        if (!FEvents.Lost() && ::tcflush(FFd.Get(), TCIOFLUSH) != 0 && !LineGone(errno))
            error = errno;
        {
            std::lock_guard lock(FTxLock);
            FTx.FailAll(ECANCELED);
        }
        {
            std::lock_guard lock(FRxLock);
            FRx.Clear();
            ResumeReadingLocked();
        }
        return error;
    }

    void SetEventMask(uint32_t Mask) override {
        FEvents.SetMask(Mask);
        FWatched = true;
        if (FModemLines && (Mask & kModemFlags) != 0)
            FModemWatch.Start(FFd.Get(), [this](uint32_t Flags) {
                if (FEvents.Raise(Flags))
                    FWakeup.Signal();
            });
    }

    TLineEvents WaitEvents() override {
        TLineEvents result;
        for (;;) {
            if (FStop.load())
                return {true, 0, 0};
            const uint32_t mask = FEvents.Mask();
            // Flags raised by writers and by the modem-line thread.
            uint32_t flags = FEvents.Collect();
            if (flags != 0) {
                result.Flags = flags;
                LeaveLine();
                return result;
            }

            pollfd fds[2] = {{FWakeup.Fd(), POLLIN, 0}, {FFd.Get(), 0, 0}};
            nfds_t count = 1;
            if (!FEvents.Lost()) {
                // A lost line is parked: only the wake-up descriptor is watched, so a hung-up
                // device (always readable) cannot make the thread spin.
                short wanted = 0;
                {
                    std::lock_guard lock(FRxLock);
                    // Input is read only while the queue has room and no thread reads directly.
                    const bool reading = FDirectReaders == 0 && !FRx.Full();
                    FRxParked = FDirectReaders == 0 && !reading;
                    if (reading)
                        wanted |= POLLIN;
                    WatchLineLocked(reading);
                }
                {
                    std::lock_guard lock(FTxLock);
                    if (!FTx.Empty() && FDirectWriters == 0)
                        wanted |= POLLOUT;
                }
                fds[1].events = wanted;
                count = 2;
            }
            const int ready = ::poll(fds, count, -1);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                // poll() itself failed (out of memory): report it once as the loss of the line;
                // should it fail again, end the thread rather than spin.
                const int error = errno;
                if (!FEvents.MarkLost(error))
                    return {true, 0, 0};
                return {false, EV_ERR & mask, error};
            }
            FWakeups.fetch_add(1, std::memory_order_relaxed);
            if ((fds[0].revents & POLLIN) != 0)
                FWakeup.Drain();
            if (count == 2 && fds[1].revents != 0) {
                const short events = fds[1].revents;
                const bool hangup = (events & (POLLHUP | POLLERR | POLLNVAL)) != 0;
                int lost = 0;
                if ((events & (POLLIN | POLLHUP | POLLERR)) != 0) {
                    const TReadResult read = ReadIntoQueue(hangup);
                    flags |= read.Flags;
                    lost = read.Error;
                    if (read.Bytes != 0)
                        FEmptyWakeups = 0;
                    else if (!hangup && lost == 0 && (events & POLLIN) != 0 && ++FEmptyWakeups >= kEmptyWakeupLimit)
                        lost = EIO;
                }
                if ((events & POLLOUT) != 0) {
                    std::lock_guard lock(FTxLock);
                    if (FDirectWriters == 0 && !FTx.Empty() && FlushTxLocked())
                        flags |= EV_TXEMPTY;
                }
                if (hangup && lost == 0)
                    lost = (events & POLLNVAL) != 0 ? EBADF : EIO;
                if (lost != 0) {
                    // Bytes read before the loss still go out with EV_RXCHAR, ahead of EV_ERR.
                    FEvents.MarkLost(lost);
                    {
                        std::lock_guard lock(FTxLock);
                        FTx.FailAll(lost);
                    }
                    flags |= EV_ERR;
                    result.LostError = lost;
                }
            }
            flags &= mask;
            if (flags != 0 || result.LostError != 0) {
                result.Flags = flags;
                LeaveLine();
                return result;
            }
        }
    }

    void Delivered() override {
        std::lock_guard lock(FRxLock);
        WatchLineLocked(FDirectReaders == 0 && !FRx.Full());
    }

    void RequestStop() override {
        FStop = true;
        FWakeup.Signal();
    }

    bool StopRequested() const override { return FStop.load(); }

    uint64_t Wakeups() const override { return FWakeups.load(std::memory_order_relaxed); }

private:
    struct TReadResult {
        uint32_t Flags = 0;
        size_t Bytes = 0;
        int Error = 0;
    };

    static bool NoModemLines(int Error) { return Error == ENOTTY || Error == EINVAL; }

    static int ClampCount(size_t Count) { return static_cast<int>(std::min<size_t>(Count, INT_MAX)); }

    static int MillisecondsUntil(Clock::time_point Until, Clock::time_point Now) {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(Until - Now).count();
        return static_cast<int>(std::clamp<decltype(ms)>(ms, 0, INT_MAX));
    }

    void SetDeadline(TPendingOp* Op, size_t Size) {
        TCommTimeouts timeouts;
        {
            std::lock_guard lock(FTimeoutLock);
            timeouts = FTimeouts;
        }
        const uint64_t total =
            static_cast<uint64_t>(timeouts.WriteTotalTimeoutMultiplier) * Size + timeouts.WriteTotalTimeoutConstant;
        Op->HasDeadline = total != 0;
        if (Op->HasDeadline)
            Op->Deadline = Clock::now() + std::chrono::milliseconds(std::min<uint64_t>(total, 1ull << 40));
    }

    // ---- receive side ----

    // The event thread goes to deliver: until it polls again, bytes wait in the driver undated.
    void LeaveLine() {
        std::lock_guard lock(FRxLock);
        FRx.StopWatching();
    }

    // Whether the event thread reads the device in its next poll; when it starts again, what waits
    // in the driver came while nobody watched.
    void WatchLineLocked(bool Reading) {
        if (!Reading) {
            FRx.StopWatching();
            return;
        }
        if (FRx.Watching())
            return;
        int waiting = 0;
        if (::ioctl(FFd.Get(), FIONREAD, &waiting) != 0)
            waiting = 0;
        FRx.ResumeWatching(static_cast<size_t>(std::max(waiting, 0)));
    }

    void ResumeReadingLocked() {
        if (FRxParked && !FRx.Full()) {
            FRxParked = false;
            FWakeup.Signal();
        }
    }

    void TakeQueuedLocked(std::string& Str, size_t Want, TRxArrivals* Arrivals) {
        FRx.Take(Str, Want, Arrivals);
        ResumeReadingLocked();
    }

    // Reads what the driver has, up to Want bytes in Str in all; 0 or an error code.
    int ReadDeviceLocked(std::string& Str, size_t Want, TRxArrivals* Arrivals) {
        char buffer[4096];
        while (Str.size() < Want) {
            const ssize_t n = ::read(FFd.Get(), buffer, std::min(sizeof buffer, Want - Str.size()));
            if (n > 0) {
                FRx.Filter(Str, buffer, static_cast<size_t>(n), Arrivals);
                continue;
            }
            if (n == 0)
                return 0; // nothing waiting (raw mode with VMIN = VTIME = 0)
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            return errno;
        }
        return 0;
    }

    // The event thread's read into the input queue: until the driver has no more or the queue
    // is full. After a hang-up everything left is taken, whatever the queue's size.
    TReadResult ReadIntoQueue(bool Hangup) {
        TReadResult result;
        std::lock_guard lock(FRxLock);
        if (FDirectReaders > 0 && !Hangup)
            return result;
        char buffer[4096];
        for (;;) {
            size_t room = sizeof buffer;
            if (!Hangup) {
                if (FRx.Full())
                    break;
                room = std::min(room, FRx.Room());
            }
            const ssize_t n = ::read(FFd.Get(), buffer, room);
            if (n > 0) {
                result.Bytes += static_cast<size_t>(n);
                result.Flags |= FRx.Receive(buffer, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                result.Error = errno; // EIO: the other end of a pseudo-terminal closed
            break;
        }
        return result;
    }

    // ---- send side ----

    // Hands queued bytes to the driver, oldest record first; true when the queue is empty.
    bool FlushTxLocked() {
        return FTx.Flush([this](const char* Data, size_t Size) -> TWriteStep {
            const ssize_t n = ::write(FFd.Get(), Data, Size);
            if (n > 0)
                return {static_cast<size_t>(n), false, 0};
            if (n < 0 && errno == EINTR)
                return {};
            if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK)
                return {0, true, 0};
            return {0, false, errno};
        });
    }

    void NoteTxEmpty() {
        if (FEvents.Raise(EV_TXEMPTY))
            FWakeup.Signal();
    }

    // Without an event thread nobody waits for the driver to take more: every call gives the
    // queued writes another chance.
    void ServiceWritesIfUnwatched() {
        if (FWatched.load())
            return;
        std::lock_guard lock(FTxLock);
        if (!FTx.Empty())
            FlushTxLocked();
    }

    TUniqueFd FFd;
    TWakeup FWakeup;
    const termios FSaved;
    const bool FModemLines;

    std::atomic<bool> FStop{false};
    std::atomic<bool> FWatched{false}; // an event thread reads the device
    TLineEventState FEvents;           // the enabled flags, those raised outside the wait, the lost line
    std::atomic<uint64_t> FWakeups{0};
    unsigned FEmptyWakeups = 0; // event thread only

    std::mutex FRxLock;
    TRxQueue FRx;
    int FDirectReaders = 0;
    bool FRxParked = false; // the event thread stopped reading because the queue is full

    std::mutex FTxLock;
    TTxQueue FTx; // writes still running, oldest first
    int FDirectWriters = 0;

    std::mutex FTimeoutLock;
    TCommTimeouts FTimeouts;

    TModemWatch FModemWatch;
};

} // namespace

bool PortLocked(const std::string&) {
    return false;
}

std::unique_ptr<TComDevice> OpenDevice(const std::string& Port, int& Error) {
    const std::string path = DevicePath(Port);
    TUniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) {
        Error = errno;
        return nullptr;
    }
    // The lock keeps out a second opener in this process and root, whom TIOCEXCL does not stop.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        Error = errno == EWOULDBLOCK ? EBUSY : errno;
        return nullptr;
    }
    termios saved{};
    if (::tcgetattr(fd.Get(), &saved) != 0) {
        Error = errno; // not a terminal: nothing a tracer can hang on
        return nullptr;
    }
    TWakeup wakeup;
    if (!wakeup.Create()) {
        Error = errno;
        return nullptr;
    }
    // TIOCEXCL makes every further open of the line fail with EBUSY, so a second program cannot
    // talk to the tracer behind our back. Some drivers do not know it.
    if (::ioctl(fd.Get(), TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) {
        Error = errno;
        return nullptr;
    }
    // Pseudo-terminals have no modem lines (ENOTTY or EINVAL): no modem events there.
    int lines = 0;
    const bool modemLines = ::ioctl(fd.Get(), TIOCMGET, &lines) == 0;
    return std::make_unique<TPosixDevice>(std::move(fd), std::move(wakeup), saved, modemLines);
}

} // namespace comms_os
