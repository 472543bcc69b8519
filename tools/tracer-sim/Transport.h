// The simulator's side of the line: a serial device, a pseudo-terminal pair it creates itself, a
// TCP connection it makes or takes, or any descriptor a test or benchmark already holds. Plain POSIX, so the
// simulator stays an independent peer of the program's own serial port code.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace sim {

class TSimTransport {
public:
    virtual ~TSimTransport() = default;
    // Writes every byte, with a single write() whenever the line takes them at once. Raises
    // ESimError when the line goes away or takes nothing for `timeoutMs`.
    virtual void Write(std::string_view bytes, int timeoutMs) = 0;
    // Waits up to `timeoutMs` (0: just looks) for bytes to read; true also when the line has
    // gone away, which the next Read reports.
    virtual bool WaitReadable(int timeoutMs) = 0;
    // Appends the bytes waiting now and returns their number (0 when none are there yet).
    // Raises ESimError when the other side has closed the line.
    virtual std::size_t Read(std::string& into) = 0;
    virtual const std::string& Name() const = 0;
    // After ELineClosed: waits up to `timeoutMs` for the other side to open the line again and
    // returns true once it has, with nothing of the old conversation left on the line; false
    // when this line cannot come back (a socket, a descriptor of someone else's).
    virtual bool AwaitReopened(int /*timeoutMs*/) { return false; }
};

// Takes ownership of an open descriptor (a pty master, a socket, one end of a socketpair) and
// makes it non-blocking.
std::unique_ptr<TSimTransport> MakeFdTransport(int fd, std::string name);

// Opens a serial device for exclusive use: raw 8N1, no flow control, at a standard baud rate.
// The line's settings are restored when the transport is destroyed.
std::unique_ptr<TSimTransport> OpenSerialDevice(const std::string& path, unsigned baud);
bool IsStandardBaud(unsigned baud);

// Creates a pseudo-terminal pair in raw mode, hands the other end's path to `announce`, and waits
// up to `waitOpenMs` until another process (or thread) has opened it; then pauses `settleMs` so
// the program can finish setting up its side before the first packet arrives. The pair stays
// while the transport lives, so the program may close the path and open it again
// (AwaitReopened).
std::unique_ptr<TSimTransport> OpenPty(const std::function<void(const std::string& path)>& announce, int waitOpenMs,
                                       int settleMs);

// Splits HOST:PORT ("[v6]:PORT" for an IPv6 literal); raises ESimError when either part is missing.
void SplitHostPort(const std::string& hostPort, std::string& host, std::string& port);

// Connects to HOST:PORT ("[v6]:PORT" for an IPv6 literal) with TCP_NODELAY.
std::unique_ptr<TSimTransport> ConnectTcp(const std::string& hostPort, int timeoutMs);

// ConnectTcp for a tracer that stays on while the program restarts: after ELineClosed,
// AwaitReopened connects again, trying until its time is up.
std::unique_ptr<TSimTransport> ConnectTcpAgainOnClose(const std::string& hostPort, int timeoutMs);

// A tracer the program connects to: listens on [HOST:]PORT (every IPv4 address when no host is
// given; port 0 takes a free one), hands the port listened on to `announce`, waits up to
// `waitOpenMs` for the program's connection and then pauses `settleMs`. After ELineClosed,
// AwaitReopened takes the program's next connection.
std::unique_ptr<TSimTransport> ListenTcp(const std::string& address, const std::function<void(unsigned port)>& announce,
                                         int waitOpenMs, int settleMs);

// The parts of ListenTcp every platform shares. SplitListenAddress: "[HOST:]PORT" into its host
// (empty for every address) and port, raising ESimError when the port is not 0..65535.
void SplitListenAddress(const std::string& address, std::string& host, unsigned& port);
// A line that another one replaces after the program closed it: `again` makes the next (null when
// none came within the time it was given).
using TLineFactory = std::function<std::unique_ptr<TSimTransport>(int timeoutMs)>;
std::unique_ptr<TSimTransport> MakeRelinkingTransport(std::unique_ptr<TSimTransport> first, TLineFactory again,
                                                      std::string name);

} // namespace sim
