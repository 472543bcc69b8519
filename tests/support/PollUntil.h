// A wait for a state another thread or process reaches by itself: the condition is polled with a
// short sleep, without running any event loop. Deadlines are generous; tests never measure speed.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace test_support {

// True once Condition holds; false after TimeoutMs.
inline bool PollUntil(const std::function<bool()>& Condition, int TimeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!Condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace test_support
