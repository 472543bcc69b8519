// The machine base over its real transports (a pseudo-terminal, loopback TCP on 127.0.0.1 as the
// listener and as the connecting side) and the tracer's trace store: receive buffer rules, port
// names, sending, error reports.
#include "common/Numbers.h"
#include "link/Machine.h"

#include "LinkTestSupport.h"
#include "Loopback.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using link_test::AllByteValues;
using link_test::RandomBytes;
using link_test::TPtyPair;
using link_test::WaitFor;

namespace {

// Opens the protected parts the protocol handler uses.
class TTestTracer : public TTracer {
public:
    using TCustomMachine::SendData;
    using TCustomMachine::SetBaudRate;
    using TCustomMachine::SetDataBits;
    using TCustomMachine::SetParity;
    using TCustomMachine::SetReadBufSize;
    using TCustomMachine::SetStopBits;
    using TCustomMachine::SetWriteBufSize;
    using TTracer::TTracer;
    void SetDBL(uint16_t value) { FDBL = value; }
    void ConsumeFront(size_t count) { FRxBuffer.erase(0, count); }
};

// A manual clock for the receive gap; the port's reading thread reads it.
struct TTick {
    std::atomic<uint32_t> Now{0};
};

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(nothing raised)";
}

struct TClient {
    QTcpSocket Socket;
    std::string Received;
    explicit TClient(uint16_t port) {
        QObject::connect(&Socket, &QTcpSocket::readyRead, [this] {
            const QByteArray bytes = Socket.readAll();
            Received.append(bytes.constData(), static_cast<size_t>(bytes.size()));
        });
        Socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    }
    bool Connected() {
        return WaitFor([this] { return Socket.state() == QAbstractSocket::ConnectedState; });
    }
    void Send(const std::string& bytes) {
        Socket.write(bytes.data(), static_cast<qint64>(bytes.size()));
        Socket.flush();
    }
};

} // namespace

TEST(TCustomMachine, ANewMachine) {
    TTestTracer machine;
    EXPECT_FALSE(machine.Active());
    EXPECT_EQ(machine.PortType(), ptSerialPort);
    EXPECT_EQ(machine.PortNumber(), 0);
    ASSERT_NE(machine.ComPort(), nullptr);
    ASSERT_NE(machine.ServerSocket(), nullptr);
    EXPECT_EQ(machine.ComPort()->parent(), &machine);
    EXPECT_EQ(machine.ComPort()->Port(), "COM1");
    EXPECT_EQ(machine.PortName(), "COM1");
    EXPECT_TRUE(machine.RxBuffer().empty());
    EXPECT_TRUE(machine.Points().empty());
    EXPECT_EQ(machine.GetDBL(), 0);
    EXPECT_TRUE(machine.JobNo().empty());
    EXPECT_FALSE(machine.ServerSocket()->isListening());
}

TEST(TCustomMachine, PortNamesAreNormalisedAndReadBack) {
    const struct {
        std::string Written;
        std::string Stored;
        std::string ReadBack;
    } cases[] = {
        {"COM1", "\\\\.\\COM1", "COM1"},
        {"com3", "\\\\.\\com3", "com3"},
        {"COM12", "\\\\.\\COM12", "COM12"},
        {"3", "\\\\.\\COM3", "COM3"},
        {"\\\\.\\COM3", "\\\\.\\COM3", "COM3"},
        {"", "\\\\.\\COM", "COM"},
        {"ttyS0", "\\\\.\\COMttyS0", "COMttyS0"},
        {"\\", "\\\\.\\COM\\", "COM\\"},
        {"\\\\server", "\\\\server", "\\\\server"},
    };
    for (const auto& c : cases) {
        TTestTracer machine;
        machine.SetPortName(c.Written);
        EXPECT_EQ(machine.ComPort()->Port(), c.Stored) << c.Written;
        EXPECT_EQ(machine.PortName(), c.ReadBack) << c.Written;
    }
    // A name set on the port directly reads back unchanged; at most 99 characters follow the prefix.
    TTestTracer machine;
    machine.ComPort()->SetPort("COM3");
    EXPECT_EQ(machine.PortName(), "COM3");
    machine.ComPort()->SetPort("\\\\.\\" + std::string(150, 'x'));
    EXPECT_EQ(machine.PortName(), std::string(99, 'x'));
}

TEST(TCustomMachine, SerialSettersReachThePort) {
    TTestTracer machine;
    TComPort& port = *machine.ComPort();
    machine.SetBaudRate(65535);
    machine.SetDataBits(7);
    machine.SetReadBufSize(12288);
    machine.SetWriteBufSize(2048);
    EXPECT_EQ(port.BaudRate(), 65535);
    EXPECT_EQ(port.DataBits(), 7);
    EXPECT_EQ(port.ReadBufSize(), 12288u);
    EXPECT_EQ(port.WriteBufSize(), 2048u);
    EXPECT_EQ(port.BuildDCB().XonLim, 3072);

    const struct {
        char Letter;
        TParityBits Bits;
    } parities[] = {{'N', prNone}, {'O', prOdd}, {'E', prEven}, {'M', prMark}, {'S', prSpace}};
    for (const auto& p : parities) {
        port.Parity().SetBits(p.Bits == prNone ? prOdd : prNone);
        machine.SetParity(p.Letter);
        EXPECT_EQ(port.Parity().Bits(), p.Bits) << p.Letter;
    }
    port.Parity().SetBits(prEven);
    for (const char ignored : {'n', 'o', 'X', '\0'}) {
        machine.SetParity(ignored);
        EXPECT_EQ(port.Parity().Bits(), prEven) << int(ignored);
    }

    const struct {
        float Value;
        TStopBits Bits;
    } stops[] = {{1.0f, sbOneStopBit}, {1.5f, sbOne5StopBits}, {2.0f, sbTwoStopBits}};
    for (const auto& s : stops) {
        machine.SetStopBits(s.Value);
        EXPECT_EQ(port.StopBits(), s.Bits) << s.Value;
    }
    for (const float ignored : {1.25f, 0.0f, 3.0f, -1.0f}) {
        machine.SetStopBits(ignored);
        EXPECT_EQ(port.StopBits(), sbTwoStopBits) << ignored;
    }
}

TEST(TTracer, FormatPointAndAddPoint) {
    const struct {
        double Radius;
        const char* Field;
    } cases[] = {
        {0, "   0"},      {25.5, "2550"},     {250, "25000"},  {300, " 300"},   {1.234, " 123"},
        {0.005, "   0"},  {0.015, "   2"},    {0.025, "   2"}, {99.99, "9999"}, {299.99, "29999"},
        {1234.4, "1234"}, {12345.6, "12346"}, {0.5, "  50"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TTracer::FormatPoint(c.Radius), c.Field) << c.Radius;
        TTestTracer machine;
        machine.AddPoint(c.Radius);
        EXPECT_EQ(machine.Points(), c.Field) << c.Radius;
    }
    TTestTracer machine;
    machine.AddPoint(25.5);
    machine.AddPoint(0);
    EXPECT_EQ(machine.Points(), "2550   0");

    // The direct path for the usual point writes what "%4.0f" writes: every radius a tracer can
    // send in 0.01 mm, and values around the rounding ties.
    const auto printed = [](double radius) {
        char text[400];
        std::snprintf(text, sizeof text, "%4.0f", radius < 300 ? radius * 100 : radius);
        return std::string(text);
    };
    for (int hundredths = 0; hundredths <= 40000; ++hundredths)
        ASSERT_EQ(TTracer::FormatPoint(hundredths / 100.0), printed(hundredths / 100.0)) << hundredths;
    // The whole-hundredths entry the handler uses writes what AddPoint writes, refusals included.
    for (int hundredths = -2; hundredths <= 40000; ++hundredths) {
        TTestTracer viaDouble, viaHundredths;
        const std::string refusal = MessageOf([&] { viaDouble.AddPoint(hundredths / 100.0); });
        ASSERT_EQ(MessageOf([&] { viaHundredths.AddPointHundredths(hundredths); }), refusal) << hundredths;
        ASSERT_EQ(viaHundredths.Points(), viaDouble.Points()) << hundredths;
    }
    for (int thousandths = 0; thousandths <= 100100; ++thousandths) {
        const double radius = thousandths / 1000.0;
        ASSERT_EQ(TTracer::FormatPoint(radius), printed(radius)) << radius;
        ASSERT_EQ(TTracer::FormatPoint(radius + 0.00005), printed(radius + 0.00005)) << radius;
    }
}

TEST(TTracer, AddPointRefusesNegativeAndUndefinedRadii) {
    TTestTracer machine;
    machine.AddPoint(1);
    const struct {
        double Radius;
        const char* Message;
    } cases[] = {
        {-0.01, "Invalid point value -0.01"},
        {-300, "Invalid point value -300"},
        {std::numeric_limits<double>::quiet_NaN(), "Invalid point value nan"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MessageOf([&] { machine.AddPoint(c.Radius); }), c.Message);
        EXPECT_EQ(machine.Points(), " 100");
    }
    // The value is written with the user's decimal separator.
    const char separator = DecimalSeparator();
    SetDecimalSeparator(',');
    EXPECT_EQ(MessageOf([&] { machine.AddPoint(-0.01); }), "Invalid point value -0,01");
    SetDecimalSeparator(separator);
    try {
        machine.AddPoint(-1);
    } catch (const Exception&) {
        SUCCEED(); // the general error class
    }
}

TEST(TTracer, SetJobNoDropsLeadingCharactersBelowOne) {
    const struct {
        std::string Written;
        std::string Stored;
    } cases[] = {
        {"0042", "42"},
        {"000", ""},
        {" 17", "17"},
        {"A01", "A01"},
        {"-5", "5"},
        {"\"\"0A12", "A12"},
        {"\x01\x1f!/0 9", "9"},
        {"\x80"
         "01",
         "\x80"
         "01"},
        {"", ""},
        {"1", "1"},
    };
    for (const auto& c : cases) {
        TTestTracer machine;
        machine.SetJobNo(c.Written);
        EXPECT_EQ(machine.JobNo(), c.Stored) << c.Written;
    }
}

TEST(TTracer, ClearTraceEmptiesPointsAndDBLButKeepsTheJob) {
    TTestTracer machine;
    machine.AddPoint(20);
    machine.SetDBL(1800);
    machine.SetJobNo("77");
    EXPECT_EQ(machine.GetDBL(), 1800);
    machine.ClearTrace();
    EXPECT_TRUE(machine.Points().empty());
    EXPECT_EQ(machine.GetDBL(), 0);
    EXPECT_EQ(machine.JobNo(), "77");
}

TEST(TCustomMachineSerial, TheReceiveGapIsMeasuredFromThePreviousReceptionModulo2To32) {
    TPtyPair pty;
    TTestTracer machine;
    TTick tick;
    machine.SetTickSource([&tick] { return tick.Now.load(); });
    machine.ComPort()->SetPort(pty.SlavePath());
    int notified = 0;
    machine.OnRecvData = [&](QObject* sender) {
        EXPECT_EQ(sender, &machine);
        ++notified;
    };
    machine.SetActive(true);
    const struct {
        uint32_t Tick;
        const char* Chunk;
        const char* Buffer;
    } steps[] = {
        {1000, "AB", "AB"},          // 1000 ms after the start tick 0: kept (nothing to lose anyway)
        {21000, "CD", "ABCD"},       // exactly 20000 ms: kept
        {41001, "EF", "EF"},         // 20001 ms: the unfinished buffer is dropped first
        {0xFFFFFF00u, "GH", "GH"},   // a long silence
        {0x00000100u, "IJ", "GHIJ"}, // the tick wrapped: the true gap is 512 ms
        {0x00000100u + 20000, "KL", "GHIJKL"},
    };
    for (const auto& step : steps) {
        tick.Now = step.Tick;
        const int before = notified;
        ASSERT_TRUE(pty.Send(step.Chunk));
        EXPECT_TRUE(WaitFor([&] { return notified > before && machine.RxBuffer() == step.Buffer; }))
            << step.Chunk << ": " << machine.RxBuffer();
    }
}

TEST(TCustomMachineSerial, TheGapIsTheSilenceOnTheLineHoweverLateTheBytesAreRead) {
    TPtyPair pty;
    TTestTracer machine;
    TTick tick;
    machine.SetTickSource([&tick] { return tick.Now.load(); });
    machine.ComPort()->SetPort(pty.SlavePath());
    machine.SetActive(true);
    tick.Now = 1000;
    ASSERT_TRUE(pty.Send("\x1cREQ="));
    ASSERT_TRUE(WaitFor([&] { return machine.RxBuffer() == "\x1cREQ="; }));

    // This thread stops handling events (a slow disk, a stopped process) while the tracer goes on
    // at once: the event thread takes the next bytes, then the rest waits in the driver.
    tick.Now = 2000;
    ASSERT_TRUE(pty.Send("TRC"));
    ASSERT_TRUE(link_test::WaitWithoutEvents([&] { return machine.ComPort()->InQueCount() == 3; }));
    tick.Now = 3000;
    ASSERT_TRUE(pty.Send("\r\nJOB=1"));
    ASSERT_TRUE(link_test::WaitWithoutEvents([&] { return pty.SlaveDriverQueue() == 7; }));
    // Only 40 s later are the bytes read: the line was never silent for long, so nothing is lost.
    tick.Now = 40000;
    EXPECT_TRUE(WaitFor([&] { return machine.RxBuffer() == "\x1cREQ=TRC\r\nJOB=1"; })) << machine.RxBuffer();

    // A silence the line really had drops the unfinished packet, though it is read at once.
    tick.Now = 40000 + 20001;
    ASSERT_TRUE(pty.Send("\x1c"));
    EXPECT_TRUE(WaitFor([&] { return machine.RxBuffer() == "\x1c"; })) << machine.RxBuffer();
}

TEST(TCustomMachineSerial, ALostLineDiscardsTheUnfinishedPacketAndSaysSo) {
    auto pty = std::make_unique<TPtyPair>();
    TTestTracer machine;
    machine.ComPort()->SetPort(pty->SlavePath());
    std::vector<std::string> log;
    machine.OnRxDiscarded = [&](QObject* sender, size_t length, TRxDiscard reason) {
        EXPECT_EQ(sender, &machine);
        log.push_back(TCustomMachine::RxDiscardedText(length, reason));
    };
    machine.OnLinkError = [&](QObject*, const std::string& message) { log.push_back(message); };
    machine.OnLineLost = [&](QObject* sender, const TLineLost& lost) {
        EXPECT_EQ(sender, &machine);
        log.push_back("lost " + lost.Line + ": " + lost.Reason);
    };
    machine.SetActive(true);
    const std::string cutOff = "\x1cREQ=TRC\r\nJOB=12\r\nR=2480;24";
    ASSERT_TRUE(pty->Send(cutOff));
    ASSERT_TRUE(WaitFor([&] { return machine.RxBuffer() == cutOff; }));
    pty->CloseMaster();
    ASSERT_TRUE(WaitFor([&] { return log.size() == 2; }));
    EXPECT_EQ(
        log, (std::vector<std::string>{"Discarded 27 characters received without a complete packet (the line was lost)",
                                       "lost " + pty->SlavePath() + ": Input/output error"}));
    EXPECT_TRUE(machine.RxBuffer().empty());

    // The next line's first packet stands on its own.
    machine.SetActive(false);
    pty = std::make_unique<TPtyPair>();
    machine.ComPort()->SetPort(pty->SlavePath());
    machine.SetActive(true);
    ASSERT_TRUE(pty->Send("\x1cREQ=INI"));
    EXPECT_TRUE(WaitFor([&] { return machine.RxBuffer() == "\x1cREQ=INI"; })) << machine.RxBuffer();
    EXPECT_EQ(log.size(), 2u);

    // A line closed for another one inside a packet: the same.
    machine.SetActive(false);
    EXPECT_EQ(log.back(), "Discarded 8 characters received without a complete packet (the line was closed)");
    EXPECT_TRUE(machine.RxBuffer().empty());
    pty = std::make_unique<TPtyPair>();
    machine.ComPort()->SetPort(pty->SlavePath());
    machine.SetActive(true);
    ASSERT_TRUE(pty->Send("\x1cREQ=INI"));
    EXPECT_TRUE(WaitFor([&] { return machine.RxBuffer() == "\x1cREQ=INI"; })) << machine.RxBuffer();
    EXPECT_EQ(log.size(), 3u);
    EXPECT_EQ(TCustomMachine::RxDiscardedText(50002, rdTooLong),
              "Discarded 50002 characters received without a complete packet (limit 50000)");
}

TEST(TCustomMachineSerial, TheBufferIsEmptiedBeyondFiftyThousandCharacters) {
    TPtyPair pty;
    TTestTracer machine;
    machine.ComPort()->SetPort(pty.SlavePath());
    machine.ComPort()->SetReadBufSize(12288);
    int notified = 0;
    machine.OnRecvData = [&](QObject*) { ++notified; };
    machine.SetActive(true);
    const std::string bulk = RandomBytes(50000, 12);
    // More than the line holds: the tracer sends from its own thread while this one delivers.
    std::atomic<bool> sent{false};
    std::thread tracer([&] { sent = pty.Send(bulk); });
    EXPECT_TRUE(WaitFor([&] { return machine.RxBuffer().size() == 50000; })) << machine.RxBuffer().size();
    tracer.join();
    EXPECT_TRUE(sent.load());
    EXPECT_TRUE(machine.RxBuffer() == bulk);
    const int before = notified;
    ASSERT_TRUE(pty.Send("!"));
    EXPECT_TRUE(WaitFor([&] { return notified > before; }));
    EXPECT_TRUE(machine.RxBuffer().empty()); // OnRecvData still ran, on an empty buffer
}

TEST(TCustomMachineSerial, ARequestIsAnsweredOverTheLine) {
    TPtyPair pty;
    TTestTracer machine;
    machine.ComPort()->SetPort(pty.SlavePath());
    std::vector<std::string> sent;
    machine.OnSendData = [&](QObject* sender, const std::string& data) {
        EXPECT_EQ(sender, &machine);
        sent.push_back(data);
    };
    // A small protocol: every complete line is answered with its bytes reversed.
    machine.OnRecvData = [&](QObject*) {
        size_t end;
        while ((end = machine.RxBuffer().find('\n')) != std::string::npos) {
            std::string line = machine.RxBuffer().substr(0, end);
            machine.ConsumeFront(end + 1);
            machine.SendData(std::string(line.rbegin(), line.rend()) + "\n");
        }
    };
    machine.SetActive(true);
    std::string request = link_test::AllByteValues();
    request.erase(request.find('\n'), 1);
    // The tracer sends and waits for the answer on its own thread; this one runs the deliveries.
    std::string reply;
    std::atomic<bool> answered{false};
    std::thread tracer([&] {
        if (pty.Send(request + "\n"))
            reply = pty.Receive(request.size() + 1);
        answered = true;
    });
    EXPECT_TRUE(WaitFor([&] { return answered.load(); }));
    tracer.join();
    EXPECT_TRUE(reply == std::string(request.rbegin(), request.rend()) + "\n");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0] == reply);
}

TEST(TCustomMachineSerial, ErrorsOfTheReceivePathAreReportedAndTheLinkGoesOn) {
    TPtyPair pty;
    TTestTracer machine;
    machine.ComPort()->SetPort(pty.SlavePath());
    std::vector<std::string> reports;
    machine.OnLinkError = [&](QObject* sender, const std::string& message) {
        EXPECT_EQ(sender, &machine);
        reports.push_back(message);
    };
    machine.OnRecvData = [&](QObject*) {
        if (machine.RxBuffer().find("bad") != std::string::npos) {
            machine.ConsumeFront(machine.RxBuffer().size());
            throw Exception("Missing packet starting char FS");
        }
    };
    machine.SetActive(true);
    ASSERT_TRUE(pty.Send("bad"));
    EXPECT_TRUE(WaitFor([&] { return reports.size() == 1; }));
    EXPECT_EQ(reports[0], "Missing packet starting char FS");
    EXPECT_TRUE(machine.Active());
    ASSERT_TRUE(pty.Send("good"));
    EXPECT_TRUE(WaitFor([&] { return machine.RxBuffer() == "good"; }));
    // The line going away is reported the same way, once.
    pty.CloseMaster();
    EXPECT_TRUE(WaitFor([&] { return reports.size() == 2; }));
    EXPECT_EQ(reports[1], "Connection lost on " + pty.SlavePath() + ": Input/output error");
    machine.SetActive(false);
    EXPECT_FALSE(machine.Active());
}

TEST(TCustomMachine, ActiveOpensOnceAndFollowsThePortType) {
    TPtyPair pty;
    int opens = 0, closes = 0;
    TTestTracer machine;
    machine.ComPort()->SetPort(pty.SlavePath());
    machine.ComPort()->OnOpen = [&](QObject*) { ++opens; };
    machine.ComPort()->OnClose = [&](QObject*) { ++closes; };
    machine.SetActive(false); // closed already: nothing
    EXPECT_EQ(closes, 0);
    machine.SetActive(true);
    machine.SetActive(true);
    EXPECT_EQ(opens, 1);
    // Switching the type opens and closes nothing; Active now tells about the listener.
    machine.SetPortType(ptTCPIP);
    EXPECT_FALSE(machine.Active());
    machine.SetActive(false);
    EXPECT_TRUE(machine.ComPort()->Active());
    machine.SetActive(true);
    EXPECT_TRUE(machine.ServerSocket()->isListening());
    EXPECT_TRUE(machine.ComPort()->Active());
    machine.SetActive(false); // closes both
    EXPECT_FALSE(machine.ServerSocket()->isListening());
    EXPECT_FALSE(machine.ComPort()->Active());
    EXPECT_EQ(closes, 1);
}

TEST(TCustomMachine, OpeningAPortThatIsNotThereRaisesAndStaysClosed) {
    TTestTracer machine;
    machine.SetPortName("no-such-tracer-line");
    EXPECT_EQ(MessageOf([&] { machine.SetActive(true); }),
              "Unable to open \\\\.\\COMno-such-tracer-line: No such file or directory");
    EXPECT_FALSE(machine.Active());
}

TEST(TCustomMachineTcp, BytesFromClientsGatherInOneBufferAndRepliesGoToTheLastSender) {
    TTestTracer machine;
    TTick tick;
    machine.SetTickSource([&tick] { return tick.Now.load(); });
    machine.SetPortType(ptTCPIP);
    machine.SetActive(true);
    ASSERT_TRUE(machine.Active());
    const uint16_t port = machine.PortNumber();
    ASSERT_NE(port, 0);
    int notified = 0;
    machine.OnRecvData = [&](QObject* sender) {
        EXPECT_EQ(sender, &machine);
        ++notified;
    };
    std::vector<std::string> sent;
    machine.OnSendData = [&](QObject*, const std::string& data) { sent.push_back(data); };

    TClient first(port);
    TClient second(port);
    ASSERT_TRUE(first.Connected());
    ASSERT_TRUE(second.Connected());
    first.Send("\x1cREQ=");
    EXPECT_TRUE(WaitFor([&] { return machine.RxBuffer() == "\x1cREQ="; }));
    tick.Now += 30000; // no gap test on this path
    second.Send(std::string("INF\r\n\x1e\x1d", 7));
    EXPECT_TRUE(WaitFor([&] { return machine.RxBuffer() == std::string("\x1cREQ=INF\r\n\x1e\x1d", 12); }));
    EXPECT_GE(notified, 2);

    machine.SendData(std::string("\x06", 1));
    EXPECT_TRUE(WaitFor([&] { return second.Received == "\x06"; }));
    QTest::qWait(50);
    EXPECT_TRUE(first.Received.empty());
    ASSERT_EQ(sent.size(), 1u);

    first.Send("x");
    EXPECT_TRUE(WaitFor([&] { return machine.RxBuffer().back() == 'x'; }));
    machine.SendData("to the first");
    EXPECT_TRUE(WaitFor([&] { return first.Received == "to the first"; }));
}

TEST(TCustomMachineTcp, TheBufferLimitAppliesToTcpToo) {
    TTestTracer machine;
    machine.SetPortType(ptTCPIP);
    machine.SetActive(true);
    int notified = 0;
    machine.OnRecvData = [&](QObject*) { ++notified; };
    TClient client(machine.PortNumber());
    ASSERT_TRUE(client.Connected());
    const std::string bulk = RandomBytes(50000, 13);
    client.Send(bulk);
    EXPECT_TRUE(WaitFor([&] { return machine.RxBuffer().size() == 50000; }));
    EXPECT_TRUE(machine.RxBuffer() == bulk);
    const int before = notified;
    client.Send("!");
    EXPECT_TRUE(WaitFor([&] { return notified > before; }));
    EXPECT_TRUE(machine.RxBuffer().empty());
}

// A tracer on the network that hangs up inside a packet: the next connection's first packet
// stands on its own. A connection that did not send last takes nobody's bytes with it.
TEST(TCustomMachineTcp, AHangUpInsideAPacketDiscardsItAndSaysSo) {
    TTestTracer machine;
    machine.SetPortType(ptTCPIP);
    machine.SetActive(true);
    std::vector<std::string> log;
    machine.OnRxDiscarded = [&](QObject* sender, size_t length, TRxDiscard reason) {
        EXPECT_EQ(sender, &machine);
        log.push_back(TCustomMachine::RxDiscardedText(length, reason));
    };
    auto idle = std::make_unique<TClient>(machine.PortNumber());
    auto cutOff = std::make_unique<TClient>(machine.PortNumber());
    ASSERT_TRUE(idle->Connected());
    ASSERT_TRUE(cutOff->Connected());
    const std::string partial = "\x1cREQ=TRC\r\nJOB=12\r\nR=2480;24";
    cutOff->Send(partial);
    ASSERT_TRUE(WaitFor([&] { return machine.RxBuffer() == partial; }));
    idle->Socket.disconnectFromHost();
    QTest::qWait(50);
    EXPECT_EQ(machine.RxBuffer(), partial);
    cutOff->Socket.disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return log.size() == 1; }));
    EXPECT_EQ(log.front(), "Discarded 27 characters received without a complete packet (the line was lost)");
    EXPECT_TRUE(machine.RxBuffer().empty());

    TClient next(machine.PortNumber());
    ASSERT_TRUE(next.Connected());
    next.Send("\x1cREQ=INI");
    EXPECT_TRUE(WaitFor([&] { return machine.RxBuffer() == "\x1cREQ=INI"; })) << machine.RxBuffer();
    EXPECT_EQ(log.size(), 1u);
}

TEST(TCustomMachineTcp, ListenerErrors) {
    TTestTracer machine;
    machine.SetPortType(ptTCPIP);
    std::vector<std::string> sent;
    machine.OnSendData = [&](QObject*, const std::string& data) { sent.push_back(data); };
    // Nothing to answer to.
    EXPECT_EQ(MessageOf([&] { machine.SendData("reply"); }), "No TCP connection to send to");
    machine.SetActive(true);
    EXPECT_THROW(machine.SendData("reply"), ESocketError);
    EXPECT_EQ(sent.size(), 2u); // OnSendData comes first, whatever happens next
    // The port cannot change while listening; the same value is no change.
    const uint16_t port = machine.PortNumber();
    EXPECT_NO_THROW(machine.SetPortNumber(0));
    EXPECT_THROW(machine.SetPortNumber(static_cast<uint16_t>(port == 65535 ? 65534 : port + 1)), ESocketError);
    EXPECT_EQ(machine.PortNumber(), port);
    // A port in use.
    TTestTracer other;
    other.SetPortType(ptTCPIP);
    other.SetPortNumber(port);
    const std::string message = MessageOf([&] { other.SetActive(true); });
    EXPECT_EQ(message.rfind("Unable to listen on TCP port " + std::to_string(port) + ": ", 0), 0u) << message;
    EXPECT_FALSE(other.Active());
    // A reply to a client that has gone.
    {
        TClient client(port);
        ASSERT_TRUE(client.Connected());
        client.Send("hello");
        EXPECT_TRUE(WaitFor([&] { return machine.RxBuffer() == "hello"; }));
        client.Socket.disconnectFromHost();
    }
    EXPECT_TRUE(WaitFor([&] {
        try {
            machine.SendData("late");
            return false;
        } catch (const ESocketError&) {
            return true;
        }
    }));
    machine.SetActive(false);
    EXPECT_NO_THROW(machine.SetPortNumber(static_cast<uint16_t>(port == 65535 ? 65534 : port + 1)));
}

TEST(TCustomMachineTcp, ErrorsOfTheReceiveHandlerAreReportedNotThrownIntoTheEventLoop) {
    TTestTracer machine;
    machine.SetPortType(ptTCPIP);
    machine.SetActive(true);
    std::vector<std::string> reports;
    machine.OnLinkError = [&](QObject*, const std::string& message) { reports.push_back(message); };
    machine.OnRecvData = [&](QObject*) {
        if (machine.RxBuffer() == "bad")
            throw Exception("Zero length request");
    };
    TClient client(machine.PortNumber());
    ASSERT_TRUE(client.Connected());
    client.Send("bad");
    EXPECT_TRUE(WaitFor([&] { return reports.size() == 1; }));
    EXPECT_EQ(reports[0], "Zero length request");
    client.Send("!");
    EXPECT_TRUE(WaitFor([&] { return machine.RxBuffer() == "bad!"; }));
    EXPECT_EQ(reports.size(), 1u);
}

TEST(TCustomMachine, LoopbackTransportForToolsAndFuzzing) {
    TTestTracer machine;
    std::vector<std::string> log;
    machine.OnRecvData = [&](QObject*) {
        log.push_back("recv " + machine.RxBuffer());
        if (machine.RxBuffer() == "boom")
            throw Exception("boom");
    };
    machine.OnSendData = [&](QObject*, const std::string& data) { log.push_back("send " + data); };
    machine.SetLoopbackSink([&](const std::string& data) { log.push_back("sink " + data); });
    machine.InjectReceived("ab");
    machine.SendData("reply");
    EXPECT_EQ(log, (std::vector<std::string>{"recv ab", "send reply", "sink reply"}));
    machine.ConsumeFront(2);
    EXPECT_THROW(machine.InjectReceived("boom"), Exception); // here the caller gets it
    machine.ConsumeFront(4);
    std::vector<size_t> discarded;
    machine.OnRxDiscarded = [&](QObject*, size_t length, TRxDiscard reason) {
        EXPECT_EQ(reason, rdTooLong);
        discarded.push_back(length);
    };
    machine.InjectReceived(std::string(50000, 'a'));
    EXPECT_EQ(machine.RxBuffer().size(), 50000u);
    EXPECT_TRUE(discarded.empty());
    machine.InjectReceived("bc");
    EXPECT_TRUE(machine.RxBuffer().empty());
    EXPECT_EQ(discarded, (std::vector<size_t>{50002}));
    EXPECT_FALSE(machine.ComPort()->Active());
}

TEST(TCustomMachine, DestroyingAnOpenMachineClosesEverything) {
    TPtyPair pty;
    auto machine = std::make_unique<TTestTracer>();
    machine->ComPort()->SetPort(pty.SlavePath());
    machine->SetActive(true);
    machine->SetPortType(ptTCPIP);
    machine->SetActive(true);
    TClient client(machine->PortNumber());
    ASSERT_TRUE(client.Connected());
    bool called = false;
    machine->OnRecvData = [&](QObject*) { called = true; };
    ASSERT_TRUE(pty.Send("pending"));
    machine.reset();
    EXPECT_FALSE(called); // the handlers of a machine being destroyed do not run
    EXPECT_TRUE(WaitFor([&] { return client.Socket.state() == QAbstractSocket::UnconnectedState; }));
    // The line is free again.
    TComPort port;
    port.SetPort(pty.SlavePath());
    EXPECT_NO_THROW(port.Open());
}

namespace {

// The other end of a connection the machine makes: a listener on loopback that keeps the last
// connection it accepted.
struct TPeer {
    QTcpServer Server;
    QPointer<QTcpSocket> Socket;
    std::string Received;
    explicit TPeer(uint16_t port = 0) {
        Server.listen(QHostAddress(QHostAddress::LocalHost), port);
        QObject::connect(&Server, &QTcpServer::newConnection, [this] {
            Socket = Server.nextPendingConnection();
            QObject::connect(Socket, &QTcpSocket::readyRead, [this] {
                const QByteArray bytes = Socket->readAll();
                Received.append(bytes.constData(), static_cast<size_t>(bytes.size()));
            });
        });
    }
    bool Accepted() {
        return WaitFor([this] { return Socket && Socket->state() == QAbstractSocket::ConnectedState; });
    }
    void Send(const std::string& bytes) {
        Socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
        Socket->flush();
    }
};

// A machine that connects out, with what it reports.
struct TConnectingMachine {
    TTestTracer Machine;
    std::vector<std::string> Events;
    TConnectingMachine(uint16_t port, int timeoutMs = 10000) {
        Machine.SetPortType(ptTCPIP);
        Machine.SetTcpHost("127.0.0.1");
        Machine.SetPortNumber(port);
        Machine.SetConnectTimeoutMs(timeoutMs);
        Machine.OnLineOpened = [this](QObject* sender) {
            EXPECT_EQ(sender, &Machine);
            Events.push_back("opened");
        };
        Machine.OnOpenFailed = [this](QObject*, const std::string& reason) { Events.push_back("failed " + reason); };
        Machine.OnLineLost = [this](QObject*, const TLineLost& lost) { Events.push_back("lost " + lost.Text()); };
        Machine.OnLinkError = [this](QObject*, const std::string& message) { Events.push_back("error " + message); };
    }
};

// A port nobody listens on: taken from the system, then given back.
uint16_t FreePort() {
    QTcpServer server;
    server.listen(QHostAddress(QHostAddress::LocalHost), 0);
    return server.serverPort();
}

} // namespace

TEST(TCustomMachineTcp, AConnectionToTheHostCarriesTheConversationAndItsLossIsReported) {
    auto peer = std::make_unique<TPeer>();
    const uint16_t port = peer->Server.serverPort();
    TConnectingMachine link(port);
    TTestTracer& machine = link.Machine;
    machine.SetActive(true);
    EXPECT_TRUE(machine.Active()); // from the start of the connection
    ASSERT_TRUE(WaitFor([&] { return link.Events.size() == 1; }));
    EXPECT_EQ(link.Events[0], "opened");
    ASSERT_TRUE(peer->Accepted());
    EXPECT_FALSE(machine.ServerSocket()->isListening());

    // The same bytes path as the listener's: the tracer speaks, the reply goes back to it.
    peer->Send(std::string("\x1cREQ=INI\r\n", 10));
    EXPECT_TRUE(WaitFor([&] { return machine.RxBuffer() == std::string("\x1cREQ=INI\r\n", 10); }));
    const std::string reply = "\x06" + AllByteValues();
    machine.SendData(reply);
    EXPECT_TRUE(WaitFor([&] { return peer->Received == reply; }));

    // The peer restarts: the loss is reported once, with what it left unfinished discarded.
    std::vector<std::pair<size_t, TRxDiscard>> discarded;
    machine.OnRxDiscarded = [&](QObject*, size_t length, TRxDiscard reason) { discarded.emplace_back(length, reason); };
    peer->Send("\x1cREQ=TRC");
    ASSERT_TRUE(WaitFor([&] { return machine.RxBuffer().ends_with("TRC"); }));
    machine.ConsumeFront(10);
    peer.reset();
    ASSERT_TRUE(WaitFor([&] { return link.Events.size() == 2; }));
    EXPECT_EQ(link.Events[1],
              "lost Connection lost on 127.0.0.1:" + std::to_string(port) + ": The remote host closed the connection");
    EXPECT_EQ(discarded, (std::vector<std::pair<size_t, TRxDiscard>>{{8, rdLineLost}}));
    EXPECT_FALSE(machine.Active());
    EXPECT_THROW(machine.SendData("late"), ESocketError);

    // Connecting again reaches the restarted peer.
    TPeer restarted(port);
    ASSERT_TRUE(restarted.Server.isListening());
    machine.SetActive(true);
    ASSERT_TRUE(restarted.Accepted());
    ASSERT_TRUE(WaitFor([&] { return link.Events.size() == 3; }));
    EXPECT_EQ(link.Events[2], "opened");
    restarted.Send("\x1c");
    EXPECT_TRUE(WaitFor([&] { return machine.RxBuffer() == "\x1c"; }));
    machine.SetActive(false); // closing is no loss, but what it left unfinished goes too
    EXPECT_TRUE(WaitFor([&] { return restarted.Socket->state() == QAbstractSocket::UnconnectedState; }));
    QTest::qWait(50);
    EXPECT_EQ(link.Events.size(), 3u);
    EXPECT_EQ(discarded, (std::vector<std::pair<size_t, TRxDiscard>>{{8, rdLineLost}, {1, rdLineClosed}}));
}

TEST(TCustomMachineTcp, AHostThatRefusesOrNeverAnswersFailsTheOpenWithTheReason) {
    {
        TConnectingMachine link(FreePort());
        link.Machine.SetActive(true);
        ASSERT_TRUE(WaitFor([&] { return !link.Events.empty(); }));
        EXPECT_EQ(link.Events, (std::vector<std::string>{"failed Connection refused"}));
        EXPECT_FALSE(link.Machine.Active());
    }
    {
        // A listener whose queue is full drops further connection requests unanswered, as a
        // switched-off host behind a router does.
        sockaddr_in address{};
        const int listener = ListenOnLoopback(0, address);
        ASSERT_GE(listener, 0);
        std::vector<int> fillers;
        for (int i = 0; i < 3; ++i) {
            fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
        TConnectingMachine link(ntohs(address.sin_port), 300);
        link.Machine.SetActive(true);
        ASSERT_TRUE(WaitFor([&] { return !link.Events.empty(); }));
        EXPECT_EQ(link.Events, (std::vector<std::string>{"failed No answer within 1 second"}));
        EXPECT_FALSE(link.Machine.Active());
        for (const int fd : fillers)
            ::close(fd);
        ::close(listener);
    }
    {
        // Without the handler the failure is reported as a link error.
        TTestTracer machine;
        std::vector<std::string> errors;
        machine.OnLinkError = [&](QObject*, const std::string& message) { errors.push_back(message); };
        machine.SetPortType(ptTCPIP);
        machine.SetTcpHost("127.0.0.1");
        const uint16_t port = FreePort();
        machine.SetPortNumber(port);
        machine.SetActive(true);
        ASSERT_TRUE(WaitFor([&] { return !errors.empty(); }));
        EXPECT_EQ(errors[0], "Unable to connect to 127.0.0.1:" + std::to_string(port) + ": Connection refused");
    }
}
