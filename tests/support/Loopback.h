// Loopback TCP for the tests (POSIX): a listener on a port the system picks, and a port that
// nothing listens on.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

// Listens on 127.0.0.1 with `backlog` on a port the system picks and fills `address` with where;
// -1 when the system refuses any step.
inline int ListenOnLoopback(int backlog, sockaddr_in& address) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, backlog) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// A loopback port that nothing listens on: bound, read and let go again (0 when refused).
// `address`, when given, gets it as a socket address.
inline uint16_t FreeLoopbackPort(sockaddr_in* address = nullptr) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof bound;
    const bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&bound), sizeof bound) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0;
    if (fd >= 0)
        ::close(fd);
    if (address)
        *address = bound;
    return ok ? ntohs(bound.sin_port) : 0;
}
