// TTracerPort: the tracer's link as the settings describe it (a serial port, a TCP port to listen
// on, or a host to connect to), opened on the machine and tried again every few seconds while it
// cannot be opened or after it was lost. TPortSupervisor (app/core) decides; this class carries its
// decisions out on the machine and the timer and tells it what the machine reports.
#pragma once

#include "app/core/PortSupervisor.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class QTimer;
class TCustomMachine;

class TTracerPort : public QObject, private TPortLink {
    Q_OBJECT
public:
    // Takes over the machine's OnLineLost, OnLineOpened and OnOpenFailed.
    explicit TTracerPort(TCustomMachine& machine, QObject* parent = nullptr);
    ~TTracerPort() override;

    // Every change of the port's state; the window shows PortStatusText of it.
    std::function<void(const TLinkState& state)> OnState;

    // Opens the link `link` describes, closing the one before (the retries of the old link end).
    void Apply(const TLinkSettings& link);
    // Closes the link; no more retries.
    void Stop();
    const TLinkState& State() const { return FSupervisor.State(); }
    // True while the link is tried again every kPortRetryIntervalMs.
    bool Retrying() const;

private:
    TOpened Open(const TLinkSettings& link, TOpenFailure& failure) override;
    void Close() override;
    void RetryDue();
    // Runs a decision of the supervisor and sets the retry timer after it.
    void Decide(const std::function<void()>& decision);

    TCustomMachine& FMachine;
    TPortSupervisor FSupervisor{*this};
    QTimer* FRetryTimer = nullptr;
    // While Open runs: what the machine reported of the connection meanwhile.
    bool FOpening = false;
    std::optional<TOpenFailure> FFailedWhileOpening;
    bool FOpenedWhileOpening = false;
};
