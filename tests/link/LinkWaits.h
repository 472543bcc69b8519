// Helpers of the link tests on every platform: waits on the Qt event loop with generous deadlines
// (they wait for events, they never measure speed) and test payloads.
#pragma once

#include "PollUntil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <functional>
#include <random>
#include <string>
#include <thread>

namespace link_test {

inline constexpr int kDeadlineMs = 10000;

// Runs the event loop until Condition holds or the deadline passes. Unlike a sleep-and-poll
// wait, every posted event (a delivery from an event thread) is handled as soon as it arrives.
inline bool WaitFor(const std::function<bool()>& Condition, int TimeoutMs = kDeadlineMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer heartbeat; // bounds each wait of the loop, so the deadline is noticed
    heartbeat.start(5);
    while (!Condition()) {
        if (elapsed.elapsed() > TimeoutMs)
            return Condition();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Waits without running the event loop (for states the event thread reaches by itself).
inline bool WaitWithoutEvents(const std::function<bool()>& Condition, int TimeoutMs = kDeadlineMs) {
    return test_support::PollUntil(Condition, TimeoutMs);
}

inline std::string AllByteValues() {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<char>(i));
    return bytes;
}

inline std::string RandomBytes(size_t Size, unsigned Seed = 7) {
    std::mt19937 random(Seed);
    std::string bytes(Size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

} // namespace link_test
