// The portable part of the serial port: properties, open/close order, reading and writing with
// pending records. The setting groups live in ComPortSettings.cpp, the event thread and the
// delivery of line events to the handlers in ComDelivery.cpp.
#include "link/Comms.h"

#include "link/ComDelivery.h"
#include "link/ComPortSettings.h"
#include "link/CommDevice.h"
#include "link/PortList.h"

using comport_detail::ChangeSetting;

#include <QMetaObject>
#include <QThread>
#include <QtGlobal>

#include <cerrno>
#include <exception>

namespace {

std::string Code(int Error) {
    return std::to_string(static_cast<unsigned>(Error));
}

} // namespace

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
        throw EComPortOpen(FPort, {psUnusable, comms_os::SystemErrorText(comms_os::kErrorInUse)});
    Close();
    int error = 0;
    std::unique_ptr<comms_os::TComDevice> device = comms_os::OpenDevice(FPort, error);
    // Permission and a holder are told in words the operator can act on.
    if (!device)
        throw EComPortOpen(FPort, PortOpenRefusal(FPort, error));
    FDevice = std::move(device);
    FDevice->SetTickSource(FTickSource);
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
    return RunOperation([&](comms_os::TPendingOp* op) { return FDevice->StartRead(op, Str, Count, Wait, nullptr); },
                        Wait, "Operation aborted: ");
}

int TComPort::Read(std::string& Str, int Count, bool Wait, TRxArrivals& Arrivals) {
    Arrivals.clear();
    return RunOperation([&](comms_os::TPendingOp* op) { return FDevice->StartRead(op, Str, Count, Wait, &Arrivals); },
                        Wait, "Operation aborted: ");
}

void TComPort::SetTickSource(std::function<uint32_t()> Source) {
    FTickSource = std::move(Source);
    if (FDevice)
        FDevice->SetTickSource(FTickSource);
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
