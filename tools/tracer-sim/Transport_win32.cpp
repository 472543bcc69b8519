// The simulator's side of the line on Windows: a COM port, or a TCP connection. Kept apart from the
// program's own serial port code, so the simulator stays an independent peer. Pseudo-terminals and
// inherited descriptors are POSIX only.
#include "SimError.h"
#include "Transport.h"

#include "common/Win32Text.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineAfter(int timeoutMs) {
    return Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
}

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<decltype(left)>(left, 0));
}

// A COM port read without blocking: the driver's timeouts make every read return at once with
// what is there; the wait for input looks at the driver's queue.
class TComTransport final : public TSimTransport {
public:
    TComTransport(HANDLE handle, std::string name) : FHandle(handle), FName(std::move(name)) {}
    ~TComTransport() override { ::CloseHandle(FHandle); }

    void Write(std::string_view bytes, int timeoutMs) override {
        const auto deadline = DeadlineAfter(timeoutMs);
        while (!bytes.empty()) {
            DWORD written = 0;
            if (!::WriteFile(FHandle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
                throw ESimError("cannot write to " + FName + ": " + Win32ErrorText(::GetLastError()));
            bytes.remove_prefix(written);
            if (written == 0 && RemainingMs(deadline) == 0)
                throw ESimError("the line took nothing for " + std::to_string(timeoutMs) + " ms");
        }
    }

    bool WaitReadable(int timeoutMs) override {
        const auto deadline = DeadlineAfter(timeoutMs);
        for (;;) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!::ClearCommError(FHandle, &errors, &status) || status.cbInQue > 0)
                return true;
            if (RemainingMs(deadline) == 0)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    std::size_t Read(std::string& into) override {
        char buffer[4096];
        DWORD got = 0;
        if (!::ReadFile(FHandle, buffer, sizeof buffer, &got, nullptr))
            throw ESimError("the line went away: " + Win32ErrorText(::GetLastError()));
        into.append(buffer, got);
        return got;
    }

    const std::string& Name() const override { return FName; }

private:
    HANDLE FHandle;
    std::string FName;
};

class TSocketTransport final : public TSimTransport {
public:
    TSocketTransport(SOCKET socket, std::string name) : FSocket(socket), FName(std::move(name)) {}
    ~TSocketTransport() override { ::closesocket(FSocket); }

    void Write(std::string_view bytes, int timeoutMs) override {
        const auto deadline = DeadlineAfter(timeoutMs);
        while (!bytes.empty()) {
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(FSocket, &writable);
            const int left = RemainingMs(deadline);
            timeval wait{left / 1000, (left % 1000) * 1000};
            if (::select(0, nullptr, &writable, nullptr, &wait) <= 0)
                throw ESimError("the line took nothing for " + std::to_string(timeoutMs) + " ms");
            const int sent = ::send(FSocket, bytes.data(), static_cast<int>(bytes.size()), 0);
            if (sent == SOCKET_ERROR)
                throw ESimError("cannot write to " + FName + ": " + Win32ErrorText(::WSAGetLastError()));
            bytes.remove_prefix(static_cast<size_t>(sent));
        }
    }

    bool WaitReadable(int timeoutMs) override {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(FSocket, &readable);
        timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        return ::select(0, &readable, nullptr, nullptr, &wait) != 0;
    }

    std::size_t Read(std::string& into) override {
        if (!WaitReadable(0))
            return 0;
        char buffer[4096];
        const int got = ::recv(FSocket, buffer, sizeof buffer, 0);
        // As on POSIX systems, a closed connection may be made again (AwaitReopened).
        if (got == 0)
            throw ELineClosed("the other side closed the line (" + FName + ")");
        if (got == SOCKET_ERROR) {
            const int error = ::WSAGetLastError();
            if (error == WSAECONNRESET || error == WSAECONNABORTED)
                throw ELineClosed("the other side closed the line (" + FName + ")");
            throw ESimError("the line went away: " + Win32ErrorText(error));
        }
        into.append(buffer, static_cast<size_t>(got));
        return static_cast<size_t>(got);
    }

    const std::string& Name() const override { return FName; }

private:
    SOCKET FSocket;
    std::string FName;
};

} // namespace

bool IsStandardBaud(unsigned baud) {
    static constexpr unsigned kRates[] = {110,   300,   600,   1200,  2400,   4800,  9600,
                                          14400, 19200, 38400, 57600, 115200, 230400};
    return std::find(std::begin(kRates), std::end(kRates), baud) != std::end(kRates);
}

std::unique_ptr<TSimTransport> MakeFdTransport(int, std::string name) {
    throw ESimError("cannot use " + name + ": descriptors are handed over on POSIX systems only");
}

std::unique_ptr<TSimTransport> OpenSerialDevice(const std::string& path, unsigned baud) {
    std::string device = path;
    if (device.rfind("\\\\.\\", 0) != 0)
        device = "\\\\.\\" + device;
    HANDLE handle =
        ::CreateFileW(Widen(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw ESimError("cannot open " + path + ": " + Win32ErrorText(::GetLastError()));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD; // a read returns at once with what is there
    timeouts.WriteTotalTimeoutConstant = 5000;
    if (!::GetCommState(handle, &dcb)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(handle);
        throw ESimError("cannot use " + path + ": " + Win32ErrorText(error));
    }
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    if (!::SetCommState(handle, &dcb) || !::SetCommTimeouts(handle, &timeouts)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(handle);
        throw ESimError("cannot set up " + path + ": " + Win32ErrorText(error));
    }
    return std::make_unique<TComTransport>(handle, path);
}

std::unique_ptr<TSimTransport> OpenPty(const std::function<void(const std::string& path)>&, int, int) {
    throw ESimError("pseudo-terminals are a POSIX feature: name a COM port or a TCP address instead");
}

namespace {

void StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        throw ESimError("cannot start Windows sockets");
}

} // namespace

std::unique_ptr<TSimTransport> ListenTcp(const std::string& address, const std::function<void(unsigned port)>& announce,
                                         int waitOpenMs, int settleMs) {
    StartSockets();
    std::string host;
    unsigned port = 0;
    SplitListenAddress(address, host, port);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(static_cast<u_short>(port));
    bound.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!host.empty() && ::inet_pton(AF_INET, host.c_str(), &bound.sin_addr) != 1)
        throw ESimError("expected an IPv4 address to listen on, got '" + host + "'");
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET)
        throw ESimError("cannot make a socket: " + Win32ErrorText(::WSAGetLastError()));
    auto owner = std::shared_ptr<void>(nullptr, [listener](void*) { ::closesocket(listener); });
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) == SOCKET_ERROR ||
        ::listen(listener, 1) == SOCKET_ERROR)
        throw ESimError("cannot listen on " + address + ": " + Win32ErrorText(::WSAGetLastError()));
    int length = sizeof bound;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length);
    const unsigned listening = ntohs(bound.sin_port);
    const std::string name = "TCP port " + std::to_string(listening);
    announce(listening);

    TLineFactory accept = [owner, listener, name, settleMs](int timeoutMs) -> std::unique_ptr<TSimTransport> {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener, &readable);
        timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        if (::select(0, &readable, nullptr, nullptr, &wait) <= 0)
            return nullptr;
        const SOCKET s = ::accept(listener, nullptr, nullptr);
        if (s == INVALID_SOCKET)
            throw ESimError("cannot take the connection on " + name + ": " + Win32ErrorText(::WSAGetLastError()));
        const BOOL one = TRUE;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        if (settleMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
        return std::make_unique<TSocketTransport>(s, name);
    };
    auto first = accept(waitOpenMs);
    if (!first)
        throw ESimError("nobody connected to " + name + " within " + std::to_string(waitOpenMs) + " ms");
    return MakeRelinkingTransport(std::move(first), std::move(accept), name);
}

std::unique_ptr<TSimTransport> ConnectTcp(const std::string& hostPort, int timeoutMs) {
    StartSockets();
    std::string host, port;
    SplitHostPort(hostPort, host, port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0)
        throw ESimError("cannot resolve " + hostPort + ": " + Win32ErrorText(static_cast<DWORD>(rc)));
    const auto deadline = DeadlineAfter(timeoutMs);
    DWORD lastError = WSAECONNREFUSED;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        for (;;) {
            SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
            if (s == INVALID_SOCKET) {
                lastError = ::WSAGetLastError();
                break;
            }
            if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
                ::freeaddrinfo(found);
                const BOOL one = TRUE;
                ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
                return std::make_unique<TSocketTransport>(s, hostPort);
            }
            lastError = ::WSAGetLastError();
            ::closesocket(s);
            // The program may not listen yet: try again until the deadline.
            if (RemainingMs(deadline) == 0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ::freeaddrinfo(found);
    throw ESimError("cannot connect to " + hostPort + ": " + Win32ErrorText(lastError));
}

} // namespace sim
