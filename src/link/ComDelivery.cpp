// The event thread of an open port and the delivery of its line events to the handlers, on the
// thread the port's SyncMethod names, with the reports of handler errors and of a lost line.
#include "link/ComDelivery.h"

#include "link/CommDevice.h"
#include "link/Comms.h"

#include <QMetaObject>
#include <QThread>
#include <QtGlobal>

#include <exception>

namespace {

// The order in which the flags of one batch reach their handlers.
constexpr uint32_t kDeliveryOrder[] = {EV_RXCHAR, EV_TXEMPTY, EV_BREAK, EV_RING, EV_CTS,
                                       EV_DSR,    EV_RXFLAG,  EV_RLSD,  EV_ERR,  EV_RX80FULL};

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
            FComPort.ReportLineLost({FPortName, comms_os::SystemErrorText(events.LostError)}, FSyncMethod);
    }
    FDevice.Purge();
    if (FHandedOver) {
        // This object and the device belong to the thread now; nothing may touch them afterwards.
        std::unique_ptr<TComThread> self = std::move(FSelf);
        return;
    }
    FComPort.EventThreadEnded();
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
    if (FDevice)
        FDevice->Delivered();
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
    Report({Message, false, {}}, Method);
}

void TComPort::ReportLineLost(const TLineLost& Lost, TSyncMethod Method) {
    Report({{}, true, Lost}, Method);
}

void TComPort::Report(TReport Report, TSyncMethod Method) {
    if (Method == smNone) {
        CallReport(Report);
        return;
    }
    // Never blocks the event thread: the report waits for the owning thread.
    {
        std::lock_guard lock(FReportLock);
        FReports.push_back(std::move(Report));
    }
    QMetaObject::invokeMethod(this, "RunReports", Qt::QueuedConnection);
}

void TComPort::RunReports() {
    std::vector<TReport> reports;
    {
        std::lock_guard lock(FReportLock);
        reports.swap(FReports);
    }
    const std::weak_ptr<int> life = FLife;
    for (const TReport& report : reports) {
        CallReport(report);
        if (life.expired())
            return;
    }
}

void TComPort::CallReport(const TReport& Report) {
    const std::string message = Report.Lost ? Report.Line.Text() : Report.Message;
    try {
        if (Report.Lost && OnLineLost) {
            OnLineLost(this, Report.Line);
            return;
        }
        if (OnEventError) {
            OnEventError(this, message);
            return;
        }
    } catch (...) {
        // The report is the last stop: nothing may cross the event loop.
    }
    qWarning("%s", message.c_str());
}
