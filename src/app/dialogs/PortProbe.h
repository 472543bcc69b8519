// TPortProbe: probes the serial ports on a pool thread while the settings dialog stays responsive,
// and hands the list to the dialog on its own thread.
#pragma once

#include "link/PortList.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QObject;

class TPortProbe : public std::enable_shared_from_this<TPortProbe> {
public:
    using TDone = std::function<void(const std::vector<TSerialPortEntry>& ports)>;

    // Probes the candidates under `deviceFolder`, and `extraPort` too when it is a device path that
    // is not among them; with `extraIsOpen` (this program holds it) `extraPort` is listed without a
    // probe. Ports that open, and those that do not for want of permission or because another
    // program holds them (with the reason in Problem), are handed to `done`. `done` runs on `receiver`'s thread, never
    // after Cancel() has returned. `receiver` must call Cancel() before it is destroyed.
    static std::shared_ptr<TPortProbe> Start(QObject* receiver, std::string deviceFolder, std::string extraPort,
                                             bool extraIsOpen, TDone done);

    // No further port is opened; waits only for the one being opened right now, if any, so that
    // no port stays held by the probe after this returns.
    void Cancel();

private:
    TPortProbe(QObject* receiver, TDone done) : FReceiver(receiver), FDone(std::move(done)) {}
    void Run(const std::string& deviceFolder, const std::string& extraPort, bool extraIsOpen);
    // False once cancelled; otherwise marks a port as being opened.
    bool BeginOpen();
    void EndOpen();

    std::mutex FMutex;
    std::condition_variable FIdle;
    bool FCancelled = false;
    bool FOpening = false;
    QObject* FReceiver; // valid while not cancelled
    TDone FDone;        // called on the receiver's thread only
};
