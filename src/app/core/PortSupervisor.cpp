// The tracer port's supervisor: the link from the settings, its opening, retries and status words.
#include "app/core/PortSupervisor.h"

#include "app/core/Settings.h"
#include "common/Numbers.h"
#include "common/Text.h"

#include <string_view>
#include <utility>

namespace {

const std::string kRetrying = "  Trying again every " + std::to_string(kPortRetryIntervalMs / 1000) + " seconds.";

std::string WithFullStop(const std::string& text) {
    return text.ends_with('.') ? text : text + ".";
}

std::string CannotOpenText(const TLinkState& state) {
    const TLinkSettings& link = state.Link;
    if (link.Type == TLinkType::Serial) {
        // What the operator can act on (a group to join, another program to end) is said; anything
        // else sends the operator to Settings.
        if (state.Problem != TOpenProblem::Other && !link.SerialPort.empty())
            return "Cannot open tracer COM port " + link.SerialPort + ": " + WithFullStop(state.Reason);
        return "Cannot open tracer COM port.  Please see Settings.";
    }
    if (state.Reason.empty())
        return "Cannot open tracer TCP port.  Please see Settings.";
    if (link.Type == TLinkType::TcpListen)
        return "Cannot listen on " + link.Name() + ": " + WithFullStop(state.Reason);
    return "Cannot connect to " + link.Name() + ": " + WithFullStop(state.Reason);
}

} // namespace

TLinkSettings TLinkSettings::Read(const TRecordList& settings) {
    TLinkSettings link;
    link.SerialPort = settings.Value(setting::TracerCOMPort);
    link.BaudRate = SettingInt(settings, setting::BaudRate, setting::DefaultBaudRate);
    if (SameTextAscii(Trim(settings.Value(setting::TracerPortType)), setting::PortTypeTCP)) {
        // Blanks around a typed host are no part of it.
        const std::string host = settings.Value(setting::TracerTCPHost);
        link.TcpHost = std::string(Trim(host));
        link.Type = link.TcpHost.empty() ? TLinkType::TcpListen : TLinkType::TcpConnect;
        link.TcpPort = SettingInt(settings, setting::TracerTCPPort, 0);
    }
    return link;
}

void TLinkSettings::WriteTcp(TRecordList& settings, bool tcp, const std::string& port, const std::string& host) {
    settings.SetValue(setting::TracerPortType, tcp ? setting::PortTypeTCP : std::string_view());
    settings.SetValue(setting::TracerTCPPort, Trim(port));
    settings.SetValue(setting::TracerTCPHost, Trim(host));
}

bool TLinkSettings::Usable() const {
    if (Type == TLinkType::Serial)
        return !SerialPort.empty();
    return TcpPort >= 1 && TcpPort <= 65535;
}

std::string TLinkSettings::Name() const {
    switch (Type) {
    case TLinkType::Serial:
        return SerialPort;
    case TLinkType::TcpListen:
        return "TCP port " + std::to_string(TcpPort);
    case TLinkType::TcpConnect:
        // An IPv6 literal is bracketed, so that its port stays apart.
        return (TcpHost.find(':') != std::string::npos ? "[" + TcpHost + "]" : TcpHost) + ":" + std::to_string(TcpPort);
    }
    return {};
}

std::string PortStatusText(const TLinkState& state) {
    std::string text;
    switch (state.Status) {
    case TPortStatus::Closed:
        return "Ready";
    case TPortStatus::Connecting:
        return "Connecting to " + state.Link.Name();
    case TPortStatus::Open:
        if (state.Link.Type == TLinkType::TcpConnect)
            return "Connected to " + state.Link.Name();
        return (state.Link.Type == TLinkType::Serial ? "Ready on port " : "Ready on ") + state.Link.Name();
    case TPortStatus::Lost:
        // The operator learns that nothing needs doing: the line comes back by itself when it can.
        text = WithFullStop("Connection lost on " + state.Link.Name() + ": " + state.Reason);
        break;
    case TPortStatus::CannotOpen:
        text = CannotOpenText(state);
        break;
    }
    return state.Retrying ? text + kRetrying : text;
}

void TPortSupervisor::Apply(const TLinkSettings& link) {
    FLink.Close();
    FPending = false;
    FSettings = link;
    // The outcome is reported even when it is the same as before: the window shows it anew.
    FState = TLinkState{};
    Open(false);
}

void TPortSupervisor::RetryDue() {
    if (!FState.Retrying || FPending)
        return;
    FLink.Close();
    Open(true);
}

void TPortSupervisor::Open(bool retry) {
    TLinkState state;
    state.Link = FSettings;
    if (!FSettings.Usable()) {
        // Nothing to open until the settings name it; nothing to try again either.
        state.Status = TPortStatus::CannotOpen;
        Report(std::move(state));
        return;
    }
    TOpenFailure failure;
    switch (FLink.Open(FSettings, failure)) {
    case TPortLink::TOpened::Now:
        state.Status = TPortStatus::Open;
        break;
    case TPortLink::TOpened::Pending:
        FPending = true;
        // A retry keeps saying what is wrong until the connection is made.
        if (retry)
            return;
        state.Status = TPortStatus::Connecting;
        break;
    case TPortLink::TOpened::Failed:
        OpenFailed(failure);
        return;
    }
    Report(std::move(state));
}

void TPortSupervisor::Opened() {
    if (!FPending)
        return;
    FPending = false;
    TLinkState state;
    state.Status = TPortStatus::Open;
    state.Link = FSettings;
    Report(std::move(state));
}

void TPortSupervisor::OpenFailed(const TOpenFailure& failure) {
    FPending = false;
    // While the line is still gone the lost-line message stays; a port that may well appear later
    // (an adapter plugged in, a simulator started, a host switched on) is tried again quietly.
    if (FState.Status == TPortStatus::Lost && FState.Link == FSettings)
        return;
    TLinkState state;
    state.Status = TPortStatus::CannotOpen;
    state.Link = FSettings;
    state.Reason = failure.Reason;
    state.Problem = failure.Problem;
    state.Retrying = true;
    Report(std::move(state));
}

void TPortSupervisor::LineLost(const std::string& reason) {
    if (FState.Status == TPortStatus::Lost)
        return; // one loss, one report
    FPending = false;
    TLinkState state;
    state.Status = TPortStatus::Lost;
    state.Link = FSettings;
    state.Reason = reason;
    state.Retrying = true;
    Report(std::move(state));
}

void TPortSupervisor::Close() {
    FPending = false;
    FLink.Close();
    TLinkState state;
    state.Link = FSettings;
    Report(std::move(state));
}

void TPortSupervisor::Report(TLinkState state) {
    if (state == FState)
        return;
    FState = std::move(state);
    if (OnState)
        OnState(FState);
}
