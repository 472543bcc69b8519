// The wake-up descriptor and the modem-line thread of the POSIX serial device.
#include "link/Comms_posix_wait.h"
#include "link/CommSettings.h"

#include <cerrno>
#include <chrono>
#include <utility>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#include <sys/eventfd.h>
#endif

namespace comms_os {

// ---- the wake-up descriptor ----

bool TWakeup::Create() {
#ifdef __linux__
    FRead = TUniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    return FRead.Valid();
#else
    int fds[2];
    if (::pipe(fds) != 0)
        return false;
    FRead = TUniqueFd(fds[0]);
    FWrite = TUniqueFd(fds[1]);
    for (int fd : fds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    return true;
#endif
}

void TWakeup::Signal() const {
#ifdef __linux__
    const uint64_t one = 1;
    ssize_t n;
    do
        n = ::write(FRead.Get(), &one, sizeof one);
    while (n < 0 && errno == EINTR);
#else
    const char one = 1;
    ssize_t n;
    do
        n = ::write(FWrite.Get(), &one, 1);
    while (n < 0 && errno == EINTR);
#endif
}

void TWakeup::Drain() const {
    char buffer[64];
    while (::read(FRead.Get(), buffer, sizeof buffer) > 0) {
    }
}

// ---- the modem-line thread ----

namespace {

// TIOCMIWAIT returns only when a line changes; a signal without SA_RESTART is the one way to end
// the wait from outside.
[[maybe_unused]] int ModemWakeSignal() {
    return SIGRTMIN + 3;
}

extern "C" void IgnoreModemWakeSignal(int) {}

[[maybe_unused]] void InstallModemWakeSignal() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = IgnoreModemWakeSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: the interrupted ioctl returns EINTR
        ::sigaction(ModemWakeSignal(), &action, nullptr);
    });
}

} // namespace

void TModemWatch::Start([[maybe_unused]] int Fd, [[maybe_unused]] std::function<void(uint32_t)> Changed) {
#if defined(TIOCMIWAIT)
    if (FThread.joinable())
        return;
    FFd = Fd;
    FChanged = std::move(Changed);
    InstallModemWakeSignal();
    FThread = std::thread([this] { Run(); });
#endif
}

void TModemWatch::Run() {
#if defined(TIOCMIWAIT)
    int lines = 0;
    ::ioctl(FFd, TIOCMGET, &lines);
#ifdef TIOCGICOUNT
    // The counters catch short pulses (a ring) that are over before the lines are read.
    serial_icounter_struct counted{};
    const bool counters = ::ioctl(FFd, TIOCGICOUNT, &counted) == 0;
#endif
    while (!FStop.load()) {
        if (::ioctl(FFd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CD) != 0) {
            if (errno == EINTR)
                continue;
            break; // the driver cannot wait for line changes, or the line is gone
        }
        int now = 0;
        if (::ioctl(FFd, TIOCMGET, &now) != 0)
            break;
        const int changed = now ^ lines;
        lines = now;
        uint32_t flags = 0;
        if ((changed & TIOCM_CTS) != 0)
            flags |= EV_CTS;
        if ((changed & TIOCM_DSR) != 0)
            flags |= EV_DSR;
        if ((changed & TIOCM_RNG) != 0)
            flags |= EV_RING;
        if ((changed & TIOCM_CD) != 0)
            flags |= EV_RLSD;
#ifdef TIOCGICOUNT
        serial_icounter_struct after{};
        if (counters && ::ioctl(FFd, TIOCGICOUNT, &after) == 0) {
            if (after.cts != counted.cts)
                flags |= EV_CTS;
            if (after.dsr != counted.dsr)
                flags |= EV_DSR;
            if (after.rng != counted.rng)
                flags |= EV_RING;
            if (after.dcd != counted.dcd)
                flags |= EV_RLSD;
            counted = after;
        }
#endif
        if (flags != 0)
            FChanged(flags);
    }
#endif
    {
        std::lock_guard lock(FLock);
        FEnded = true;
    }
    FEndedChanged.notify_all();
}

void TModemWatch::Stop() {
    if (!FThread.joinable())
        return;
    FStop = true;
    {
        // The signal may arrive just before the thread enters TIOCMIWAIT; repeat it until the
        // thread has ended.
        std::unique_lock lock(FLock);
        while (!FEnded) {
            ::pthread_kill(FThread.native_handle(), ModemWakeSignal());
            FEndedChanged.wait_for(lock, std::chrono::milliseconds(10), [this] { return FEnded; });
        }
    }
    FThread.join();
}

} // namespace comms_os
