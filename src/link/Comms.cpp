// The portable part of the serial port: properties, open/close order, reading and writing with
// pending records, and the delivery of line events from the event thread to the handlers.
#include "link/Comms.h"

#include "link/CommDevice.h"
#include "link/PortList.h"

#include <QMetaObject>
#include <QThread>
#include <QtGlobal>

#include <cerrno>
#include <exception>

namespace {

// The order in which the flags of one batch reach their handlers.
constexpr uint32_t kDeliveryOrder[] = {EV_RXCHAR, EV_TXEMPTY, EV_BREAK, EV_RING, EV_CTS,
                                       EV_DSR,    EV_RXFLAG,  EV_RLSD,  EV_ERR,  EV_RX80FULL};

std::string Code(int Error) {
    return std::to_string(static_cast<unsigned>(Error));
}

std::string MessageOf(std::exception_ptr Error) {
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown exception in a line event handler";
    }
}

} // namespace

uint32_t EventFlag(TEvent Event) {
    switch (Event) {
    case evRxChar:
        return EV_RXCHAR;
    case evTxEmpty:
        return EV_TXEMPTY;
    case evRxFlag:
        return EV_RXFLAG;
    case evRing:
        return EV_RING;
    case evBreak:
        return EV_BREAK;
    case evCTS:
        return EV_CTS;
    case evDSR:
        return EV_DSR;
    case evError:
        return EV_ERR;
    case evRLSD:
        return EV_RLSD;
    case evRx80Full:
        return EV_RX80FULL;
    }
    return 0;
}

uint32_t EventMask(TEvents Events) {
    uint32_t mask = 0;
    for (int e = evRxChar; e <= evRx80Full; ++e)
        if (Events.Contains(static_cast<TEvent>(e)))
            mask |= EventFlag(static_cast<TEvent>(e));
    return mask;
}

// ---- setting groups ------------------------------------------------------------------------

// The setter rule of every property: an unchanged value does nothing at all; a changed one is
// stored first and then applied (which does nothing while the port is closed).
namespace {
template <class T, class Apply> void ChangeSetting(T& field, const T& value, Apply apply) {
    if (field == value)
        return;
    field = value;
    apply();
}
} // namespace

void TParity::SetBits(TParityBits Value) {
    ChangeSetting(FBits, Value, [this] { FComPort.ApplyDCB(); });
}

void TParity::SetCheck(bool Value) {
    ChangeSetting(FCheck, Value, [this] { FComPort.ApplyDCB(); });
}

void TParity::SetReplace(bool Value) {
    ChangeSetting(FReplace, Value, [this] { FComPort.ApplyDCB(); });
}

void TParity::SetReplaceChar(uint8_t Value) {
    ChangeSetting(FReplaceChar, Value, [this] { FComPort.ApplyDCB(); });
}

void TFlowControl::SetOutCtsFlow(bool Value) {
    ChangeSetting(FOutCtsFlow, Value, [this] { FComPort.ApplyDCB(); });
}

void TFlowControl::SetOutDsrFlow(bool Value) {
    ChangeSetting(FOutDsrFlow, Value, [this] { FComPort.ApplyDCB(); });
}

void TFlowControl::SetControlDtr(TDtrFlowControl Value) {
    ChangeSetting(FControlDtr, Value, [this] { FComPort.ApplyDCB(); });
}

void TFlowControl::SetControlRts(TRtsFlowControl Value) {
    ChangeSetting(FControlRts, Value, [this] { FComPort.ApplyDCB(); });
}

void TFlowControl::SetXonXoffOut(bool Value) {
    ChangeSetting(FXonXoffOut, Value, [this] { FComPort.ApplyDCB(); });
}

void TFlowControl::SetXonXoffIn(bool Value) {
    ChangeSetting(FXonXoffIn, Value, [this] { FComPort.ApplyDCB(); });
}

void TComTimeouts::SetReadInterval(int32_t Value) {
    ChangeSetting(FReadInterval, Value, [this] { FComPort.ApplyTimeouts(); });
}

void TComTimeouts::SetReadTotalMultiplier(int32_t Value) {
    ChangeSetting(FReadTotalMultiplier, Value, [this] { FComPort.ApplyTimeouts(); });
}

void TComTimeouts::SetReadTotalConstant(int32_t Value) {
    ChangeSetting(FReadTotalConstant, Value, [this] { FComPort.ApplyTimeouts(); });
}

void TComTimeouts::SetWriteTotalMultiplier(int32_t Value) {
    ChangeSetting(FWriteTotalMultiplier, Value, [this] { FComPort.ApplyTimeouts(); });
}

void TComTimeouts::SetWriteTotalConstant(int32_t Value) {
    ChangeSetting(FWriteTotalConstant, Value, [this] { FComPort.ApplyTimeouts(); });
}

// ---- the event thread ----------------------------------------------------------------------

TComThread::TComThread(TComPort& ComPort, comms_os::TComDevice& Device, uint32_t Mask, TSyncMethod SyncMethod,
                       QObject* DeliveryTarget, std::string PortName)
    : FComPort(ComPort), FDevice(Device), FMask(Mask), FSyncMethod(SyncMethod), FDeliveryTarget(DeliveryTarget),
      FPortName(std::move(PortName)) {
    FDevice.SetEventMask(FMask);
}

void TComThread::Start() {
    std::lock_guard lock(FStartLock);
    FThread = std::thread([this] {
        { std::lock_guard started(FStartLock); } // FThread is complete from here on
        Execute();
    });
}

TComThread::~TComThread() {
    if (FThread.joinable()) {
        Stop();
        FThread.join();
    }
}

void TComThread::Stop() {
    FDevice.RequestStop();
}

bool TComThread::IsCurrent() const {
    return std::this_thread::get_id() == FThreadId.load();
}

void TComThread::HandOver(std::unique_ptr<TComThread> Self, std::unique_ptr<comms_os::TComDevice> Device) {
    FSelf = std::move(Self);
    FOwnedDevice = std::move(Device);
    FHandedOver = true;
    FThread.detach();
}

void TComThread::Execute() {
    FThreadId = std::this_thread::get_id();
    for (;;) {
        const comms_os::TLineEvents events = FDevice.WaitEvents();
        if (events.Stopped)
            break;
        FEventMask = events.Flags;
        if (FEventMask != 0)
            FComPort.DispatchEvents(FEventMask, FSyncMethod, FDeliveryTarget, FDevice);
        if (events.LostError != 0 && !FHandedOver)
            FComPort.ReportEventError(std::string(kConnectionLost) + FPortName + ": " +
                                          comms_os::SystemErrorText(events.LostError),
                                      FSyncMethod);
    }
    FDevice.Purge();
    if (FHandedOver) {
        // This object and the device belong to the thread now; nothing may touch them afterwards.
        std::unique_ptr<TComThread> self = std::move(FSelf);
        return;
    }
    FComPort.EventThreadEnded();
}

// ---- the port ------------------------------------------------------------------------------

TComPort::TComPort(QObject* Owner) : QObject(Owner) {}

TComPort::~TComPort() {
    try {
        Close();
    } catch (...) {
        // Close ends early when aborting the pending operations fails (or OnClose throws); tear
        // down below anyway: nothing may leave a destructor.
    }
    while (!FPending.IsEmpty())
        comms_os::ReleaseOp(static_cast<comms_os::TPendingOp*>(FPending.Pop()));
    if (FEventThread) {
        FClosing = true;
        StopEventThread();
    }
    FDevice.reset();
    FWindow.reset();
    FLife.reset();
}

void TComPort::SetActive(bool Value) {
    if (Value == FActive.load())
        return;
    if (Value)
        Open();
    else
        Close();
}

void TComPort::SetBaudRate(int Value) {
    ChangeSetting(FBaudRate, Value, [this] { ApplyDCB(); });
}

void TComPort::SetPort(const std::string& Value) {
    if (Value == FPort)
        return;
    FPort = Value;
    if (FActive.load()) {
        Close();
        Open();
    }
}

void TComPort::SetStopBits(TStopBits Value) {
    ChangeSetting(FStopBits, Value, [this] { ApplyDCB(); });
}

void TComPort::SetDataBits(int Value) {
    ChangeSetting(FDataBits, Value, [this] { ApplyDCB(); });
}

void TComPort::SetDiscardNull(bool Value) {
    ChangeSetting(FDiscardNull, Value, [this] { ApplyDCB(); });
}

void TComPort::SetEventChar(uint8_t Value) {
    ChangeSetting(FEventChar, Value, [this] { ApplyDCB(); });
}

void TComPort::SetEvents(TEvents Value) {
    FEvents = Value; // used at the next open
}

void TComPort::SetWriteBufSize(uint32_t Value) {
    ChangeSetting(FWriteBufSize, Value, [this] { ApplyBuffers(); });
}

void TComPort::SetReadBufSize(uint32_t Value) {
    ChangeSetting(FReadBufSize, Value, [this] { ApplyBuffers(); });
}

void TComPort::SetSyncMethod(TSyncMethod Value) {
    if (Value == FSyncMethod)
        return;
    // The delivery target made at the open and the one released at the close must match.
    if (FActive.load())
        throw EComPort("Cannot set SyncMethod while connected");
    FSyncMethod = Value;
}

TDCB TComPort::BuildDCB() const {
    TDCB dcb;
    dcb.DCBlength = 28;
    dcb.BaudRate = static_cast<uint32_t>(FBaudRate);
    dcb.fBinary = 1;
    dcb.fParity = FParity.Check() ? 1 : 0;
    dcb.fOutxCtsFlow = FFlowControl.OutCtsFlow() ? 1 : 0;
    dcb.fOutxDsrFlow = FFlowControl.OutDsrFlow() ? 1 : 0;
    dcb.fDtrControl = FFlowControl.ControlDtr();
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = FFlowControl.XonXoffOut() ? 1 : 0;
    dcb.fInX = FFlowControl.XonXoffIn() ? 1 : 0;
    dcb.fErrorChar = FParity.Replace() ? 1 : 0;
    dcb.fNull = FDiscardNull ? 1 : 0;
    dcb.fRtsControl = FFlowControl.ControlRts();
    dcb.fAbortOnError = 0;
    dcb.XonLim = static_cast<uint16_t>((FReadBufSize / 4) & 0xFFFF);
    dcb.XoffLim = dcb.XonLim;
    // A value outside a byte must not wrap into a valid size; 0 is refused by the line.
    dcb.ByteSize = (FDataBits >= 0 && FDataBits <= 255) ? static_cast<uint8_t>(FDataBits) : 0;
    dcb.Parity = FParity.Bits();
    dcb.StopBits = FStopBits;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = FParity.Replace() ? FParity.ReplaceChar() : 0;
    dcb.EofChar = 0;
    dcb.EvtChar = FEventChar;
    return dcb;
}

TCommTimeouts TComPort::BuildTimeouts() const {
    TCommTimeouts t;
    t.ReadIntervalTimeout = static_cast<uint32_t>(FTimeouts.ReadInterval());
    t.ReadTotalTimeoutMultiplier = static_cast<uint32_t>(FTimeouts.ReadTotalMultiplier());
    t.ReadTotalTimeoutConstant = static_cast<uint32_t>(FTimeouts.ReadTotalConstant());
    t.WriteTotalTimeoutMultiplier = static_cast<uint32_t>(FTimeouts.WriteTotalMultiplier());
    t.WriteTotalTimeoutConstant = static_cast<uint32_t>(FTimeouts.WriteTotalConstant());
    return t;
}

void TComPort::ApplyBuffers() {
    if (!FActive.load() || !FDevice)
        return;
    const int error = FDevice->SetQueueSizes(FReadBufSize, FWriteBufSize);
    if (error != 0)
        throw EComPort("Unable to set up comm: " + comms_os::SystemErrorText(error));
}

void TComPort::ApplyDCB() {
    if (!FActive.load() || !FDevice)
        return;
    const int error = FDevice->SetState(BuildDCB());
    if (error != 0)
        throw EComPort("Unable to set com state: " + comms_os::SystemErrorText(error));
}

void TComPort::ApplyTimeouts() {
    if (!FActive.load() || !FDevice)
        return;
    const int error = FDevice->SetTimeouts(BuildTimeouts());
    if (error == 0)
        return;
    // The general operating-system error, not EComPort.
    throw Exception("System Error.  Code: " + std::to_string(error) + ".\r\n" + comms_os::SystemErrorText(error));
}

void TComPort::ApplySettings() {
    ApplyBuffers();
    ApplyDCB();
    ApplyTimeouts();
}

void TComPort::Open() {
    // A handler run while Close waits for the event thread cannot open the port again until the
    // close has finished.
    if (FClosing)
        throw EComPort("Unable to open " + FPort + ": " + comms_os::SystemErrorText(comms_os::kErrorInUse));
    Close();
    int error = 0;
    std::unique_ptr<comms_os::TComDevice> device = comms_os::OpenDevice(FPort, error);
    // Permission and a holder are told in words the operator can act on.
    if (!device)
        throw EComPort("Unable to open " + FPort + ": " + PortOpenErrorText(FPort, error));
    FDevice = std::move(device);
    FActive = true;
    try {
        ApplySettings();
    } catch (...) {
        FDevice.reset();
        FActive = false;
        throw;
    }
    ++FOpenSerial;
    QObject* target = this;
    if (FSyncMethod == smWindow) {
        FWindow = std::make_unique<TComWindow>(*this); // lives in the opening thread
        target = FWindow.get();
    }
    if (!FEvents.Empty()) {
        {
            std::lock_guard lock(FDeliveryLock);
            FEventThreadEnded = false;
        }
        FEventThread = std::make_unique<TComThread>(*this, *FDevice, EventMask(FEvents), FSyncMethod, target, FPort);
        FThreadCreated = true;
        FEventThread->Start();
    } else {
        FThreadCreated = false;
    }
    if (OnOpen)
        OnOpen(this);
}

void TComPort::Close() {
    if (!FActive.load() || FClosing)
        return;
    AbortAllAsync();
    FClosing = true;
    if (FThreadCreated)
        StopEventThread();
    FThreadCreated = false;
    FDevice.reset();
    FActive = false;
    FWindow.reset();
    FClosing = false;
    if (OnClose)
        OnClose(this);
}

void TComPort::StopEventThread() {
    if (!FEventThread)
        return;
    if (FEventThread->IsCurrent()) {
        // Close from a handler that runs on the event thread (smNone).
        TComThread* thread = FEventThread.get();
        thread->Stop();
        thread->HandOver(std::move(FEventThread), std::move(FDevice));
        return;
    }
    FEventThread->Stop();
    {
        // Close from inside a handler of the current delivery: let the event thread go on (it
        // sees the stop, so the rest of its batch is not delivered) instead of waiting for a
        // delivery that waits for this Close.
        std::lock_guard lock(FDeliveryLock);
        if (FDelivery.Requested && FDelivery.Claimed && !FDelivery.Done &&
            FDelivery.RunningOn == std::this_thread::get_id())
            FDelivery.Done = true;
    }
    FDeliveryChanged.notify_all();
    // While waiting for the thread to end, run any delivery it has asked this thread for: it
    // cannot end before that delivery has run.
    QThread* self = QThread::currentThread();
    for (;;) {
        std::unique_lock lock(FDeliveryLock);
        FDeliveryChanged.wait(lock, [&] {
            return FEventThreadEnded || (FDelivery.Requested && !FDelivery.Claimed && FDelivery.Target == self);
        });
        if (FEventThreadEnded)
            break;
        const uint64_t serial = FDelivery.Serial;
        lock.unlock();
        RunDelivery(serial);
    }
    FEventThread.reset();
}

void TComPort::EventThreadEnded() {
    {
        std::lock_guard lock(FDeliveryLock);
        FEventThreadEnded = true;
    }
    FDeliveryChanged.notify_all();
}

void TComPort::DispatchEvents(uint32_t Mask, TSyncMethod Method, QObject* Target, comms_os::TComDevice& Device) {
    switch (Method) {
    case smSynchronize:
        DeliverAndWait(Mask, Target);
        break;
    case smWindow:
        // One blocking call per flag, in delivery order.
        for (uint32_t flag : kDeliveryOrder) {
            if ((Mask & flag) == 0)
                continue;
            if (Device.StopRequested())
                break; // a handler closed the port: its window goes away
            DeliverAndWait(flag, Target);
        }
        break;
    case smNone:
        for (const std::string& message : DoEvents(Mask))
            ReportEventError(message, smNone);
        break;
    }
}

void TComPort::DeliverAndWait(uint32_t Mask, QObject* Target) {
    {
        std::lock_guard lock(FDeliveryLock);
        ++FDelivery.Serial;
        FDelivery.Flags = Mask;
        FDelivery.Target = Target->thread();
        FDelivery.Requested = true;
        FDelivery.Claimed = false;
        FDelivery.Done = false;
        FDelivery.Errors.clear();
    }
    FDeliveryChanged.notify_all(); // a Close waiting on the target thread runs it itself
    QMetaObject::invokeMethod(Target, "RunPendingDelivery", Qt::QueuedConnection);
    std::vector<std::string> errors;
    {
        std::unique_lock lock(FDeliveryLock);
        FDeliveryChanged.wait(lock, [&] { return FDelivery.Done; });
        errors.swap(FDelivery.Errors);
        FDelivery.Requested = false;
    }
    for (const std::string& message : errors)
        ReportEventError(message, smSynchronize);
}

void TComWindow::RunPendingDelivery() {
    FComPort.RunPendingDelivery();
}

void TComPort::RunPendingDelivery() {
    uint64_t serial = 0;
    {
        std::lock_guard lock(FDeliveryLock);
        if (!FDelivery.Requested || FDelivery.Claimed || FDelivery.Target != QThread::currentThread())
            return; // already run (by a Close), or meant for another thread
        serial = FDelivery.Serial;
    }
    RunDelivery(serial);
}

void TComPort::RunDelivery(uint64_t Serial) {
    uint32_t flags = 0;
    {
        std::lock_guard lock(FDeliveryLock);
        if (!FDelivery.Requested || FDelivery.Claimed || FDelivery.Serial != Serial)
            return; // already run by a Close, or no longer wanted
        FDelivery.Claimed = true;
        FDelivery.RunningOn = std::this_thread::get_id();
        flags = FDelivery.Flags;
    }
    const std::weak_ptr<int> life = FLife;
    std::vector<std::string> errors = DoEvents(flags);
    if (life.expired())
        return; // a handler destroyed the port
    std::unique_lock lock(FDeliveryLock);
    if (FDelivery.Serial == Serial && FDelivery.Requested && !FDelivery.Done) {
        FDelivery.Errors = std::move(errors);
        FDelivery.Done = true;
        lock.unlock();
        FDeliveryChanged.notify_all();
        return;
    }
    // A handler closed the port and released the event thread early; report here.
    lock.unlock();
    for (const std::string& message : errors)
        ReportEventError(message, smSynchronize);
}

std::vector<std::string> TComPort::DoEvents(uint32_t Mask) {
    std::vector<std::string> errors;
    const uint64_t openSerial = FOpenSerial.load();
    const std::weak_ptr<int> life = FLife;
    for (uint32_t flag : kDeliveryOrder) {
        if ((Mask & flag) == 0)
            continue;
        // A handler that closed or reopened the port ends the batch: its flags belong to the
        // line as it was.
        if (!FActive.load() || FOpenSerial.load() != openSerial)
            break;
        try {
            CallEvent(flag);
        } catch (...) {
            errors.push_back(MessageOf(std::current_exception()));
        }
        if (life.expired())
            break;
    }
    return errors;
}

void TComPort::CallEvent(uint32_t Flag) {
    switch (Flag) {
    case EV_RXCHAR:
        if (OnRxChar) {
            const int count = InQueCount();
            OnRxChar(this, count);
        }
        break;
    case EV_TXEMPTY:
        if (OnTxEmpty)
            OnTxEmpty(this);
        break;
    case EV_BREAK:
        if (OnBreak)
            OnBreak(this);
        break;
    case EV_RING:
        if (OnRing)
            OnRing(this);
        break;
    case EV_CTS:
        if (OnCTS)
            OnCTS(this);
        break;
    case EV_DSR:
        if (OnDSR)
            OnDSR(this);
        break;
    case EV_RXFLAG:
        if (OnRxFlag)
            OnRxFlag(this);
        break;
    case EV_RLSD:
        if (OnRLSD)
            OnRLSD(this);
        break;
    case EV_ERR:
        if (OnError)
            OnError(this);
        break;
    case EV_RX80FULL:
        if (OnRx80Full)
            OnRx80Full(this);
        break;
    default:
        break;
    }
}

void TComPort::ReportEventError(const std::string& Message, TSyncMethod Method) {
    if (Method == smNone) {
        CallEventError(Message);
        return;
    }
    // Never blocks the event thread: the report waits for the owning thread.
    {
        std::lock_guard lock(FReportLock);
        FReports.push_back(Message);
    }
    QMetaObject::invokeMethod(this, "RunReports", Qt::QueuedConnection);
}

void TComPort::RunReports() {
    std::vector<std::string> reports;
    {
        std::lock_guard lock(FReportLock);
        reports.swap(FReports);
    }
    const std::weak_ptr<int> life = FLife;
    for (const std::string& message : reports) {
        CallEventError(message);
        if (life.expired())
            return;
    }
}

void TComPort::CallEventError(const std::string& Message) {
    if (!OnEventError) {
        qWarning("%s", Message.c_str());
        return;
    }
    try {
        OnEventError(this, Message);
    } catch (...) {
        // The report is the last stop: nothing may cross the event loop.
        qWarning("%s", Message.c_str());
    }
}

// ---- reading and writing -------------------------------------------------------------------

// Runs one operation with a pending record: finished at once, the record goes again; still
// running, it stays on FPending (or is waited for); failed, it goes and `failure` is raised.
template <class Start> int TComPort::RunOperation(Start start, bool Wait, const char* failure) {
    comms_os::TPendingOp* op = comms_os::NewOp();
    FPending.Push(op);
    const comms_os::TOpResult result =
        FDevice ? start(op) : comms_os::TOpResult{comms_os::TOpResult::Failed, 0, comms_os::kErrorNotOpen};
    if (result.Status == comms_os::TOpResult::Pending)
        return Wait ? WaitForLastOp() : -1;
    FPending.Pop();
    comms_os::ReleaseOp(op);
    if (result.Status == comms_os::TOpResult::Done)
        return result.Count;
    throw EComPort(failure + Code(result.Error));
}

int TComPort::Write(const std::string& Data, bool Wait) {
    return RunOperation([&](comms_os::TPendingOp* op) { return FDevice->StartWrite(op, Data); }, Wait,
                        "Operation failed: ");
}

int TComPort::Read(std::string& Str, int Count, bool Wait) {
    return RunOperation([&](comms_os::TPendingOp* op) { return FDevice->StartRead(op, Str, Count, Wait); }, Wait,
                        "Operation aborted: ");
}

int TComPort::InQueCount() {
    int count = 0;
    const int error = FDevice ? FDevice->InputCount(count) : comms_os::kErrorNotOpen;
    if (error != 0)
        throw EComPort("Unable to read com status: " + Code(error));
    return count;
}

int TComPort::WaitForLastOp() {
    if (FPending.IsEmpty())
        return -2;
    auto* op = static_cast<comms_os::TPendingOp*>(FPending.Pop());
    comms_os::TOpResult result;
    if (FDevice)
        result = FDevice->WaitOp(op);
    else
        result = {comms_os::TOpResult::Failed, 0, comms_os::kErrorNotOpen};
    comms_os::ReleaseOp(op);
    if (result.Status == comms_os::TOpResult::Failed)
        throw EComPort("Operation failed: " + Code(result.Error));
    return result.Count;
}

void TComPort::AbortAllAsync() {
    if (FPending.IsEmpty())
        return;
    const int error = FDevice ? FDevice->Purge() : 0;
    while (!FPending.IsEmpty())
        comms_os::ReleaseOp(static_cast<comms_os::TPendingOp*>(FPending.Pop()));
    if (error != 0)
        throw EComPort("Cannot abort operation: " + Code(error));
}

uint64_t TComPort::EventThreadWakeups() const {
    return FDevice ? FDevice->Wakeups() : 0;
}
