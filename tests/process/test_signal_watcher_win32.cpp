// The console-event path of the signal watcher on Windows. The handler runs as Windows runs it,
// on a thread of its own; the event must reach OnSignal on the watcher's thread, and for the
// events after which Windows ends the process, the handler must hold on until the program has
// closed (the watcher is gone), so that the settings are saved first.
#include "process/SignalWatcher.h"
#include "process/SignalWatcher_win32.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>
#include <vector>

#include <windows.h>

namespace {

constexpr int kPatienceMsecs = 10000;

// Runs the event loop until OnSignal has been called, or the patience runs out.
bool SpinUntil(const std::vector<int>& received) {
    const QDeadlineTimer deadline(kPatienceMsecs);
    while (received.empty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return !received.empty();
}

struct TEventCase {
    DWORD Event;
    int Signal;
    bool EndsProcess; // Windows ends the process once the handler returns
};

const TEventCase kEvents[] = {
    {CTRL_C_EVENT, SIGINT, false},      {CTRL_BREAK_EVENT, SIGTERM, false},   {CTRL_CLOSE_EVENT, SIGTERM, true},
    {CTRL_LOGOFF_EVENT, SIGTERM, true}, {CTRL_SHUTDOWN_EVENT, SIGTERM, true},
};

TEST(ConsoleEvents, ReachTheWatchersThread) {
    for (const TEventCase& c : kEvents) {
        SCOPED_TRACE(c.Event);
        auto watcher = std::make_unique<TSignalWatcher>();
        std::vector<int> received;
        const auto mainThread = std::this_thread::get_id();
        bool onMainThread = true;
        watcher->OnSignal = [&](int signalNumber) {
            received.push_back(signalNumber);
            onMainThread = onMainThread && std::this_thread::get_id() == mainThread;
        };
        std::atomic<bool> returned{false};
        std::atomic<int> result{-1};
        std::thread console([&] {
            result = ConsoleEventForWatcher(c.Event);
            returned = true;
        });
        ASSERT_TRUE(SpinUntil(received));
        EXPECT_EQ(received, std::vector<int>{c.Signal});
        EXPECT_TRUE(onMainThread);
        if (c.EndsProcess) {
            // Still waiting for the program to close; it closes.
            EXPECT_FALSE(returned.load());
            watcher.reset();
        }
        console.join();
        EXPECT_EQ(result.load(), TRUE);
    }
}

// Without a watcher the event goes on to the next handler (the system's: the process ends).
TEST(ConsoleEvents, PassOnWithoutAWatcher) {
    EXPECT_EQ(ConsoleEventForWatcher(CTRL_C_EVENT), FALSE);
    { TSignalWatcher watcher; }
    EXPECT_EQ(ConsoleEventForWatcher(CTRL_BREAK_EVENT), FALSE);
}

} // namespace
