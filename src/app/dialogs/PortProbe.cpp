// The port probe's worker and its hand-over to the user-interface thread.
#include "app/dialogs/PortProbe.h"

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>

#include <algorithm>
#include <filesystem>

std::shared_ptr<TPortProbe> TPortProbe::Start(QObject* receiver, std::string deviceFolder, std::string extraPort,
                                              bool extraIsOpen, TDone done) {
    std::shared_ptr<TPortProbe> probe(new TPortProbe(receiver, std::move(done)));
    // The worker holds its own reference, so the state outlives whichever side finishes last.
    QThreadPool::globalInstance()->start([probe, folder = std::move(deviceFolder), extra = std::move(extraPort),
                                          extraIsOpen] { probe->Run(folder, extra, extraIsOpen); });
    return probe;
}

void TPortProbe::Cancel() {
    std::unique_lock lock(FMutex);
    FCancelled = true;
    FIdle.wait(lock, [this] { return !FOpening; });
}

bool TPortProbe::BeginOpen() {
    std::lock_guard lock(FMutex);
    if (FCancelled)
        return false;
    FOpening = true;
    return true;
}

void TPortProbe::EndOpen() {
    {
        std::lock_guard lock(FMutex);
        FOpening = false;
    }
    FIdle.notify_all();
}

void TPortProbe::Run(const std::string& deviceFolder, const std::string& extraPort, bool extraIsOpen) {
    std::vector<TSerialPortEntry> candidates = SerialPortCandidates(deviceFolder);
    const bool listed = std::any_of(candidates.begin(), candidates.end(),
                                    [&](const TSerialPortEntry& entry) { return entry.Port == extraPort; });
    if (!listed && !extraPort.empty() && extraPort.front() == '/') {
        candidates.push_back({extraPort, extraPort, {}});
        std::sort(candidates.begin(), candidates.end(),
                  [](const TSerialPortEntry& a, const TSerialPortEntry& b) { return NaturalLess(a.Port, b.Port); });
    }

    // The port this program holds would fail the probe under each of its names (the stable by-id
    // name and the device it leads to).
    const auto device = [](const std::string& path) {
        std::error_code error;
        const std::filesystem::path resolved = std::filesystem::canonical(path, error);
        return error ? path : resolved.string();
    };
    const std::string held = extraIsOpen ? device(extraPort) : std::string();

    std::vector<TSerialPortEntry> shown;
    for (TSerialPortEntry& candidate : candidates) {
        if (extraIsOpen && (candidate.Port == extraPort || device(candidate.Port) == held)) {
            shown.push_back(std::move(candidate));
            continue;
        }
        if (!BeginOpen())
            return;
        const TPortCheck check = CheckSerialPort(candidate.Port);
        EndOpen();
        // A line the operator can make usable (join a group, end the other program) is listed with
        // what stands in the way; a name without a line behind it is not.
        if (check.State == psUnusable)
            continue;
        candidate.Problem = check.Reason;
        shown.push_back(std::move(candidate));
    }

    // Posting under the lock: Cancel() cannot return, and so the receiver cannot be destroyed,
    // while the call is being queued. A call still queued when the receiver dies is dropped with it.
    std::lock_guard lock(FMutex);
    if (FCancelled)
        return;
    QMetaObject::invokeMethod(
        FReceiver,
        [self = shared_from_this(), ports = std::move(shown)] {
            if (!self->FCancelled)
                self->FDone(ports);
        },
        Qt::QueuedConnection);
}
