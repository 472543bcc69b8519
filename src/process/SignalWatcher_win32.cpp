// The console's control events (Ctrl+C, Ctrl+Break, the console closed, log-off, shut-down) are
// the termination signals of Windows. The handler runs on a thread of its own: it queues the
// call to the user-interface thread and, for the events after which Windows ends the process,
// waits a little so that the settings can be saved first.
#include "process/SignalWatcher_win32.h"
#include "process/SignalWatcher.h"

#include <QMetaObject>
#include <QPointer>

#include <atomic>
#include <csignal>

#include <windows.h>

namespace {

std::atomic<TSignalWatcher*> gWatcher{nullptr};

int SignalOf(DWORD event) {
    return event == CTRL_C_EVENT ? SIGINT : SIGTERM;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    TSignalWatcher* watcher = gWatcher.load();
    if (!watcher)
        return FALSE;
    const int signalNumber = SignalOf(event);
    QMetaObject::invokeMethod(
        watcher,
        [watcher, signalNumber] {
            if (watcher->OnSignal)
                watcher->OnSignal(signalNumber);
        },
        Qt::QueuedConnection);
    // After these the process ends when the handler returns: give the program time to close.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        for (int i = 0; i < 40 && gWatcher.load() == watcher; ++i)
            ::Sleep(100);
    }
    return TRUE;
}

} // namespace

struct TSignalWatcher::TSystem {};

int ConsoleEventForWatcher(unsigned long event) {
    return OnConsoleEvent(event);
}

TSignalWatcher::TSignalWatcher(QObject* parent) : QObject(parent) {
    gWatcher = this;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

TSignalWatcher::~TSignalWatcher() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    gWatcher = nullptr;
}
