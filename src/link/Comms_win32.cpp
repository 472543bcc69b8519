// The Win32 device under the serial port. The handle is opened for overlapped I/O, and one thread
// of the device keeps a read pending on it at all times, waiting with WaitForMultipleObjects for
// that read, the oldest write still running and a wake-up event: received bytes go into the
// port's own input queue and raise EV_RXCHAR exactly as on POSIX, and the thread sleeps while
// nothing happens. WaitCommEvent serves only the modem-line flags, and only while they are
// enabled: some drivers refuse it (wine on a pseudo-terminal) or end it at once with no flag, which
// is taken as "no modem lines here" rather than waited for again, so the thread never spins.
#include "link/Comms_win32.h"
#include "link/CommDevice.h"
#include "link/LineEvents.h"
#include "link/ReadWait.h"
#include "link/RxQueue.h"

#include "common/Text.h"
#include "common/Win32Handle.h"
#include "common/Win32Text.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include <windows.h>

namespace comms_os {

const int kErrorNotOpen = ERROR_INVALID_HANDLE;
const int kErrorInUse = ERROR_ACCESS_DENIED;

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kModemFlags = EV_CTS | EV_DSR | EV_RING | EV_RLSD;
// A read that keeps completing with no byte would make the thread spin; after this many in a row
// the line is taken as gone.
constexpr unsigned kEmptyReadLimit = 1000;

// A write still running or waiting for its turn: the record the system fills in, its event, and
// the bytes it reads from. Shared between the port's record and the device, so that neither
// outlives the system's use.
struct TWrite {
    OVERLAPPED Ov{};
    std::string Data;
    bool Started = false; // handed to the driver
    bool Finished = false;
    DWORD Count = 0;
    DWORD Error = 0;
    THandle Event{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    TWrite() { Ov.hEvent = Event.Get(); }
    TWrite(const TWrite&) = delete;
    TWrite& operator=(const TWrite&) = delete;
};

int ClampCount(size_t Count) {
    return static_cast<int>(std::min<size_t>(Count, INT_MAX));
}

} // namespace

struct TPendingOp {
    std::shared_ptr<TWrite> Write;
};

TPendingOp* NewOp() {
    return new TPendingOp;
}

void ReleaseOp(TPendingOp* Op) {
    delete Op;
}

std::string SystemErrorText(int Code) {
    return Win32ErrorText(static_cast<DWORD>(Code));
}

// COMn (any case), \\.\COMn and //./COMn open \\.\COMn; a settings file from a Linux workstation
// names /dev/ttySn, which is COM(n+1) here. Anything else is taken as the system's own name.
std::string DevicePath(const std::string& Port) {
    std::string_view name = Port;
    if (name.substr(0, 4) == "//./" || name.substr(0, 4) == "\\\\.\\")
        name.remove_prefix(4);
    if (name.substr(0, 9) == "/dev/ttyS" && name.size() > 9 && name.size() <= 18 &&
        std::all_of(name.begin() + 9, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return "\\\\.\\COM" + std::to_string(std::stoul(std::string(name.substr(9))) + 1);
    if (name.size() > 3 && StartsWithTextAscii(name, "com"))
        return "\\\\.\\COM" + std::string(name.substr(3));
    return Port;
}

uint32_t LineErrorEvents(uint32_t Errors) {
    uint32_t events = 0;
    if ((Errors & CE_BREAK) != 0)
        events |= EV_BREAK;
    if ((Errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY | CE_RXOVER)) != 0)
        events |= EV_ERR;
    return events;
}

uint32_t ModemWaitEvents(uint32_t Mask) {
    return Mask & kModemFlags;
}

namespace {

// The name of the lock that marks a port as taken by this program. The system refuses a second
// open of a COM port by itself; the lock also holds where it does not (wine), and lets the port
// list tell a port in use without opening it.
std::wstring PortLockName(const std::string& DevicePath) {
    std::wstring name = L"Local\\TracerInterface.Port.";
    for (const char c : DevicePath)
        name += (c == '\\') ? L'_' : static_cast<wchar_t>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

class TWin32Device final : public TComDevice {
public:
    TWin32Device(HANDLE Handle, HANDLE PortLock) : FDevice(Handle), FPortLock(PortLock), FHandle(Handle) {
        FReadOv.hEvent = FReadEvent.Get();
        FModemOv.hEvent = FModemEvent.Get();
    }

    bool Start() {
        if (!FWake || !FReadOv.hEvent || !FModemOv.hEvent)
            return false;
        FIoThread = std::thread([this] { IoLoop(); });
        return true;
    }

    ~TWin32Device() override {
        if (FIoThread.joinable()) {
            FIoStop = true;
            ::SetEvent(FWake);
            FIoThread.join();
        }
        // Nothing of the system may still write into these records once they go.
        ::CancelIoEx(FHandle, nullptr);
        DWORD n = 0;
        if (FReadPending)
            ::GetOverlappedResult(FHandle, &FReadOv, &n, TRUE);
        if (FModemPending)
            ::GetOverlappedResult(FHandle, &FModemOv, &n, TRUE);
        for (const auto& write : FWrites)
            if (write->Started && !write->Finished)
                ::GetOverlappedResult(FHandle, &write->Ov, &n, TRUE);
        // The members close the device, the port's lock and the events.
    }

    int SetQueueSizes(uint32_t ReadSize, uint32_t WriteSize) override {
        if (!::SetupComm(FHandle, std::max<DWORD>(ReadSize, 64), std::max<DWORD>(WriteSize, 64)))
            return static_cast<int>(::GetLastError());
        std::lock_guard lock(FRxLock);
        FRxQueue.SetSize(ReadSize);
        ::SetEvent(FWake); // the queue may have room again
        return 0;
    }

    int SetState(const TDCB& Settings) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(FHandle, &dcb))
            return static_cast<int>(::GetLastError());
        dcb.BaudRate = Settings.BaudRate;
        dcb.fBinary = TRUE; // the only mode there is
        dcb.fParity = Settings.fParity;
        dcb.fOutxCtsFlow = Settings.fOutxCtsFlow;
        dcb.fOutxDsrFlow = Settings.fOutxDsrFlow;
        dcb.fDtrControl = Settings.fDtrControl;
        dcb.fDsrSensitivity = Settings.fDsrSensitivity;
        dcb.fTXContinueOnXoff = Settings.fTXContinueOnXoff;
        dcb.fOutX = Settings.fOutX;
        dcb.fInX = Settings.fInX;
        dcb.fErrorChar = Settings.fErrorChar;
        // NULs are dropped by the input queue, which sees every byte in order.
        dcb.fNull = FALSE;
        dcb.fRtsControl = Settings.fRtsControl;
        dcb.fAbortOnError = FALSE; // an error must not stop every later read and write
        dcb.XonLim = Settings.XonLim;
        dcb.XoffLim = Settings.XoffLim;
        dcb.ByteSize = Settings.ByteSize;
        dcb.Parity = Settings.Parity;
        dcb.StopBits = Settings.StopBits;
        dcb.XonChar = static_cast<char>(Settings.XonChar);
        dcb.XoffChar = static_cast<char>(Settings.XoffChar);
        dcb.ErrorChar = static_cast<char>(Settings.ErrorChar);
        dcb.EofChar = static_cast<char>(Settings.EofChar);
        dcb.EvtChar = static_cast<char>(Settings.EvtChar);
        if (!::SetCommState(FHandle, &dcb))
            return static_cast<int>(::GetLastError());
        // A driver may take a setting without a word and keep another: what the line does is
        // what counts, so the settings that shape every character are read back.
        DCB applied{};
        applied.DCBlength = sizeof applied;
        if (!::GetCommState(FHandle, &applied))
            return static_cast<int>(::GetLastError());
        if (applied.BaudRate != dcb.BaudRate || applied.ByteSize != dcb.ByteSize || applied.Parity != dcb.Parity ||
            applied.StopBits != dcb.StopBits)
            return ERROR_INVALID_PARAMETER;
        std::lock_guard lock(FRxLock);
        FRxQueue.SetFilter(Settings.fNull != 0, Settings.EvtChar);
        return 0;
    }

    int SetTimeouts(const TCommTimeouts& Timeouts) override {
        // The driver's read timeouts stay off: the pending read of the device thread waits for
        // its byte however long it takes, and reads of the port apply the timeouts to the queue.
        // The write timeouts are the driver's.
        COMMTIMEOUTS driver{};
        driver.WriteTotalTimeoutMultiplier = Timeouts.WriteTotalTimeoutMultiplier;
        driver.WriteTotalTimeoutConstant = Timeouts.WriteTotalTimeoutConstant;
        if (!::SetCommTimeouts(FHandle, &driver))
            return static_cast<int>(::GetLastError());
        std::lock_guard lock(FRxLock);
        FTimeouts = Timeouts;
        return 0;
    }

    int InputCount(int& Count) override {
        DWORD errors = 0;
        COMSTAT status{};
        const bool lost = FEvents.Lost();
        if (!lost && !::ClearCommError(FHandle, &errors, &status))
            return static_cast<int>(::GetLastError());
        CollectLineErrors(errors);
        std::lock_guard lock(FRxLock);
        // Bytes still in the driver are those the queue had no room for.
        Count = ClampCount(FRxQueue.Queued() + (lost ? 0 : status.cbInQue));
        return 0;
    }

    TOpResult StartWrite(TPendingOp* Op, const std::string& Data) override {
        if (Data.empty())
            return {TOpResult::Done, 0, 0};
        auto write = std::make_shared<TWrite>();
        if (!write->Ov.hEvent)
            return {TOpResult::Failed, 0, static_cast<int>(::GetLastError())};
        write->Data = Data;
        Op->Write = write;
        std::unique_lock lock(FTxLock);
        // One write at a time reaches the driver, oldest first: a driver may let a later write
        // overtake one that waits for room (wine does), which would mix the bytes of both on the
        // line. A write behind others waits in FWrites; the device thread starts it.
        const bool queued = !FWrites.empty();
        FWrites.push_back(write);
        if (!queued)
            StartWriteLocked(*write);
        if (!write->Finished) {
            lock.unlock();
            ::SetEvent(FWake);
            return {TOpResult::Pending, 0, 0};
        }
        FWrites.pop_back();
        const bool emptied = FWrites.empty();
        lock.unlock();
        if (write->Error != 0)
            return {TOpResult::Failed, 0, static_cast<int>(write->Error)};
        if (emptied)
            Raise(EV_TXEMPTY);
        return {TOpResult::Done, ClampCount(write->Count), 0};
    }

    void SetTickSource(std::function<uint32_t()> Source) override {
        std::lock_guard lock(FRxLock);
        FRxQueue.SetClock(std::move(Source));
    }

    TOpResult StartRead(TPendingOp*, std::string& Str, int Count, bool Wait, TRxArrivals* Arrivals) override {
        if (Arrivals != nullptr)
            Arrivals->clear();
        Str.clear();
        if (Count <= 0)
            return {TOpResult::Done, 0, 0};
        const size_t want = static_cast<size_t>(Count);
        std::unique_lock lock(FRxLock);
        Take(Str, want, Arrivals);
        if (Str.empty() && FEvents.Lost())
            return {TOpResult::Failed, 0, FEvents.LostError()};
        if (!Wait || Str.size() >= want)
            return {TOpResult::Done, ClampCount(Str.size()), 0};

        const TCommTimeouts timeouts = FTimeouts;
        const TReadWait wait = ReadWaitFor(timeouts, want);
        const bool firstByteEnds = wait.FirstByteEnds;
        if (wait.AtOnce || (firstByteEnds && !Str.empty()))
            return {TOpResult::Done, ClampCount(Str.size()), 0};
        const uint64_t total = wait.TotalMs;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(total);
        const bool hasInterval = wait.IntervalMs != 0;
        const auto interval = std::chrono::milliseconds(wait.IntervalMs);
        Clock::time_point lastByte = Clock::now();
        for (;;) {
            Clock::time_point until = total != 0 ? deadline : Clock::time_point::max();
            if (hasInterval && !Str.empty())
                until = std::min(until, lastByte + interval);
            if (until <= Clock::now())
                break;
            if (until == Clock::time_point::max())
                FRxArrived.wait(lock);
            else
                FRxArrived.wait_until(lock, until);
            const size_t before = Str.size();
            Take(Str, want, Arrivals);
            if (Str.size() > before)
                lastByte = Clock::now();
            if (Str.size() >= want || (firstByteEnds && !Str.empty()) || FEvents.Lost())
                break;
        }
        return {TOpResult::Done, ClampCount(Str.size()), 0};
    }

    TOpResult WaitOp(TPendingOp* Op) override {
        const std::shared_ptr<TWrite> write = Op->Write;
        if (!write)
            return {TOpResult::Done, 0, 0};
        std::unique_lock lock(FTxLock);
        // A write behind others reaches the driver once they have ended.
        FWriteStarted.wait(lock, [&] { return write->Started || write->Finished; });
        if (!write->Finished) {
            lock.unlock();
            DWORD count = 0;
            const bool done = ::GetOverlappedResult(FHandle, &write->Ov, &count, TRUE);
            const DWORD error = done ? 0 : ::GetLastError();
            lock.lock();
            if (!write->Finished)
                Finish(*write, count, error);
        }
        // Writes end in order: the ones before this one have ended too.
        while (!FWrites.empty() && FWrites.front()->Finished)
            FWrites.pop_front();
        const bool emptied = FWrites.empty();
        lock.unlock();
        if (!emptied)
            ::SetEvent(FWake); // the device thread starts the next one
        if (write->Error != 0)
            return {TOpResult::Failed, 0, static_cast<int>(write->Error)};
        if (emptied)
            Raise(EV_TXEMPTY);
        return {TOpResult::Done, ClampCount(write->Count), 0};
    }

    int Purge() override {
        std::deque<std::shared_ptr<TWrite>> aborted;
        {
            // Writes still waiting for their turn end here and never reach the driver.
            std::lock_guard lock(FTxLock);
            aborted.swap(FWrites);
            for (const auto& write : aborted)
                if (!write->Started && !write->Finished)
                    Finish(*write, 0, ERROR_OPERATION_ABORTED);
        }
        FWriteStarted.notify_all();
        int error = 0;
        if (!FEvents.Lost() && !::PurgeComm(FHandle, PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
            error = static_cast<int>(::GetLastError());
        for (const auto& write : aborted) {
            if (write->Finished)
                continue;
            ::CancelIoEx(FHandle, &write->Ov);
            DWORD count = 0;
            const bool done = ::GetOverlappedResult(FHandle, &write->Ov, &count, TRUE);
            std::lock_guard lock(FTxLock);
            if (!write->Finished)
                Finish(*write, count, done ? 0 : ERROR_OPERATION_ABORTED);
        }
        std::lock_guard lock(FRxLock);
        FRxQueue.Clear();
        ::SetEvent(FWake);
        return error;
    }

    void SetEventMask(uint32_t Mask) override {
        FEvents.SetMask(Mask);
        ::SetEvent(FWake); // the device thread starts or ends its modem-line wait
    }

    TLineEvents WaitEvents() override {
        std::unique_lock lock(FEventLock);
        FEventsReady.wait(
            lock, [this] { return FStop.load() || FEvents.HasPending() || (FEvents.Lost() && !FLostReported); });
        if (FStop.load())
            return {true, 0, 0};
        TLineEvents result;
        result.Flags = FEvents.Collect();
        if (FEvents.Lost() && !FLostReported) {
            FLostReported = true;
            result.LostError = FEvents.LostError();
            result.Flags |= EV_ERR & FEvents.Mask();
        }
        return result;
    }

    // The device thread reads on while the handlers run: nothing to catch up with.
    void Delivered() override {}

    void RequestStop() override {
        {
            std::lock_guard lock(FEventLock);
            FStop = true;
        }
        FEventsReady.notify_all();
    }

    bool StopRequested() const override { return FStop.load(); }

    uint64_t Wakeups() const override { return FWakeups.load(std::memory_order_relaxed); }

private:
    // ---- events for the waiting thread ----

    void Raise(uint32_t Flags) {
        bool raised;
        {
            std::lock_guard lock(FEventLock);
            raised = FEvents.Raise(Flags);
        }
        if (raised)
            FEventsReady.notify_all();
    }

    void LineLost(DWORD Error) {
        {
            std::lock_guard lock(FEventLock);
            if (!FEvents.MarkLost(static_cast<int>(Error)))
                return;
        }
        FEventsReady.notify_all();
        std::lock_guard lock(FRxLock);
        FRxArrived.notify_all(); // a waiting read ends with what it has
    }

    // ---- receive side ----

    // Moves queued bytes to Str; wakes the device thread when that made room for its next read.
    void Take(std::string& Str, size_t Want, TRxArrivals* Arrivals) {
        const bool wasFull = FRxQueue.Full();
        FRxQueue.Take(Str, Want, Arrivals);
        if (wasFull && !FRxQueue.Full())
            ::SetEvent(FWake);
    }

    // Queues received bytes and raises their flags.
    void Deliver(const char* Data, DWORD Size) {
        uint32_t flags;
        {
            std::lock_guard lock(FRxLock);
            flags = FRxQueue.Receive(Data, Size);
            FRxArrived.notify_all();
        }
        Raise(flags);
    }

    // Line errors the driver counted since the last ClearCommError, which cleared them: every
    // caller of it passes them on here, or they would never be reported.
    void CollectLineErrors(DWORD Errors) {
        if (const uint32_t flags = LineErrorEvents(Errors); flags != 0)
            Raise(flags);
    }

    // Starts the next read: what the driver holds already, as much as the queue takes, or else
    // one byte, which completes as soon as anything arrives. A read that completes at once is
    // delivered and followed by the next. False when the line is gone or the queue is full.
    bool StartDeviceRead() {
        for (;;) {
            size_t room;
            {
                std::lock_guard lock(FRxLock);
                room = std::min(FRxQueue.Room(), sizeof FReadBuffer);
                // A full queue stops the reads: what arrives meanwhile waits in the driver.
                if (room == 0)
                    FRxQueue.StopWatching();
            }
            if (room == 0)
                return false;
            DWORD errors = 0;
            COMSTAT status{};
            if (!::ClearCommError(FHandle, &errors, &status)) {
                LineLost(::GetLastError());
                return false;
            }
            {
                std::lock_guard lock(FRxLock);
                FRxQueue.ResumeWatching(status.cbInQue);
            }
            CollectLineErrors(errors);
            const DWORD want = status.cbInQue == 0 ? 1 : static_cast<DWORD>(std::min<size_t>(status.cbInQue, room));
            ::ResetEvent(FReadOv.hEvent);
            DWORD got = 0;
            if (::ReadFile(FHandle, FReadBuffer, want, &got, &FReadOv)) {
                if (!NoteRead(got))
                    return false;
                continue;
            }
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING) {
                LineLost(error);
                return false;
            }
            FReadPending = true;
            return true;
        }
    }

    // A finished read: its bytes go to the queue. False when reads keep bringing nothing, which
    // only a line that is gone does.
    bool NoteRead(DWORD Got) {
        if (Got == 0) {
            if (++FEmptyReads >= kEmptyReadLimit) {
                LineLost(ERROR_HANDLE_EOF);
                return false;
            }
            return true;
        }
        FEmptyReads = 0;
        Deliver(FReadBuffer, Got);
        return true;
    }

    void CompleteRead() {
        FReadPending = false;
        DWORD got = 0;
        if (!::GetOverlappedResult(FHandle, &FReadOv, &got, FALSE)) {
            // An aborted read is a vanished adapter or a closed handle: either way the line is
            // gone (the device's own shutdown stops this thread before it cancels anything).
            LineLost(::GetLastError());
            return;
        }
        NoteRead(got);
    }

    // ---- send side ----

    static void Finish(TWrite& Write, DWORD Count, DWORD Error) {
        Write.Finished = true;
        Write.Count = Count;
        Write.Error = Error;
        std::string().swap(Write.Data);
    }

    // Hands Write to the driver (FTxLock held); a write the driver takes at once or refuses is
    // finished on return.
    void StartWriteLocked(TWrite& Write) {
        Write.Started = true;
        DWORD written = 0;
        if (::WriteFile(FHandle, Write.Data.data(), static_cast<DWORD>(Write.Data.size()), &written, &Write.Ov))
            Finish(Write, written, 0);
        else if (const DWORD error = ::GetLastError(); error != ERROR_IO_PENDING)
            Finish(Write, 0, error);
        FWriteStarted.notify_all();
    }

    // Ends the writes the driver has finished and starts the next, oldest first; raises
    // EV_TXEMPTY when that emptied the queue.
    void CompleteWrites() {
        bool emptied = false;
        {
            std::lock_guard lock(FTxLock);
            while (!FWrites.empty()) {
                TWrite& write = *FWrites.front();
                if (!write.Started)
                    StartWriteLocked(write);
                if (!write.Finished) {
                    DWORD count = 0;
                    if (::GetOverlappedResult(FHandle, &write.Ov, &count, FALSE))
                        Finish(write, count, 0);
                    else if (::GetLastError() == ERROR_IO_INCOMPLETE)
                        break;
                    else
                        Finish(write, count, ::GetLastError());
                }
                FWrites.pop_front();
                emptied = FWrites.empty() && write.Error == 0;
            }
        }
        if (emptied)
            Raise(EV_TXEMPTY);
    }

    // The event of the write the driver works on; null when there is none.
    HANDLE OldestWriteEvent() {
        std::lock_guard lock(FTxLock);
        return FWrites.empty() || !FWrites.front()->Started ? nullptr : FWrites.front()->Ov.hEvent;
    }

    // ---- modem lines ----

    void StartModemWait() {
        const uint32_t wanted = FEvents.Mask() & kModemFlags;
        if (FModemPending || FModemGivenUp || wanted == 0)
            return;
        if (!::SetCommMask(FHandle, wanted)) {
            FModemGivenUp = true;
            return;
        }
        ::ResetEvent(FModemOv.hEvent);
        FModemMask = 0;
        if (::WaitCommEvent(FHandle, &FModemMask, &FModemOv)) {
            NoteModem(FModemMask);
            return;
        }
        if (::GetLastError() == ERROR_IO_PENDING)
            FModemPending = true;
        else
            FModemGivenUp = true;
    }

    void CompleteModemWait() {
        FModemPending = false;
        DWORD unused = 0;
        if (!::GetOverlappedResult(FHandle, &FModemOv, &unused, FALSE)) {
            FModemGivenUp = true;
            return;
        }
        NoteModem(FModemMask);
    }

    void NoteModem(DWORD Mask) {
        const uint32_t events = ModemWaitEvents(Mask);
        if (events == 0)
            FModemGivenUp = true;
        else
            Raise(events);
    }

    void StopModemWait() {
        if (!FModemPending)
            return;
        ::SetCommMask(FHandle, 0); // ends the pending wait
        DWORD unused = 0;
        ::GetOverlappedResult(FHandle, &FModemOv, &unused, TRUE);
        FModemPending = false;
    }

    // ---- the device thread ----

    void IoLoop() {
        while (!FIoStop.load()) {
            if (!FEvents.Lost() && !FReadPending)
                StartDeviceRead();
            if ((FEvents.Mask() & kModemFlags) != 0)
                StartModemWait();
            else
                StopModemWait();
            CompleteWrites(); // the next write in line may start

            HANDLE waits[4];
            enum { kWake, kRead, kModem, kWrite };
            int roles[4];
            DWORD count = 0;
            waits[count] = FWake;
            roles[count++] = kWake;
            if (FReadPending) {
                waits[count] = FReadOv.hEvent;
                roles[count++] = kRead;
            }
            if (FModemPending) {
                waits[count] = FModemOv.hEvent;
                roles[count++] = kModem;
            }
            if (HANDLE write = OldestWriteEvent()) {
                waits[count] = write;
                roles[count++] = kWrite;
            }
            const DWORD result = ::WaitForMultipleObjects(count, waits, FALSE, INFINITE);
            FWakeups.fetch_add(1, std::memory_order_relaxed);
            if (result >= WAIT_OBJECT_0 + count) {
                // The wait itself failed (a handle closed under it): nothing will wake us again.
                LineLost(::GetLastError());
                return;
            }
            // Events other than the one reported may be set too: look at each.
            for (DWORD i = 0; i < count; ++i) {
                if (i != result - WAIT_OBJECT_0 && ::WaitForSingleObject(waits[i], 0) != WAIT_OBJECT_0)
                    continue;
                switch (roles[i]) {
                case kRead:
                    CompleteRead();
                    break;
                case kModem:
                    CompleteModemWait();
                    break;
                case kWrite:
                    CompleteWrites();
                    break;
                default:
                    break;
                }
            }
        }
    }

    THandle FDevice;
    THandle FPortLock;
    const HANDLE FHandle; // FDevice's, for the calls
    THandle FWakeEvent{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    const HANDLE FWake = FWakeEvent.Get(); // auto-reset: new writes, room in the queue, a changed mask, shutdown
    THandle FReadEvent{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    THandle FModemEvent{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::thread FIoThread;
    std::atomic<bool> FIoStop{false};
    std::atomic<uint64_t> FWakeups{0};

    // Device thread only.
    OVERLAPPED FReadOv{};
    char FReadBuffer[4096];
    bool FReadPending = false;
    unsigned FEmptyReads = 0;
    OVERLAPPED FModemOv{};
    DWORD FModemMask = 0;
    bool FModemPending = false;
    bool FModemGivenUp = false;

    std::mutex FRxLock;
    std::condition_variable FRxArrived;
    TRxQueue FRxQueue;
    TCommTimeouts FTimeouts;

    std::mutex FTxLock;
    std::deque<std::shared_ptr<TWrite>> FWrites; // writes still running or waiting, oldest first
    std::condition_variable FWriteStarted;       // a write reached the driver or ended

    std::mutex FEventLock;
    std::condition_variable FEventsReady;
    TLineEventState FEvents;
    bool FLostReported = false;
    std::atomic<bool> FStop{false};
};

} // namespace

bool PortLocked(const std::string& Port) {
    const THandle lock(::OpenMutexW(SYNCHRONIZE, FALSE, PortLockName(DevicePath(Port)).c_str()));
    return lock.Valid();
}

std::unique_ptr<TComDevice> OpenDevice(const std::string& Port, int& Error) {
    const std::string device = DevicePath(Port);
    THandle portLock(::CreateMutexW(nullptr, FALSE, PortLockName(device).c_str()));
    if (!portLock.Valid() || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        Error = portLock.Valid() ? ERROR_ACCESS_DENIED : static_cast<int>(::GetLastError());
        return nullptr;
    }
    // No sharing: a second program gets ERROR_ACCESS_DENIED.
    THandle handle(::CreateFileW(Widen(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr));
    if (!handle.Valid()) {
        Error = static_cast<int>(::GetLastError());
        return nullptr;
    }
    // A file or another device is nothing a tracer can hang on.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    COMMTIMEOUTS timeouts{};
    if (!::GetCommState(handle.Get(), &dcb) || !::SetCommTimeouts(handle.Get(), &timeouts)) {
        Error = static_cast<int>(::GetLastError());
        return nullptr;
    }
    ::PurgeComm(handle.Get(), PURGE_RXCLEAR | PURGE_TXCLEAR);
    auto opened = std::make_unique<TWin32Device>(handle.Release(), portLock.Release());
    if (!opened->Start()) {
        Error = static_cast<int>(::GetLastError());
        return nullptr;
    }
    return opened;
}

} // namespace comms_os
