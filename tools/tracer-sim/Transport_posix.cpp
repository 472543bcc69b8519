// The simulator's transports over POSIX: termios, openpty, poll and sockets.
#include "Transport.h"

#include "SimError.h"

#include "common/UniqueFd.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

using TClock = std::chrono::steady_clock;

std::string ErrnoText(int error) {
    return std::strerror(error);
}

int RemainingMs(TClock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
}

TClock::time_point DeadlineAfter(int ms) {
    return TClock::now() + std::chrono::milliseconds(ms);
}

// poll() for one descriptor, resumed after signals until the deadline.
int PollOne(int fd, short events, int timeoutMs, short& revents) {
    const auto deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, timeoutMs);
        if (r >= 0 || errno != EINTR) {
            revents = p.revents;
            return r;
        }
        timeoutMs = RemainingMs(deadline);
    }
}

void SetNonBlockingCloseOnExec(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        throw ESimError("cannot make the line non-blocking: " + ErrnoText(errno));
    const int fdFlags = ::fcntl(fd, F_GETFD);
    if (fdFlags >= 0)
        ::fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC);
}

class TFdTransport final : public TSimTransport {
public:
    TFdTransport(TUniqueFd fd, std::string name) : FFd(std::move(fd)), FName(std::move(name)) {
        SetNonBlockingCloseOnExec(FFd.Get());
        struct stat st {};
        FSocket = ::fstat(FFd.Get(), &st) == 0 && S_ISSOCK(st.st_mode);
    }

    // A serial device gets its settings back, and others may open it again, when we are done.
    void RestoreOnClose(const termios& saved) {
        FSaved = saved;
        FRestore = true;
    }

    ~TFdTransport() override {
        if (FRestore) {
            ::tcsetattr(FFd.Get(), TCSANOW, &FSaved);
            ::ioctl(FFd.Get(), TIOCNXCL);
        }
    }

    void Write(std::string_view bytes, int timeoutMs) override {
        const auto deadline = DeadlineAfter(timeoutMs);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const char* data = bytes.data() + done;
            const std::size_t size = bytes.size() - done;
            // A socket whose peer has gone would raise SIGPIPE on write().
            const ssize_t n = FSocket ? ::send(FFd.Get(), data, size, MSG_NOSIGNAL) : ::write(FFd.Get(), data, size);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                short revents = 0;
                const int r = PollOne(FFd.Get(), POLLOUT, RemainingMs(deadline), revents);
                if (r == 0)
                    throw ESimError(FName + " took no data for " + std::to_string(timeoutMs) + " ms");
                if (r < 0)
                    throw ESimError("waiting to write to " + FName + ": " + ErrnoText(errno));
                continue;
            }
            ClosedOrFailed("writing to", n < 0 ? errno : EIO);
        }
    }

    bool WaitReadable(int timeoutMs) override {
        short revents = 0;
        const int r = PollOne(FFd.Get(), POLLIN, timeoutMs, revents);
        if (r < 0)
            throw ESimError("waiting for data from " + FName + ": " + ErrnoText(errno));
        return r > 0;
    }

    std::size_t Read(std::string& into) override {
        const ssize_t n = ::read(FFd.Get(), FChunk.data(), FChunk.size());
        if (n > 0) {
            into.append(FChunk.data(), static_cast<std::size_t>(n));
            return static_cast<std::size_t>(n);
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return 0;
        // End of file on a socket; EIO on a pty master whose other end is no longer open.
        ClosedOrFailed("reading from", n == 0 ? EIO : errno);
    }

    const std::string& Name() const override { return FName; }

    // A pty master we created: the other end's path lives as long as the master does.
    void KeepPtyOpen(int settleMs) {
        FPtyMaster = true;
        FSettleMs = settleMs;
    }

    bool AwaitReopened(int timeoutMs) override {
        if (!FPtyMaster)
            return false;
        if (!WaitForPtyOpened(FFd.Get(), FName, timeoutMs, FSettleMs, false))
            return false;
        // Whatever was written while nobody listened belongs to a job that is over.
        ::tcflush(FFd.Get(), TCIOFLUSH);
        return true;
    }

    // True when the program holds the other end of our pty open (Linux reports POLLHUP on the
    // master while nobody does); waits up to `timeoutMs` for it, then `settleMs` more, since a
    // program that only probes the port opens and closes it again. `raise`: a timeout throws.
    static bool WaitForPtyOpened(int master, const std::string& path, int timeoutMs, int settleMs, bool raise);

private:
    [[noreturn]] void ClosedOrFailed(const std::string& doing, int error) const {
        if (error == EIO || error == ECONNRESET || error == EPIPE)
            throw ELineClosed("the other side closed the line (" + FName + ")");
        throw ESimError(doing + " " + FName + ": " + ErrnoText(error));
    }

    TUniqueFd FFd;
    std::string FName;
    bool FSocket = false;
    bool FRestore = false;
    bool FPtyMaster = false;
    int FSettleMs = 0;
    termios FSaved{};
    std::vector<char> FChunk = std::vector<char>(65536);
};

struct TBaud {
    unsigned Rate;
    speed_t Code;
};

constexpr TBaud kBauds[] = {
    {1200, B1200},     {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400},   {57600, B57600}, {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

// True while nobody holds the other end of the pty open: Linux then reports POLLHUP on the master.
bool OtherEndClosed(int master) {
    short revents = 0;
    return PollOne(master, POLLIN, 0, revents) > 0 && (revents & POLLHUP) != 0;
}

bool TFdTransport::WaitForPtyOpened(int master, const std::string& path, int timeoutMs, int settleMs, bool raise) {
    const auto deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        while (OtherEndClosed(master)) {
            if (TClock::now() >= deadline) {
                if (raise)
                    throw ESimError("nobody opened " + path + " within " + std::to_string(timeoutMs) + " ms");
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (settleMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
        if (!OtherEndClosed(master))
            return true;
    }
}

} // namespace

std::unique_ptr<TSimTransport> MakeFdTransport(int fd, std::string name) {
    return std::make_unique<TFdTransport>(TUniqueFd(fd), std::move(name));
}

bool IsStandardBaud(unsigned baud) {
    for (const TBaud& b : kBauds)
        if (b.Rate == baud)
            return true;
    return false;
}

std::unique_ptr<TSimTransport> OpenSerialDevice(const std::string& path, unsigned baud) {
    speed_t speed = 0;
    for (const TBaud& b : kBauds)
        if (b.Rate == baud)
            speed = b.Code;
    if (speed == 0)
        throw ESimError("unsupported baud rate " + std::to_string(baud));

    TUniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0)
        throw ESimError("cannot open " + path + ": " + ErrnoText(errno));
    // Two programs on one line would each see half of the other's bytes; refuse a device in use.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) < 0 && errno == EWOULDBLOCK)
        throw ESimError(path + " is in use by another program");
    if (::ioctl(fd.Get(), TIOCEXCL) < 0 && errno != ENOTTY && errno != EINVAL)
        throw ESimError("cannot take exclusive use of " + path + ": " + ErrnoText(errno));

    termios saved{};
    if (::tcgetattr(fd.Get(), &saved) < 0)
        throw ESimError(path + " is not a serial line: " + ErrnoText(errno));
    termios raw = saved;
    ::cfmakeraw(&raw);
    raw.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS | CSIZE);
    raw.c_cflag |= CS8 | CLOCAL | CREAD;
    raw.c_iflag &= ~(IXON | IXOFF | IXANY);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    ::cfsetispeed(&raw, speed);
    ::cfsetospeed(&raw, speed);
    if (::tcsetattr(fd.Get(), TCSANOW, &raw) < 0)
        throw ESimError("cannot set up " + path + ": " + ErrnoText(errno));
    // Whatever waited on the line from before is no part of this conversation.
    ::tcflush(fd.Get(), TCIOFLUSH);

    auto transport = std::make_unique<TFdTransport>(std::move(fd), path);
    transport->RestoreOnClose(saved);
    return transport;
}

std::unique_ptr<TSimTransport> OpenPty(const std::function<void(const std::string& path)>& announce, int waitOpenMs,
                                       int settleMs) {
    int masterFd = -1, slaveFd = -1;
    if (::openpty(&masterFd, &slaveFd, nullptr, nullptr, nullptr) < 0)
        throw ESimError("cannot create a pseudo-terminal: " + ErrnoText(errno));
    TUniqueFd master(masterFd), slave(slaveFd);
    char path[256];
    if (::ptsname_r(master.Get(), path, sizeof path) != 0)
        throw ESimError("cannot name the pseudo-terminal: " + ErrnoText(errno));
    // Raw before anyone opens it: an echoing line discipline would send our packets straight back.
    termios t{};
    if (::tcgetattr(slave.Get(), &t) == 0) {
        ::cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(slave.Get(), TCSANOW, &t);
    }
    SetNonBlockingCloseOnExec(master.Get());
    // Our own copy of the other end would hide whether the program has it open.
    slave.Close();
    announce(path);

    TFdTransport::WaitForPtyOpened(master.Get(), path, waitOpenMs, settleMs, true);
    auto transport = std::make_unique<TFdTransport>(std::move(master), path);
    transport->KeepPtyOpen(settleMs);
    return transport;
}

std::unique_ptr<TSimTransport> ConnectTcp(const std::string& hostPort, int timeoutMs) {
    std::string host, port;
    SplitHostPort(hostPort, host, port);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0)
        throw ESimError("cannot resolve " + hostPort + ": " + ::gai_strerror(rc));
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);

    const auto deadline = DeadlineAfter(timeoutMs);
    int lastError = ECONNREFUSED;
    for (const addrinfo* a = addresses.get(); a != nullptr; a = a->ai_next) {
        TUniqueFd fd(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
        if (fd.Get() < 0) {
            lastError = errno;
            continue;
        }
        if (::connect(fd.Get(), a->ai_addr, a->ai_addrlen) < 0) {
            if (errno != EINPROGRESS) {
                lastError = errno;
                continue;
            }
            short revents = 0;
            if (PollOne(fd.Get(), POLLOUT, RemainingMs(deadline), revents) <= 0) {
                lastError = ETIMEDOUT;
                continue;
            }
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) < 0 || error != 0) {
                lastError = error != 0 ? error : errno;
                continue;
            }
        }
        // Replies are small and latency matters more than packing them.
        const int one = 1;
        ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return MakeFdTransport(fd.Release(), hostPort);
    }
    throw ESimError("cannot connect to " + hostPort + ": " + ErrnoText(lastError));
}

std::unique_ptr<TSimTransport> ListenTcp(const std::string& address, const std::function<void(unsigned port)>& announce,
                                         int waitOpenMs, int settleMs) {
    std::string host;
    unsigned port = 0;
    SplitListenAddress(address, host, port);
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof(sockaddr_in);
    if (host.empty()) {
        auto* any = reinterpret_cast<sockaddr_in*>(&bound);
        any->sin_family = AF_INET;
        any->sin_addr.s_addr = htonl(INADDR_ANY);
        any->sin_port = htons(static_cast<uint16_t>(port));
    } else {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
        addrinfo* found = nullptr;
        if (const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); rc != 0)
            throw ESimError("cannot resolve " + host + ": " + ::gai_strerror(rc));
        std::memcpy(&bound, found->ai_addr, found->ai_addrlen);
        boundLength = found->ai_addrlen;
        ::freeaddrinfo(found);
    }
    auto listener =
        std::make_shared<TUniqueFd>(::socket(bound.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (listener->Get() < 0)
        throw ESimError("cannot make a socket: " + ErrnoText(errno));
    // A tracer restarted at once takes its port again.
    const int one = 1;
    ::setsockopt(listener->Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listener->Get(), reinterpret_cast<const sockaddr*>(&bound), boundLength) < 0 ||
        ::listen(listener->Get(), 1) < 0)
        throw ESimError("cannot listen on " + address + ": " + ErrnoText(errno));
    socklen_t length = sizeof bound;
    ::getsockname(listener->Get(), reinterpret_cast<sockaddr*>(&bound), &length);
    const unsigned listening = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                                 : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    const std::string name = "TCP port " + std::to_string(listening);
    announce(listening);

    TLineFactory accept = [listener, name, settleMs](int timeoutMs) -> std::unique_ptr<TSimTransport> {
        short revents = 0;
        if (PollOne(listener->Get(), POLLIN, timeoutMs, revents) <= 0)
            return nullptr;
        TUniqueFd fd(::accept4(listener->Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (fd.Get() < 0)
            throw ESimError("cannot take the connection on " + name + ": " + ErrnoText(errno));
        const int noDelay = 1;
        ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        if (settleMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
        return MakeFdTransport(fd.Release(), name);
    };
    auto first = accept(waitOpenMs);
    if (!first)
        throw ESimError("nobody connected to " + name + " within " + std::to_string(waitOpenMs) + " ms");
    return MakeRelinkingTransport(std::move(first), std::move(accept), name);
}

} // namespace sim
