// Termination signals (SIGTERM, SIGINT, SIGHUP; on Windows the console's control events) turned
// into a call on the user-interface thread, so that a program can end the normal way: the
// operator program with its settings saved, a tool with its port closed.
#pragma once

#include <QObject>

#include <functional>
#include <memory>

class TSignalWatcher : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; only one watcher may exist at a time.
    explicit TSignalWatcher(QObject* parent = nullptr);
    ~TSignalWatcher() override;

    // Called on the thread that created the watcher, once per signal received (SIGINT, SIGTERM or
    // SIGHUP; a console's Ctrl+C counts as SIGINT, its other events as SIGTERM).
    std::function<void(int signalNumber)> OnSignal;

private:
    // Each system's own means of hearing the signals.
    struct TSystem;
    std::unique_ptr<TSystem> FSystem;
};
