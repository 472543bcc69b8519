// The tracer port: the supervisor's decisions carried out on the machine and the retry timer.
#include "app/port/TracerPort.h"

#include "app/core/CommLog.h"
#include "link/Machine.h"
#include "link/PortList.h"

#include <QTcpServer>
#include <QTimer>

#include <exception>

namespace {

// The reasons the operator can act on are told apart from the system's other texts.
TOpenFailure SerialFailure(const TPortCheck& refusal) {
    switch (refusal.State) {
    case psNoPermission:
        return {refusal.Reason, TOpenProblem::Permission};
    case psInUse:
        return {refusal.Reason, TOpenProblem::InUse};
    default:
        return {refusal.Reason, TOpenProblem::Other};
    }
}

TOpenFailure ListenFailure(const QTcpServer& server) {
    TOpenFailure failure{server.errorString().toStdString(), TOpenProblem::Other};
    if (server.serverError() == QAbstractSocket::SocketAccessError)
        failure.Problem = TOpenProblem::Permission; // a port below 1024
    else if (server.serverError() == QAbstractSocket::AddressInUseError)
        failure.Problem = TOpenProblem::InUse;
    return failure;
}

} // namespace

TTracerPort::TTracerPort(TCustomMachine& machine, QObject* parent) : QObject(parent), FMachine(machine) {
    FRetryTimer = new QTimer(this);
    FRetryTimer->setInterval(kPortRetryIntervalMs);
    connect(FRetryTimer, &QTimer::timeout, this, [this] { Decide([this] { FSupervisor.RetryDue(); }); });
    FSupervisor.OnState = [this](const TLinkState& state) {
        if (OnState)
            OnState(state);
    };
    FMachine.OnLineLost = [this](QObject*, const TLineLost& lost) {
        CommLog().Add(lost.Text());
        Decide([&] { FSupervisor.LineLost(lost.Reason); });
        // The report comes from inside the port's own delivery: it is closed once that has returned.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (FSupervisor.State().Status != TPortStatus::Lost)
                    return; // reopened meanwhile
                try {
                    FMachine.SetActive(false);
                } catch (...) {
                }
            },
            Qt::QueuedConnection);
    };
    FMachine.OnLineOpened = [this](QObject*) {
        if (FOpening) {
            FOpenedWhileOpening = true;
            return;
        }
        Decide([this] { FSupervisor.Opened(); });
    };
    FMachine.OnOpenFailed = [this](QObject*, const std::string& reason) {
        if (FOpening) {
            FFailedWhileOpening = TOpenFailure{reason, TOpenProblem::Other};
            return;
        }
        Decide([&] { FSupervisor.OpenFailed({reason, TOpenProblem::Other}); });
    };
}

TTracerPort::~TTracerPort() {
    FMachine.OnLineLost = nullptr;
    FMachine.OnLineOpened = nullptr;
    FMachine.OnOpenFailed = nullptr;
    FSupervisor.OnState = nullptr;
}

void TTracerPort::Apply(const TLinkSettings& link) {
    Decide([&] { FSupervisor.Apply(link); });
}

void TTracerPort::Stop() {
    Decide([this] { FSupervisor.Close(); });
}

bool TTracerPort::Retrying() const {
    return FSupervisor.Retrying();
}

void TTracerPort::Decide(const std::function<void()>& decision) {
    decision();
    if (!FSupervisor.Retrying())
        FRetryTimer->stop();
    else if (!FRetryTimer->isActive())
        FRetryTimer->start();
}

TPortLink::TOpened TTracerPort::Open(const TLinkSettings& link, TOpenFailure& failure) {
    FOpening = true;
    FFailedWhileOpening.reset();
    FOpenedWhileOpening = false;
    try {
        switch (link.Type) {
        case TLinkType::Serial:
            FMachine.SetPortType(ptSerialPort);
            // The name as the settings hold it (a device path, or COM3 on Windows).
            FMachine.ComPort()->SetPort(link.SerialPort);
            FMachine.ComPort()->SetBaudRate(link.BaudRate);
            break;
        case TLinkType::TcpListen:
        case TLinkType::TcpConnect:
            FMachine.SetPortType(ptTCPIP);
            FMachine.SetTcpHost(link.TcpHost);
            FMachine.SetPortNumber(static_cast<uint16_t>(link.TcpPort));
            break;
        }
        FMachine.SetActive(true);
    } catch (const EComPortOpen& e) {
        FOpening = false;
        failure = SerialFailure(e.Refusal);
        return TOpened::Failed;
    } catch (const std::exception& e) {
        FOpening = false;
        failure = link.Type == TLinkType::TcpListen ? ListenFailure(*FMachine.ServerSocket())
                                                    : TOpenFailure{e.what(), TOpenProblem::Other};
        return TOpened::Failed;
    } catch (...) {
        FOpening = false;
        failure = {"Unknown error", TOpenProblem::Other};
        return TOpened::Failed;
    }
    FOpening = false;
    if (FFailedWhileOpening) {
        failure = *FFailedWhileOpening;
        return TOpened::Failed;
    }
    if (link.Type != TLinkType::TcpConnect || FOpenedWhileOpening)
        return TOpened::Now;
    return TOpened::Pending;
}

void TTracerPort::Close() {
    try {
        FMachine.SetActive(false);
    } catch (...) {
        // A port that will not close cleanly is closed as far as it goes; the next open says more.
    }
}
