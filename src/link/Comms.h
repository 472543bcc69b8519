// The serial port component TComPort: its settings as properties (speed, character format, flow
// control, queue sizes, timeouts, line events and how they are delivered), reading and writing
// byte strings, and the event thread TComThread that waits for line events and raises them as the
// port's events. Everything here is portable; the operating-system calls sit behind the platform
// layer declared in CommDevice.h (Comms_posix.cpp on POSIX systems).
#pragma once

#include "common/Errors.h"
#include "link/ComPortSettings.h"
#include "link/CommSettings.h"
#include "link/GenAlg.h"
#include "link/PortList.h"
#include "link/RxQueue.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class QThread;

namespace comms_os {
class TComDevice;
}

// The line has gone (a USB adapter pulled, the other end of a pseudo-terminal closed, a TCP peer
// that hung up): which line, and the system's words for why.
struct TLineLost {
    std::string Line;
    std::string Reason;
    // The log's and the status's words: "Connection lost on <line>: <reason>".
    std::string Text() const { return "Connection lost on " + Line + ": " + Reason; }
};

// Failures of the serial port, with fixed English messages.
class EComPort : public Exception {
public:
    using Exception::Exception;
};

// The port did not open ("Unable to open <port>: <reason>"), and why, as far as the operator can
// act on it: the caller tells a permission problem or another holder by its state, not its words.
class EComPortOpen : public EComPort {
public:
    EComPortOpen(const std::string& port, TPortCheck refusal)
        : EComPort("Unable to open " + port + ": " + refusal.Reason), Refusal(std::move(refusal)) {}
    TPortCheck Refusal;
};

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TRxCharEvent = std::function<void(QObject* Sender, int InQue)>;
using TEventErrorEvent = std::function<void(QObject* Sender, const std::string& Message)>;
using TLineLostEvent = std::function<void(QObject* Sender, const TLineLost& Lost)>;

class TComPort;
class TComThread;
class TComWindow;

// The serial port component.
//
// Settings are properties: a setter compares first, stores a changed value and then applies it;
// applying does nothing while the port is closed (the values reach the line at the next open).
// Events are called only when assigned, with the port as Sender. With smSynchronize (the default)
// they run on the thread that owns this object while the event thread waits; with smWindow on the
// thread that opened the port; with smNone on the event thread itself.
//
// An exception thrown by an event handler never leaves the delivery: it is caught, and its message
// is reported through OnEventError (on the owning thread, or on the event thread with smNone); the
// port stays open and goes on waiting for line events. The loss of the line (a vanished adapter,
// the other end of a pseudo-terminal closed) is raised once as OnLineLost, after EV_ERR, on the same
// thread; without that handler it is reported through OnEventError in its words (TLineLost::Text).
class TComPort : public QObject {
    Q_OBJECT

public:
    explicit TComPort(QObject* Owner = nullptr);
    ~TComPort() override;

    bool Active() const { return FActive.load(); }
    void SetActive(bool Value);
    int BaudRate() const { return FBaudRate; }
    void SetBaudRate(int Value);
    const std::string& Port() const { return FPort; }
    void SetPort(const std::string& Value);
    TParity& Parity() { return FParity; }
    const TParity& Parity() const { return FParity; }
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits Value);
    int DataBits() const { return FDataBits; }
    void SetDataBits(int Value);
    bool DiscardNull() const { return FDiscardNull; }
    void SetDiscardNull(bool Value);
    uint8_t EventChar() const { return FEventChar; }
    void SetEventChar(uint8_t Value);
    TEvents Events() const { return FEvents; }
    void SetEvents(TEvents Value);
    uint32_t WriteBufSize() const { return FWriteBufSize; }
    void SetWriteBufSize(uint32_t Value);
    uint32_t ReadBufSize() const { return FReadBufSize; }
    void SetReadBufSize(uint32_t Value);
    TFlowControl& FlowControl() { return FFlowControl; }
    const TFlowControl& FlowControl() const { return FFlowControl; }
    TComTimeouts& Timeouts() { return FTimeouts; }
    const TComTimeouts& Timeouts() const { return FTimeouts; }
    TSyncMethod SyncMethod() const { return FSyncMethod; }
    void SetSyncMethod(TSyncMethod Value);

    TRxCharEvent OnRxChar;
    TNotifyEvent OnTxEmpty;
    TNotifyEvent OnBreak;
    TNotifyEvent OnRing;
    TNotifyEvent OnCTS;
    TNotifyEvent OnDSR;
    TNotifyEvent OnRLSD;
    TNotifyEvent OnRxFlag;
    TNotifyEvent OnError;
    TNotifyEvent OnOpen;
    TNotifyEvent OnClose;
    TNotifyEvent OnRx80Full;
    // Errors that have no caller to reach: exceptions thrown by event handlers (and the loss of
    // the line while OnLineLost is unassigned). The application binds it to its log.
    TEventErrorEvent OnEventError;
    TLineLostEvent OnLineLost;

    void Open();
    void Close();
    // Writes all bytes of Data. Result: the bytes written, or -1 when the write is still running
    // and Wait is false (its record stays pending until WaitForLastOp or AbortAllAsync).
    int Write(const std::string& Data, bool Wait);
    // Reads up to Count bytes into Str. Result: the bytes read (here a read always completes when
    // it returns: at once with what has arrived, or, with Wait and timeouts that ask for waiting,
    // when the timeouts say so).
    int Read(std::string& Str, int Count, bool Wait);
    // The same, and Arrivals gets when the bytes read reached the line, as the port's tick source
    // dated them on its reading thread.
    int Read(std::string& Str, int Count, bool Wait, TRxArrivals& Arrivals);
    // The 32-bit wrapping millisecond tick that dates received bytes; it is called on the port's
    // reading thread. Null restores the steady clock.
    void SetTickSource(std::function<uint32_t()> Source);
    int InQueCount();
    int WaitForLastOp();
    bool HasPendingOps() const { return !FPending.IsEmpty(); }
    void AbortAllAsync();
    void ApplyBuffers();
    void ApplyDCB();
    void ApplyTimeouts();

    // The line settings and timeouts records as the current properties define them.
    TDCB BuildDCB() const;
    TCommTimeouts BuildTimeouts() const;

    // How many times the event thread of the open port has woken up from its wait (0 while
    // closed): a diagnostic that shows an idle or parked port is not spinning.
    uint64_t EventThreadWakeups() const;

private Q_SLOTS:
    // Queued calls from the event thread; they carry no data (the data waits in FDelivery and
    // FReports), so nothing crosses threads outside this class's own locks.
    void RunPendingDelivery();
    void RunReports();

private:
    template <class Start> int RunOperation(Start start, bool Wait, const char* failure);
    friend class TComThread;
    friend class TComWindow;

    void ApplySettings();
    void StopEventThread();

    // Delivery of line events (see the class comment).
    void DispatchEvents(uint32_t Mask, TSyncMethod Method, QObject* Target, comms_os::TComDevice& Device);
    void DeliverAndWait(uint32_t Mask, QObject* Target);
    void RunDelivery(uint64_t Serial);
    std::vector<std::string> DoEvents(uint32_t Mask);
    void CallEvent(uint32_t Flag);
    // A report for the owning thread: an error message, or the loss of the line.
    struct TReport {
        std::string Message;
        bool Lost = false;
        TLineLost Line;
    };
    void ReportEventError(const std::string& Message, TSyncMethod Method);
    void ReportLineLost(const TLineLost& Lost, TSyncMethod Method);
    void Report(TReport Report, TSyncMethod Method);
    void CallReport(const TReport& Report);
    void EventThreadEnded();

    std::atomic<bool> FActive{false};
    int FBaudRate = 9600;
    std::string FPort = "COM1";
    TParity FParity{*this};
    TStopBits FStopBits = sbOneStopBit;
    int FDataBits = 8;
    bool FDiscardNull = false;
    uint8_t FEventChar = 0;
    TEvents FEvents = TEvents::All();
    uint32_t FWriteBufSize = 1024;
    uint32_t FReadBufSize = 1024;
    TFlowControl FFlowControl{*this};
    TComTimeouts FTimeouts{*this};
    TSyncMethod FSyncMethod = smSynchronize;
    std::function<uint32_t()> FTickSource;

    std::unique_ptr<comms_os::TComDevice> FDevice; // the open device (FHandle)
    std::unique_ptr<TComWindow> FWindow;           // delivery target of smWindow, on the opening thread
    std::unique_ptr<TComThread> FEventThread;
    bool FThreadCreated = false;
    TStack FPending;
    bool FClosing = false;
    std::atomic<uint64_t> FOpenSerial{0}; // counts opens, so a batch can tell that its port was reopened
    std::shared_ptr<int> FLife = std::make_shared<int>(0); // expires when the port is destroyed

    // One delivery at a time travels from the event thread to its target thread.
    struct TDelivery {
        uint64_t Serial = 0;
        uint32_t Flags = 0;
        QThread* Target = nullptr;
        bool Requested = false; // asked for and not yet taken back by the event thread
        bool Claimed = false;   // a thread runs it
        bool Done = false;
        std::thread::id RunningOn;
        std::vector<std::string> Errors;
    };
    std::mutex FDeliveryLock;
    std::condition_variable FDeliveryChanged;
    TDelivery FDelivery;
    bool FEventThreadEnded = true;
    std::mutex FReportLock;
    std::vector<TReport> FReports; // reports waiting for the owning thread
};
