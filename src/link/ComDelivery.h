// The event thread of an open port and the object that runs its deliveries on the opening thread.
// Both belong to TComPort, which creates them at the open and ends them at the close.
#pragma once

#include "link/CommSettings.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TComPort;

namespace comms_os {
class TComDevice;
}

// The event thread of one open port: waits for line events on the device and hands each batch to
// the port's delivery. It is created by Open and ended by Close.
class TComThread {
public:
    TComThread(TComPort& ComPort, comms_os::TComDevice& Device, uint32_t Mask, TSyncMethod SyncMethod,
               QObject* DeliveryTarget, std::string PortName);
    // Signals the stop and waits until the thread has ended.
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // Starts the thread; the port calls it once its own record of the thread is complete, so a
    // handler run by the thread sees the port fully open.
    void Start();
    void Stop();
    bool IsCurrent() const;

private:
    friend class TComPort;
    void Execute();
    // Close called by a handler running on this very thread: the thread cannot be waited for, so
    // it takes over its own object and the device and frees both when its loop ends.
    void HandOver(std::unique_ptr<TComThread> Self, std::unique_ptr<comms_os::TComDevice> Device);

    TComPort& FComPort;
    comms_os::TComDevice& FDevice;
    const uint32_t FMask;
    const TSyncMethod FSyncMethod;
    QObject* const FDeliveryTarget;
    const std::string FPortName;
    uint32_t FEventMask = 0; // flags of the batch being delivered
    std::unique_ptr<TComThread> FSelf;
    std::unique_ptr<comms_os::TComDevice> FOwnedDevice;
    bool FHandedOver = false;
    std::atomic<std::thread::id> FThreadId{}; // set by the thread itself
    std::mutex FStartLock;                    // held by Start until FThread is complete
    std::thread FThread;
};

// The delivery target of smWindow: an object living in the thread that opened the port, which
// runs the line events the event thread sends it.
class TComWindow : public QObject {
    Q_OBJECT

public:
    explicit TComWindow(TComPort& ComPort) : FComPort(ComPort) {}

private Q_SLOTS:
    void RunPendingDelivery();

private:
    TComPort& FComPort;
};
