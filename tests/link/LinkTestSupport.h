// Helpers of the link tests: a pseudo-terminal pair whose master side plays the tracer, and waits
// on the Qt event loop with generous deadlines (they wait for events, they never measure speed).
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QtCore/qtestsupport_core.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!Condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
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

// A pseudo-terminal pair: the port under test opens the slave by its path; the test holds the
// master (the tracer's end of the cable) and a descriptor of the slave for looking at its settings.
class TPtyPair {
public:
    TPtyPair() {
        char name[128] = {};
        if (::openpty(&FMaster, &FSlave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        FSlavePath = name;
        // Non-blocking, so that a test that fails cannot hang in a write or read of the master.
        ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    }
    ~TPtyPair() {
        CloseMaster();
        if (FSlave >= 0)
            ::close(FSlave);
    }
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    const std::string& SlavePath() const { return FSlavePath; }
    int Master() const { return FMaster; }
    int Slave() const { return FSlave; }

    // The cable is pulled.
    void CloseMaster() {
        if (FMaster >= 0)
            ::close(FMaster);
        FMaster = -1;
    }

    // The tracer sends; true when the line has taken everything before the deadline.
    bool Send(const std::string& Bytes, int TimeoutMs = kDeadlineMs) const {
        size_t done = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
        while (done < Bytes.size()) {
            const ssize_t n = ::write(FMaster, Bytes.data() + done, Bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EINTR && errno != EAGAIN)
                return false;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count();
            if (left <= 0)
                return false;
            pollfd fd{FMaster, POLLOUT, 0};
            ::poll(&fd, 1, static_cast<int>(left));
        }
        return true;
    }

    // The tracer receives exactly Count bytes, or what has come when the deadline passes.
    std::string Receive(size_t Count, int TimeoutMs = kDeadlineMs) const {
        std::string bytes;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
        char buffer[65536];
        while (bytes.size() < Count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count();
            if (left <= 0)
                break;
            pollfd fd{FMaster, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(left)) <= 0)
                continue;
            const ssize_t n = ::read(FMaster, buffer, std::min(sizeof buffer, Count - bytes.size()));
            if (n > 0)
                bytes.append(buffer, static_cast<size_t>(n));
            else if (n < 0 && errno != EINTR && errno != EAGAIN)
                break;
        }
        return bytes;
    }

    // Bytes the port has not read yet from the slave's driver queue.
    int SlaveDriverQueue() const {
        int count = 0;
        ::ioctl(FSlave, FIONREAD, &count);
        return count;
    }

    termios SlaveSettings() const {
        termios tio{};
        ::tcgetattr(FSlave, &tio);
        return tio;
    }

private:
    int FMaster = -1;
    int FSlave = -1;
    std::string FSlavePath;
};

} // namespace link_test
