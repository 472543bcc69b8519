// The machine base: TCustomMachine owns the tracer's transport (the serial port, a TCP listener, or a
// TCP connection it makes to a host),
// gathers every received byte into one receive buffer, tells its protocol handler through
// OnRecvData that the buffer has grown, and sends the handler's replies. TTracer adds the store of
// the trace being received (points, DBL, job number).
#pragma once

#include "common/Errors.h"
#include "link/Comms.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QTcpServer;
class QTcpSocket;

enum TPortType : uint8_t { ptSerialPort = 0, ptTCPIP = 1 };

// Failures of the TCP transport (listening, changing the port while listening, no connection to
// answer to).
class ESocketError : public Exception {
public:
    using Exception::Exception;
};

// Why received characters were dropped without making a packet.
enum TRxDiscard : uint8_t {
    rdTooLong = 0,    // the receive buffer grew beyond MaxRxBuffer
    rdLineLost = 1,   // the line was lost (the serial line, the connection to the host, or the
                      // connection of the tracer that sent last): what it left can never be completed
    rdLineClosed = 2, // the line was closed (another port chosen): likewise
};

using TOnSendDataEvent = std::function<void(QObject* Sender, const std::string& Data)>;
using TLinkErrorEvent = std::function<void(QObject* Sender, const std::string& Message)>;

class TCustomMachine : public QObject {
    Q_OBJECT

public:
    // The receive buffer is emptied when it would grow beyond this many characters.
    static constexpr size_t MaxRxBuffer = 50000;

    explicit TCustomMachine(QObject* Owner = nullptr);
    ~TCustomMachine() override;

    // With ptTCPIP: the listener is active; otherwise: the serial port is open.
    bool Active() const;
    void SetActive(bool Value);
    // The serial port's name without the device prefix "\\.\"; written names are normalised to
    // "\\.\COM..." (ttyS0 is stored as \\.\COMttyS0 and read back as COMttyS0).
    std::string PortName() const;
    void SetPortName(const std::string& Value);
    TPortType PortType() const { return FPortType; }
    void SetPortType(TPortType Value) { FPortType = Value; }
    // The TCP port to listen on, or to connect to; while listening, the port actually listened on.
    uint16_t PortNumber() const;
    void SetPortNumber(uint16_t Value);
    // Empty: with ptTCPIP the machine listens. Otherwise it connects to this host at PortNumber
    // (a serial-device server in TCP server mode); Active then reads true from the start of the
    // connection until it fails or is lost. Takes effect at the next open.
    const std::string& TcpHost() const { return FTcpHost; }
    void SetTcpHost(const std::string& Value) { FTcpHost = Value; }
    // How long a connection to the host may take before it counts as failed.
    int ConnectTimeoutMs() const { return FConnectTimeoutMs; }
    void SetConnectTimeoutMs(int Value) { FConnectTimeoutMs = Value; }
    // The connection to the host, while there is one.
    QTcpSocket* ConnectSocket() const;
    TComPort* ComPort() const { return FComPort; }
    QTcpServer* ServerSocket() const { return FServerSocket; }

    const std::string& RxBuffer() const { return FRxBuffer; }
    // The 32-bit wrapping millisecond tick that dates serial receptions for the receive gap; the
    // serial port calls it on its reading thread, when the bytes arrive. Null restores the steady
    // clock.
    void SetTickSource(std::function<uint32_t()> Source);
    // In-process loopback for tools and fuzzing: bytes appended as a TCP reception would be (no gap
    // test, the same size limit), then OnRecvData; its exceptions reach the caller.
    void InjectReceived(std::string_view Bytes);
    // When set, SendData fires OnSendData and hands the bytes to Sink instead of any transport.
    void SetLoopbackSink(std::function<void(const std::string&)> Sink);

    TNotifyEvent OnRecvData;
    TOnSendDataEvent OnSendData;
    // Errors that have no caller to reach: exceptions thrown by OnRecvData (serial and TCP paths),
    // and the loss of the line while OnLineLost is unassigned (in TLineLost::Text's words).
    TLinkErrorEvent OnLinkError;
    // The line has gone; what it left unfinished in the receive buffer is discarded first.
    TLineLostEvent OnLineLost;
    // The connection to the host has been made, or could not be made (the system's words).
    TNotifyEvent OnLineOpened;
    TLinkErrorEvent OnOpenFailed;
    // The receive buffer was emptied without a packet: at the size limit (Length counts the new
    // characters too), or when the line the bytes came on was lost or closed. Only a log entry is
    // due.
    std::function<void(QObject* Sender, size_t Length, TRxDiscard Reason)> OnRxDiscarded;
    // The log's words for such a discard.
    static std::string RxDiscardedText(size_t Length, TRxDiscard Reason);

protected:
    void SendData(const std::string& Data);
    void SetBaudRate(uint16_t Value);
    void SetDataBits(int Value);
    void SetParity(char Value);
    void SetStopBits(float Value);
    void SetReadBufSize(uint16_t Value);
    void SetWriteBufSize(uint16_t Value);

    std::string FRxBuffer;

private:
    void OpenLink();
    void CloseLink();
    void StopListening();
    void Connect();
    void DropConnection();
    void ConnectionFailed(QTcpSocket* Socket, const std::string& Reason);
    std::string HostName() const;
    void ComPortRxChar(QObject* Sender, int InQue);
    void AcceptClients();
    void SocketClientRead(QTcpSocket* Socket);
    void AppendLimited(std::string_view Bytes);
    void Discard(TRxDiscard Reason);
    void LineLost(const TLineLost& Lost);
    void ReportLinkError(const std::string& Message);

    const uint16_t FBufferTimeout = 20000;
    TComPort* FComPort = nullptr;
    QTcpServer* FServerSocket = nullptr;
    TPortType FPortType = ptSerialPort;
    uint32_t FLastRxTick = 0;
    uint16_t FPortNumber = 0;
    std::function<void(const std::string&)> FLoopbackSink;
    std::vector<QPointer<QTcpSocket>> FClients;
    QPointer<QTcpSocket> FReplySocket; // the connection whose bytes were received last
    std::string FTcpHost;
    int FConnectTimeoutMs = 10000;
    QPointer<QTcpSocket> FConnectSocket;
    bool FConnected = false; // FConnectSocket has been connected
};

class TTracer : public TCustomMachine {
    Q_OBJECT

public:
    explicit TTracer(QObject* Owner = nullptr);

    void ClearTrace();
    // Appends FormatPoint(Radius); raises "Invalid point value " + the value for a negative or
    // undefined radius.
    void AddPoint(double Radius);
    // The four-character field of one point: millimetres below 300 are taken in 0.01 mm,
    // larger values as already in 0.01 mm; "%4.0f".
    static std::string FormatPoint(double Radius);
    // AddPoint(Hundredths / 100.0) for a radius in 0.01 mm, as the trace texts hold it; a job's
    // points are added before the tracer gets its reply, so the usual one takes no detour
    // through floating point.
    void AddPointHundredths(int Hundredths);
    uint16_t GetDBL() const { return FDBL; }
    // Stores the job number without its leading characters below "1".
    void SetJobNo(const std::string& Value);
    const std::string& JobNo() const { return FJobNo; }
    const std::string& Points() const { return FPoints; }

protected:
    std::string FPoints;
    uint16_t FDBL = 0;
    std::string FJobNo;

private:
    // FormatPoint(Radius) appended to Out.
    static void AppendPoint(std::string& Out, double Radius);
    // A value of 0..9999 as "%4d".
    static void AppendField(std::string& Out, unsigned Value);
};
