// Termination signals (SIGTERM, SIGINT, SIGHUP; on Windows the console's control events) turned
// into a call on the user-interface thread, so the program can end the normal way: settings
// saved, exit code 0.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

class TSignalWatcher : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; only one watcher may exist at a time.
    explicit TSignalWatcher(QObject* parent = nullptr);
    ~TSignalWatcher() override;

    // Called on the thread that created the watcher, once per signal received.
    std::function<void(int signalNumber)> OnSignal;

#ifndef _WIN32
private:
    // The self-pipe of the POSIX signal handler; Windows calls in through its console handler.
    void ReadPending();

    int FPipe[2] = {-1, -1};
    QSocketNotifier* FNotifier = nullptr;
#endif
};
