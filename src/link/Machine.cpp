// The machine base and the tracer's trace store: transport choice, receive buffer rules, port-name
// normalisation, sending, and the TCP listener with its clients.
#include "link/Machine.h"

#include "common/Numbers.h"
#include "common/Text.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

const std::string kDevicePrefix = "\\\\.\\"; // backslash, backslash, full stop, backslash

} // namespace

TCustomMachine::TCustomMachine(QObject* Owner) : QObject(Owner) {
    FComPort = new TComPort(this);
    FServerSocket = new QTcpServer(this);
    FComPort->OnRxChar = [this](QObject* Sender, int InQue) { ComPortRxChar(Sender, InQue); };
    FComPort->OnEventError = [this](QObject*, const std::string& Message) { ReportLinkError(Message); };
    FComPort->OnLineLost = [this](QObject*, const TLineLost& Lost) { LineLost(Lost); };
    // Only the events handled here: any other one costs the event thread a blocking round trip
    // to this thread, and "all sent" would make one after every reply, just when the tracer's
    // next packet may arrive (about a tenth of the reply latency). A lost line is reported
    // whatever the mask.
    FComPort->SetEvents(TEvents{evRxChar, evError});
    connect(FServerSocket, &QTcpServer::newConnection, this, &TCustomMachine::AcceptClients);
}

TCustomMachine::~TCustomMachine() {
    // A descendant is already gone: none of the handlers it bound may run while the port closes.
    OnRecvData = nullptr;
    OnSendData = nullptr;
    OnLinkError = nullptr;
    OnLineLost = nullptr;
    OnLineOpened = nullptr;
    OnOpenFailed = nullptr;
    delete FComPort;
    FComPort = nullptr;
    StopListening();
    DropConnection();
    delete FServerSocket;
    FServerSocket = nullptr;
}

bool TCustomMachine::Active() const {
    if (FPortType == ptTCPIP && !FTcpHost.empty())
        return FConnectSocket && FConnectSocket->state() != QAbstractSocket::UnconnectedState;
    if (FPortType == ptTCPIP)
        return FServerSocket->isListening();
    return FComPort->Active();
}

void TCustomMachine::SetActive(bool Value) {
    if (Value == Active())
        return;
    if (Value)
        OpenLink();
    else
        CloseLink();
}

void TCustomMachine::OpenLink() {
    if (Active())
        return;
    if (FPortType == ptTCPIP && !FTcpHost.empty()) {
        Connect();
        return;
    }
    if (FPortType == ptTCPIP) {
        FServerSocket->setListenBacklogSize(5);
        if (!FServerSocket->listen(QHostAddress::AnyIPv4, FPortNumber))
            throw ESocketError("Unable to listen on TCP port " + std::to_string(FPortNumber) + ": " +
                               FServerSocket->errorString().toStdString());
        return;
    }
    FComPort->SetActive(true);
}

void TCustomMachine::CloseLink() {
    FComPort->SetActive(false);
    StopListening();
    DropConnection();
    // Nothing can complete a packet the closed line left unfinished; kept, it would spoil the
    // first packet of the line opened next.
    Discard(rdLineClosed);
}

QTcpSocket* TCustomMachine::ConnectSocket() const {
    return FConnectSocket.data();
}

std::string TCustomMachine::HostName() const {
    // An IPv6 literal is bracketed, so that its port stays apart.
    const std::string host = FTcpHost.find(':') != std::string::npos ? "[" + FTcpHost + "]" : FTcpHost;
    return host + ":" + std::to_string(FPortNumber);
}

void TCustomMachine::Connect() {
    DropConnection();
    auto* socket = new QTcpSocket(this);
    FConnectSocket = socket;
    FConnected = false;
    // Replies are small and the tracer waits for each; a dead network is noticed without traffic.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { SocketClientRead(socket); });
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        FConnected = true;
        FReplySocket = socket;
        if (OnLineOpened)
            OnLineOpened(this);
    });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, socket] { ConnectionFailed(socket, socket->errorString().toStdString()); });
    // A host that takes no connection and refuses none (switched off, a firewall that drops) would
    // otherwise keep the attempt for minutes.
    auto* timeout = new QTimer(socket);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, this, [this, socket] {
        if (!FConnected)
            ConnectionFailed(socket, "No answer within " + std::to_string((FConnectTimeoutMs + 999) / 1000) +
                                         (FConnectTimeoutMs > 1000 ? " seconds" : " second"));
    });
    timeout->start(FConnectTimeoutMs);
    socket->connectToHost(QString::fromStdString(FTcpHost), FPortNumber);
}

void TCustomMachine::ConnectionFailed(QTcpSocket* Socket, const std::string& Reason) {
    if (Socket != FConnectSocket.data())
        return; // an old connection's last word
    const bool wasConnected = FConnected;
    // Reported once: the socket says no more after this.
    Socket->disconnect(this);
    Socket->abort();
    Socket->deleteLater();
    FConnectSocket = nullptr;
    FConnected = false;
    if (FReplySocket == Socket)
        FReplySocket = nullptr;
    if (wasConnected) {
        LineLost({HostName(), Reason});
        return;
    }
    if (!OnOpenFailed) {
        ReportLinkError("Unable to connect to " + HostName() + ": " + Reason);
        return;
    }
    try {
        OnOpenFailed(this, Reason);
    } catch (const std::exception& e) {
        ReportLinkError(e.what());
    }
}

void TCustomMachine::DropConnection() {
    QTcpSocket* socket = FConnectSocket.data();
    FConnectSocket = nullptr;
    FConnected = false;
    if (socket == nullptr)
        return;
    if (FReplySocket == socket)
        FReplySocket = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater(); // it may be the one whose handler is running
}

void TCustomMachine::StopListening() {
    FServerSocket->close();
    for (const QPointer<QTcpSocket>& client : FClients) {
        if (!client)
            continue;
        client->disconnect(this);
        client->abort();
        client->deleteLater(); // it may be the one whose handler is running
    }
    FClients.clear();
    FReplySocket = nullptr;
}

std::string TCustomMachine::PortName() const {
    const std::string& port = FComPort->Port();
    if (port.compare(0, kDevicePrefix.size(), kDevicePrefix) == 0)
        return port.substr(kDevicePrefix.size(), 99);
    return port;
}

void TCustomMachine::SetPortName(const std::string& Value) {
    std::string name = Value;
    if (name.compare(0, 2, "\\\\") != 0) {
        if (!StartsWithTextAscii(name, "com"))
            name = "COM" + name;
        name = kDevicePrefix + name;
    }
    FComPort->SetPort(name);
}

uint16_t TCustomMachine::PortNumber() const {
    return FServerSocket->isListening() ? FServerSocket->serverPort() : FPortNumber;
}

void TCustomMachine::SetPortNumber(uint16_t Value) {
    if (Value == FPortNumber)
        return;
    if (FServerSocket->isListening())
        throw ESocketError("Cannot change the TCP port while the listener is active");
    FPortNumber = Value;
}

void TCustomMachine::SetTickSource(std::function<uint32_t()> Source) {
    FComPort->SetTickSource(std::move(Source));
}

void TCustomMachine::SetLoopbackSink(std::function<void(const std::string&)> Sink) {
    FLoopbackSink = std::move(Sink);
}

void TCustomMachine::InjectReceived(std::string_view Bytes) {
    AppendLimited(Bytes);
    if (OnRecvData)
        OnRecvData(this);
}

void TCustomMachine::SendData(const std::string& Data) {
    if (OnSendData)
        OnSendData(this, Data);
    if (FLoopbackSink) {
        FLoopbackSink(Data);
        return;
    }
    if (FPortType == ptSerialPort) {
        FComPort->Write(Data, false); // -1 (still running) is fine: the port finishes it
        return;
    }
    QTcpSocket* socket = FTcpHost.empty() ? FReplySocket.data() : FConnectSocket.data();
    if (socket == nullptr || socket->state() != QAbstractSocket::ConnectedState)
        throw ESocketError("No TCP connection to send to");
    if (socket->write(Data.data(), static_cast<qint64>(Data.size())) < 0)
        throw ESocketError("Unable to send over TCP: " + socket->errorString().toStdString());
    socket->flush();
}

void TCustomMachine::SetBaudRate(uint16_t Value) {
    FComPort->SetBaudRate(Value);
}

void TCustomMachine::SetDataBits(int Value) {
    FComPort->SetDataBits(Value);
}

void TCustomMachine::SetParity(char Value) {
    switch (Value) {
    case 'N':
        FComPort->Parity().SetBits(prNone);
        break;
    case 'O':
        FComPort->Parity().SetBits(prOdd);
        break;
    case 'E':
        FComPort->Parity().SetBits(prEven);
        break;
    case 'M':
        FComPort->Parity().SetBits(prMark);
        break;
    case 'S':
        FComPort->Parity().SetBits(prSpace);
        break;
    default:
        break; // anything else, lower case included, changes nothing
    }
}

void TCustomMachine::SetStopBits(float Value) {
    if (Value == 1.0f)
        FComPort->SetStopBits(sbOneStopBit);
    else if (Value == 1.5f)
        FComPort->SetStopBits(sbOne5StopBits);
    else if (Value == 2.0f)
        FComPort->SetStopBits(sbTwoStopBits);
}

void TCustomMachine::SetReadBufSize(uint16_t Value) {
    FComPort->SetReadBufSize(Value);
}

void TCustomMachine::SetWriteBufSize(uint16_t Value) {
    FComPort->SetWriteBufSize(Value);
}

void TCustomMachine::AppendLimited(std::string_view Bytes) {
    FRxBuffer.append(Bytes);
    if (FRxBuffer.size() > MaxRxBuffer)
        Discard(rdTooLong); // the new bytes too; exactly MaxRxBuffer survives
}

void TCustomMachine::Discard(TRxDiscard Reason) {
    const size_t length = FRxBuffer.size();
    if (length == 0)
        return;
    FRxBuffer.clear();
    if (OnRxDiscarded)
        OnRxDiscarded(this, length, Reason);
}

std::string TCustomMachine::RxDiscardedText(size_t Length, TRxDiscard Reason) {
    std::string text = "Discarded " + std::to_string(Length) + " characters received without a complete packet (";
    if (Reason == rdLineLost)
        text += "the line was lost";
    else if (Reason == rdLineClosed)
        text += "the line was closed";
    else
        text += "limit " + std::to_string(MaxRxBuffer);
    return text + ")";
}

void TCustomMachine::ComPortRxChar(QObject* Sender, int InQue) {
    auto* port = qobject_cast<TComPort*>(Sender);
    if (port == nullptr)
        port = FComPort;
    std::string chunk;
    TRxArrivals arrivals;
    port->Read(chunk, InQue, false, arrivals);
    // The gap is the silence on the line: from the arrival of the previous bytes to the arrival
    // of the next ones, modulo 2^32, however late either was read. A silence inside this chunk
    // drops what came before it too.
    size_t keepFrom = 0;
    for (const TRxArrival& arrival : arrivals) {
        if (static_cast<uint32_t>(arrival.Tick - FLastRxTick) > FBufferTimeout) {
            FRxBuffer.clear();
            keepFrom = arrival.Offset;
        }
        FLastRxTick = arrival.Tick;
    }
    AppendLimited(std::string_view(chunk).substr(std::min(keepFrom, chunk.size())));
    if (OnRecvData)
        OnRecvData(this); // its exceptions travel back through the port's delivery
}

void TCustomMachine::LineLost(const TLineLost& Lost) {
    // A packet the lost line left unfinished can never be completed; kept, it would spoil the
    // first packet of the next line.
    Discard(rdLineLost);
    if (!OnLineLost) {
        ReportLinkError(Lost.Text());
        return;
    }
    try {
        OnLineLost(this, Lost);
    } catch (const std::exception& e) {
        ReportLinkError(e.what());
    } catch (...) {
        ReportLinkError(Lost.Text());
    }
}

void TCustomMachine::AcceptClients() {
    while (FServerSocket->hasPendingConnections()) {
        QTcpSocket* socket = FServerSocket->nextPendingConnection();
        if (socket == nullptr)
            break;
        std::erase_if(FClients, [](const QPointer<QTcpSocket>& client) { return client.isNull(); });
        FClients.emplace_back(socket);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { SocketClientRead(socket); });
        // A tracer that hangs up inside a packet never finishes it; kept, its bytes would spoil
        // the first packet of whichever connection speaks next.
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (FReplySocket == socket)
                Discard(rdLineLost);
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void TCustomMachine::SocketClientRead(QTcpSocket* Socket) {
    const QByteArray bytes = Socket->readAll();
    FReplySocket = Socket;
    // No gap test here; the size limit applies as on the serial path, since an unbounded buffer
    // fed from the network is a fault.
    AppendLimited(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    if (!OnRecvData)
        return;
    // Nothing may be thrown through the event loop: the error goes to the link's report.
    try {
        OnRecvData(this);
    } catch (const std::exception& e) {
        ReportLinkError(e.what());
    } catch (...) {
        ReportLinkError("Unknown exception in the receive handler");
    }
}

void TCustomMachine::ReportLinkError(const std::string& Message) {
    if (!OnLinkError) {
        qWarning("%s", Message.c_str());
        return;
    }
    try {
        OnLinkError(this, Message);
    } catch (...) {
        qWarning("%s", Message.c_str());
    }
}

// ---- TTracer -------------------------------------------------------------------------------

TTracer::TTracer(QObject* Owner) : TCustomMachine(Owner) {
    ClearTrace();
}

void TTracer::ClearTrace() {
    FPoints.clear();
    FDBL = 0;
}

void TTracer::AddPoint(double Radius) {
    if (!(Radius >= 0))
        throw Exception("Invalid point value " + FloatToStr(Radius));
    AppendPoint(FPoints, Radius);
}

void TTracer::AddPointHundredths(int Hundredths) {
    if (Hundredths >= 0 && Hundredths <= 9999)
        AppendField(FPoints, static_cast<unsigned>(Hundredths));
    else
        AddPoint(Hundredths / 100.0);
}

std::string TTracer::FormatPoint(double Radius) {
    std::string text;
    AppendPoint(text, Radius);
    return text;
}

void TTracer::AppendField(std::string& Out, unsigned Value) {
    // Written in place: a field built on the stack and copied as one word would wait for its
    // four byte stores.
    const std::size_t at = Out.size();
    Out.resize(at + 4);
    char* const field = Out.data() + at;
    // Two pairs of digits, each split on its own: no chain of four divisions.
    const unsigned high = Value / 100;
    const unsigned low = Value % 100;
    field[0] = Value >= 1000 ? static_cast<char>('0' + high / 10) : ' ';
    field[1] = Value >= 100 ? static_cast<char>('0' + high % 10) : ' ';
    field[2] = Value >= 10 ? static_cast<char>('0' + low / 10) : ' ';
    field[3] = static_cast<char>('0' + low % 10);
}

void TTracer::AppendPoint(std::string& Out, double Radius) {
    const double value = Radius < 300 ? Radius * 100 : Radius;
    // The usual point, at most four digits and well clear of a rounding tie, is written directly.
    if (value >= 0 && value < 9999.5) {
        // Away from a tie, adding a half and cutting the fraction off is rounding to nearest.
        const auto digits = static_cast<unsigned>(value + 0.5);
        if (std::fabs(value - digits) < 0.49) {
            AppendField(Out, digits);
            return;
        }
    }
    // "%4.0f" without printf: to_chars never looks at the C locale.
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 0);
    const std::string_view text = result.ec == std::errc() ? std::string_view(buffer, result.ptr - buffer) : "?";
    if (text.size() < 4)
        Out.append(4 - text.size(), ' ');
    Out.append(text);
}

void TTracer::SetJobNo(const std::string& Value) {
    FJobNo = Value;
    size_t drop = 0;
    while (drop < FJobNo.size() && static_cast<unsigned char>(FJobNo[drop]) < 0x31)
        ++drop;
    FJobNo.erase(0, drop);
}
