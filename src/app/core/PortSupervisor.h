// The tracer port's supervisor: which link the settings ask for (a serial port, a TCP port to
// listen on, or a host to connect to), opening it, trying again every few seconds while it cannot
// be opened or after it was lost, and the state it reports with the status words the window shows.
// Plain C++: the part that opens the link and keeps the time drives it through TPortLink.
#pragma once

#include "common/RecordList.h"

#include <cstdint>
#include <functional>
#include <string>

enum class TLinkType : uint8_t { Serial, TcpListen, TcpConnect };

// The link as the settings describe it.
struct TLinkSettings {
    TLinkType Type = TLinkType::Serial;
    std::string SerialPort;
    int32_t BaudRate = 9600;
    int32_t TcpPort = 0; // 1..65535 when usable
    std::string TcpHost;

    // From TracerPortType, TracerCOMPort, BaudRate, TracerTCPPort and TracerTCPHost.
    static TLinkSettings Read(const TRecordList& settings);
    // Stores the TCP keys and the port type (the serial keys are the dialog's own); a missing
    // TracerPortType means serial, so serial removes it, and empty values remove their keys.
    static void WriteTcp(TRecordList& settings, bool tcp, const std::string& port, const std::string& host);
    // True when there is something to open: a serial port's name, a TCP port number (and host).
    bool Usable() const;
    // How the status and the log name the link: the port's name, "TCP port 5000", "host:5000".
    std::string Name() const;
    bool operator==(const TLinkSettings&) const = default;
};

// Why a link does not open, as far as the operator can act on it.
enum class TOpenProblem : uint8_t { Other, Permission, InUse };

struct TOpenFailure {
    std::string Reason; // the system's words (for a serial port, the words of PortOpenRefusal)
    TOpenProblem Problem = TOpenProblem::Other;
};

enum class TPortStatus : uint8_t {
    Closed,
    Connecting, // a connection to a host is under way
    Open,
    Lost,      // was open, has gone; tried again
    CannotOpen // did not open; tried again when the settings name something to open
};

struct TLinkState {
    TPortStatus Status = TPortStatus::Closed;
    TLinkSettings Link;
    std::string Reason; // Lost and CannotOpen: the system's words; empty when nothing was tried
    TOpenProblem Problem = TOpenProblem::Other;
    bool Retrying = false;

    bool Permission() const { return Problem == TOpenProblem::Permission; }
    // The state is good news (black, regular), not a problem (red, bold).
    bool Ready() const { return Status == TPortStatus::Open || Status == TPortStatus::Connecting; }
    bool operator==(const TLinkState&) const = default;
};

inline constexpr int kPortRetryIntervalMs = 3000;

// The status line's words for a state: "Ready on port COM3", "Ready on TCP port 5000",
// "Connected to host:5000", the port's problems and "  Trying again every 3 seconds." when it is.
std::string PortStatusText(const TLinkState& state);

// What the supervisor drives: the link itself.
class TPortLink {
public:
    enum class TOpened : uint8_t { Now, Pending, Failed };
    virtual ~TPortLink() = default;
    // Opens the link as `link` says. Pending: a connection is under way, and its end is told to
    // the supervisor (Opened or OpenFailed). Failed: `failure` says why.
    virtual TOpened Open(const TLinkSettings& link, TOpenFailure& failure) = 0;
    virtual void Close() = 0;
};

class TPortSupervisor {
public:
    explicit TPortSupervisor(TPortLink& link) : FLink(link) {}

    // Every change of state, once.
    std::function<void(const TLinkState& state)> OnState;

    const TLinkState& State() const { return FState; }
    const TLinkSettings& Link() const { return FSettings; }
    // True while the retry interval should run: RetryDue is then due every kPortRetryIntervalMs.
    bool Retrying() const { return FState.Retrying; }

    // Opens the link `link` describes, closing the one open before.
    void Apply(const TLinkSettings& link);
    // The retry interval has passed: closes and opens again (not while a connection is under way).
    void RetryDue();
    // A connection under way has been made, or failed.
    void Opened();
    void OpenFailed(const TOpenFailure& failure);
    // The open line has gone. The link is closed by the caller, once the report has returned.
    void LineLost(const std::string& reason);
    // Closes the link; no more retries.
    void Close();

private:
    void Open(bool retry);
    void Report(TLinkState state);

    TPortLink& FLink;
    TLinkSettings FSettings;
    TLinkState FState;
    bool FPending = false;
};
