// The pseudo-terminal pair of the tests.
#include "PtyPair.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace test_support {

namespace {
using TClock = std::chrono::steady_clock;

int MillisecondsLeft(TClock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}
} // namespace

TPtyPair::TPtyPair(TMode mode) {
    char name[256] = {};
    if (::openpty(&FMaster, &FSlave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    FSlavePath = name;
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    if (mode == pmRaw) {
        termios tio{};
        ::tcgetattr(FSlave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(FSlave, TCSANOW, &tio);
    }
}

TPtyPair::~TPtyPair() {
    Close();
}

void TPtyPair::CloseMaster() {
    if (FMaster >= 0)
        ::close(FMaster);
    FMaster = -1;
}

void TPtyPair::Close() {
    CloseMaster();
    if (FSlave >= 0)
        ::close(FSlave);
    FSlave = -1;
}

bool TPtyPair::Send(const std::string& bytes, int timeoutMs) const {
    std::size_t done = 0;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    while (done < bytes.size()) {
        const ssize_t n = ::write(FMaster, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
        const int left = MillisecondsLeft(deadline);
        if (left == 0)
            return false;
        pollfd fd{FMaster, POLLOUT, 0};
        ::poll(&fd, 1, left);
    }
    return true;
}

std::string TPtyPair::Receive(std::size_t count, int timeoutMs) const {
    std::string bytes;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[65536];
    while (bytes.size() < count) {
        const int left = MillisecondsLeft(deadline);
        if (left == 0)
            break;
        pollfd fd{FMaster, POLLIN, 0};
        if (::poll(&fd, 1, left) <= 0)
            continue;
        const ssize_t n = ::read(FMaster, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n > 0)
            bytes.append(buffer, static_cast<std::size_t>(n));
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            break;
    }
    return bytes;
}

int TPtyPair::SlaveDriverQueue() const {
    int count = 0;
    ::ioctl(FSlave, FIONREAD, &count);
    return count;
}

termios TPtyPair::SlaveSettings() const {
    termios tio{};
    ::tcgetattr(FSlave, &tio);
    return tio;
}

} // namespace test_support
