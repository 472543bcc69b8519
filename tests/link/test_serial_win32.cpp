// The serial port on Windows against a real COM port. The port's name comes from
// TRACER_TEST_COM, and TRACER_TEST_PEER names the loopback TCP address of the far end's controls:
// each test asks it for a fresh line of its own behind the same port name, whose far end echoes
// every byte back, and may ask it to stop reading or to hang up (scripts/wine-serial-test.sh maps
// the lines of tests/link/com_echo_peer.py as the COM port under wine). Without the variables the
// tests of the line skip.
#include "link/CommDevice.h"
#include "link/Comms.h"
#include "link/Comms_win32.h"
#include "link/PortList.h"

#include "LinkWaits.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <windows.h>

namespace {

using link_test::RandomBytes;
using link_test::WaitFor;

std::string Variable(const char* Name) {
    const char* value = std::getenv(Name);
    return value ? value : "";
}

std::string TestPort() {
    return Variable("TRACER_TEST_COM");
}

void RunEventsFor(int Milliseconds) {
    QElapsedTimer elapsed;
    elapsed.start();
    WaitFor([&] { return elapsed.elapsed() >= Milliseconds; }, Milliseconds + 1000);
}

// The port under test with its received bytes gathered on the main thread.
struct TEchoPort {
    TComPort Port;
    std::string Received;
    std::string Reports;
    int Errors = 0;
    int RxChars = 0;
    bool WrongThread = false;
    bool Gather = true; // false: the bytes stay in the port's input queue

    explicit TEchoPort(TEvents Events = TEvents::All()) {
        Port.SetPort(TestPort());
        Port.SetBaudRate(9600);
        Port.SetEvents(Events);
        QThread* owner = QThread::currentThread();
        Port.OnRxChar = [this, owner](QObject*, int count) {
            if (QThread::currentThread() != owner)
                WrongThread = true;
            ++RxChars;
            if (!Gather)
                return;
            std::string chunk;
            Port.Read(chunk, count, false);
            Received += chunk;
        };
        Port.OnError = [this](QObject*) { ++Errors; };
        Port.OnEventError = [this](QObject*, const std::string& message) { Reports += message + "\n"; };
    }

    bool Ends(const std::string& Tail) const {
        return Received.size() >= Tail.size() &&
               Received.compare(Received.size() - Tail.size(), Tail.size(), Tail) == 0;
    }
};

// Whether Part is made of pieces of Whole in their order, with gaps between them (what a flush
// dropped); every piece but the last at least 16 bytes long, which no random bytes match by chance.
bool PiecesInOrder(const std::string& Part, const std::string& Whole) {
    size_t at = 0;
    size_t from = 0;
    while (at < Part.size()) {
        const size_t found = Whole.find(Part.substr(at, 16), from);
        if (found == std::string::npos)
            return false;
        size_t same = 0;
        while (at + same < Part.size() && found + same < Whole.size() && Part[at + same] == Whole[found + same])
            ++same;
        at += same;
        from = found + same;
    }
    return true;
}

// Every test of the line starts on a fresh line of its own and ends it: none depends on what an
// earlier one left behind, in whatever order they run.
class Win32SerialPort : public ::testing::Test {
protected:
    void SetUp() override {
        if (TestPort().empty() || Variable("TRACER_TEST_PEER").empty()) {
            GTEST_SKIP() << "TRACER_TEST_COM and TRACER_TEST_PEER name no COM port with an echoing peer";
        }
        ASSERT_TRUE(Peer("line"));
    }

    void TearDown() override {
        if (FControl.state() == QAbstractSocket::ConnectedState) {
            EXPECT_TRUE(Peer("hangup"));
        }
    }

    // Sends one command to the far end and waits for its answer.
    bool Peer(const std::string& Command) {
        if (FControl.state() != QAbstractSocket::ConnectedState) {
            const std::string address = Variable("TRACER_TEST_PEER");
            const size_t colon = address.rfind(':');
            FControl.connectToHost(QString::fromStdString(address.substr(0, colon)),
                                   static_cast<quint16>(std::stoi(address.substr(colon + 1))));
            if (!FControl.waitForConnected(link_test::kDeadlineMs))
                return false;
        }
        FControl.write((Command + "\n").c_str());
        if (!FControl.waitForBytesWritten(link_test::kDeadlineMs))
            return false;
        while (!FControl.canReadLine())
            if (!FControl.waitForReadyRead(link_test::kDeadlineMs))
                return false;
        return FControl.readLine() == "ok\n";
    }

private:
    QTcpSocket FControl;
};

} // namespace

// One settings file serves both systems: a Linux workstation's /dev/ttyS2 is COM3 here.
TEST(Win32DevicePath, ComNamesAndLinuxSerialNamesOpenTheComDevice) {
    const struct {
        const char* Port;
        const char* Device;
    } cases[] = {
        {"COM3", "\\\\.\\COM3"},       {"com12", "\\\\.\\COM12"},     {"\\\\.\\COM7", "\\\\.\\COM7"},
        {"/dev/ttyS2", "\\\\.\\COM3"}, {"/dev/ttyS0", "\\\\.\\COM1"}, {"/dev/ttyUSB0", "/dev/ttyUSB0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(comms_os::DevicePath(c.Port), c.Device) << c.Port;
}

// How the driver's line errors become line events: a break and a damaged character are each
// reported, once per ClearCommError that counted them (the driver clears them as it reports them).
// Wine's driver never counts one on a pseudo-terminal, so the device's turning of them into events
// is tested on its own.
TEST(Win32LineErrors, TheDriversErrorsBecomeBreakAndErrorEvents) {
    const struct {
        DWORD Errors;
        uint32_t Events;
    } cases[] = {
        {0, 0},
        {CE_BREAK, EV_BREAK},
        {CE_FRAME, EV_ERR},
        {CE_RXPARITY, EV_ERR},
        {CE_OVERRUN, EV_ERR},
        {CE_RXOVER, EV_ERR},
        {CE_BREAK | CE_FRAME, EV_BREAK | EV_ERR}, // a break usually comes with a framing error
        {CE_FRAME | CE_OVERRUN | CE_RXPARITY, EV_ERR},
        {CE_TXFULL, 0}, // the sending side's, which the write's own result tells
    };
    for (const auto& c : cases)
        EXPECT_EQ(comms_os::LineErrorEvents(c.Errors), c.Events) << c.Errors;
}

// A modem-line wait that ends without naming a line is a driver that cannot watch them (wine
// refuses the wait instead, which the device test of the modem wait below sees).
TEST(Win32ModemWait, OnlyTheLinesAWaitNamesAreReportedAndNoneMeansGiveUp) {
    const struct {
        DWORD Mask;
        uint32_t Events;
    } cases[] = {
        {0, 0},
        {EV_CTS, EV_CTS},
        {EV_DSR | EV_RING, EV_DSR | EV_RING},
        {EV_RLSD, EV_RLSD},
        {EV_RXCHAR, 0}, // not a modem line: nothing to report, and no lines watched
        {EV_CTS | EV_RXCHAR, EV_CTS},
    };
    for (const auto& c : cases)
        EXPECT_EQ(comms_os::ModemWaitEvents(c.Mask), c.Events) << c.Mask;
}

TEST_F(Win32SerialPort, BytesComeBackInOrderAndTheIdleThreadSleeps) {
    TEchoPort echo;
    echo.Port.Open();
    const std::string payload = RandomBytes(20000, 1) + "\x1c"
                                                        "REQ=INI\r\n\x1d";
    // Packet by packet, each echo taken before the next goes out, as a conversation does (a writer
    // that never reads would fill both directions of the line and stall the peer).
    for (size_t at = 0; at < payload.size(); at += 997) {
        const std::string packet = payload.substr(at, 997);
        EXPECT_EQ(echo.Port.Write(packet, true), static_cast<int>(packet.size()));
        ASSERT_TRUE(WaitFor([&] { return echo.Received.size() >= at + packet.size(); })) << echo.Received.size();
    }
    EXPECT_TRUE(echo.Received == payload);
    EXPECT_FALSE(echo.WrongThread);

    // Nothing on the line: the device thread waits without waking.
    const uint64_t before = echo.Port.EventThreadWakeups();
    RunEventsFor(500);
    EXPECT_LE(echo.Port.EventThreadWakeups() - before, 2u);
    echo.Port.Close();
}

TEST_F(Win32SerialPort, WritesStartedWithoutWaitFinishAndAWaitingReadFollowsItsTimeout) {
    TEchoPort echo;
    echo.Port.Open();
    const std::string payload = RandomBytes(3000, 2);
    const int started = echo.Port.Write(payload, false);
    EXPECT_TRUE(started == -1 || started == static_cast<int>(payload.size())) << started;
    EXPECT_TRUE(WaitFor([&] { return echo.Received.size() >= payload.size(); }));
    EXPECT_TRUE(echo.Received == payload);
    echo.Port.Close();

    // Without events the caller reads the queue itself; an empty line ends the read at its timeout.
    TComPort quiet;
    quiet.SetPort(TestPort());
    quiet.SetEvents(TEvents());
    quiet.Timeouts().SetReadTotalConstant(150);
    quiet.Open();
    std::string got;
    EXPECT_EQ(quiet.Read(got, 10, true), 0);
    quiet.Write("echo", true);
    EXPECT_TRUE(WaitFor([&] {
        std::string more;
        quiet.Read(more, 4 - static_cast<int>(got.size()), true);
        got += more;
        return got.size() >= 4;
    }));
    EXPECT_EQ(got, "echo");
    quiet.Close();
}

// The port's input queue holds ReadBufSize bytes: once it is full the device stops reading and
// the rest waits in the driver, and every read that makes room lets the next bytes in, in order.
TEST_F(Win32SerialPort, AFullInputQueuePausesTheReadsUntilReadsMakeRoom) {
    TEchoPort echo;
    echo.Gather = false;
    echo.Port.SetReadBufSize(TRxQueue::kMinCapacity);
    echo.Port.Open();
    const std::string payload = RandomBytes(3000, 3);
    EXPECT_EQ(echo.Port.Write(payload, true), static_cast<int>(payload.size()));
    // All of it has come back: the queue's share and the driver's.
    ASSERT_TRUE(WaitFor([&] { return echo.Port.InQueCount() == static_cast<int>(payload.size()); }))
        << echo.Port.InQueCount();
    const uint64_t before = echo.Port.EventThreadWakeups();
    RunEventsFor(300);
    EXPECT_LE(echo.Port.EventThreadWakeups() - before, 2u); // paused, not spinning

    std::string got;
    std::string chunk;
    EXPECT_EQ(echo.Port.Read(chunk, 100000, false), static_cast<int>(TRxQueue::kMinCapacity));
    got += chunk;
    EXPECT_TRUE(WaitFor([&] {
        echo.Port.Read(chunk, 100000, false);
        EXPECT_LE(chunk.size(), TRxQueue::kMinCapacity);
        got += chunk;
        return got.size() >= payload.size();
    }));
    EXPECT_TRUE(got == payload) << got.size();
    EXPECT_EQ(echo.Port.InQueCount(), 0);
    EXPECT_GE(echo.RxChars, 2);

    // The line goes on as before.
    echo.Gather = true;
    EXPECT_EQ(echo.Port.Write("after", true), 5);
    EXPECT_TRUE(WaitFor([&] { return echo.Received == "after"; })) << echo.Received.size();
    echo.Port.Close();
}

// The far end stops reading: a waited write ends when the write timeouts run out, with what went
// out, and the line goes on once the far end reads again.
TEST_F(Win32SerialPort, AWaitedWriteEndsWhenTheWriteTimeoutsRunOut) {
    TEchoPort echo;
    echo.Port.Timeouts().SetWriteTotalMultiplier(0);
    echo.Port.Timeouts().SetWriteTotalConstant(300);
    echo.Port.Open();
    ASSERT_TRUE(Peer("hold"));
    const std::string big = RandomBytes(1 << 20, 4);
    const int written = echo.Port.Write(big, true);
    EXPECT_GE(written, 0);
    EXPECT_LT(written, static_cast<int>(big.size()));
    EXPECT_FALSE(echo.Port.HasPendingOps());

    ASSERT_TRUE(Peer("release"));
    EXPECT_EQ(echo.Port.Write("after", true), 5);
    ASSERT_TRUE(WaitFor([&] { return echo.Ends("after"); })) << echo.Received.size();
    // What went out is a beginning of the payload, nothing of it twice.
    const size_t sent = echo.Received.size() - 5;
    EXPECT_TRUE(echo.Received.compare(0, sent, big, 0, sent) == 0);
    EXPECT_GE(sent, static_cast<size_t>(written));
    echo.Port.Close();
}

// Writes the far end does not take stay pending; aborting them releases their records, sends
// nothing more of them, and leaves the line working.
TEST_F(Win32SerialPort, APurgeAbortsThePendingWritesAndTheLineGoesOn) {
    TEchoPort echo;
    echo.Port.Open();
    ASSERT_TRUE(Peer("hold"));
    const std::string big = RandomBytes(1 << 20, 5);
    EXPECT_EQ(echo.Port.Write(big, false), -1);
    EXPECT_EQ(echo.Port.Write("queued behind", false), -1);
    EXPECT_TRUE(echo.Port.HasPendingOps());
    EXPECT_NO_THROW(echo.Port.AbortAllAsync());
    EXPECT_FALSE(echo.Port.HasPendingOps());
    EXPECT_TRUE(echo.Port.Active());

    ASSERT_TRUE(Peer("release"));
    EXPECT_EQ(echo.Port.Write("after", true), 5);
    ASSERT_TRUE(WaitFor([&] { return echo.Ends("after"); })) << echo.Received.size();
    // Of the aborted writes only bytes the driver had passed on arrive, some of them dropped by
    // the purge, and nothing of the write queued behind.
    const std::string sent = echo.Received.substr(0, echo.Received.size() - 5);
    EXPECT_LT(sent.size(), big.size());
    EXPECT_TRUE(PiecesInOrder(sent, big)) << sent.size();
    EXPECT_EQ(echo.Errors, 0);
    echo.Port.Close();
}

// The modem lines are watched only where the driver can: wine refuses the wait on a
// pseudo-terminal, and the device gives up on the lines, sleeps and goes on with the bytes.
TEST_F(Win32SerialPort, TheModemWaitGivesUpWithoutSpinningWhereTheDriverCannotWatch) {
    TEchoPort echo({evRxChar, evCTS, evDSR, evRing, evRLSD});
    int modem = 0;
    echo.Port.OnCTS = echo.Port.OnDSR = echo.Port.OnRing = echo.Port.OnRLSD = [&](QObject*) { ++modem; };
    echo.Port.Open();
    const uint64_t before = echo.Port.EventThreadWakeups();
    RunEventsFor(500);
    EXPECT_LE(echo.Port.EventThreadWakeups() - before, 4u);
    EXPECT_EQ(modem, 0);
    EXPECT_EQ(echo.Port.Write("still here", true), 10);
    EXPECT_TRUE(WaitFor([&] { return echo.Received == "still here"; })) << echo.Received;
    echo.Port.Close();
}

TEST_F(Win32SerialPort, AnOpenPortIsNotOpenedTwiceAndTheListShowsIt) {
    const auto listed = [] {
        for (const TSerialPortEntry& entry : SerialPortCandidates(""))
            if (entry.Port == TestPort())
                return true;
        return false;
    };
    EXPECT_TRUE(listed());
    EXPECT_TRUE(CanOpenSerialPort(TestPort()));
    TComPort first;
    first.SetPort(TestPort());
    first.Open();
    EXPECT_FALSE(CanOpenSerialPort(TestPort()));
    TComPort second;
    second.SetPort(TestPort());
    EXPECT_THROW(second.Open(), EComPort);
    first.Close();
    EXPECT_TRUE(CanOpenSerialPort(TestPort()));
}

TEST_F(Win32SerialPort, ALostLineIsReportedOnceAndTheThreadDoesNotSpin) {
    TEchoPort echo;
    echo.Port.Open();
    ASSERT_TRUE(Peer("hangup"));
    EXPECT_TRUE(WaitFor([&] { return echo.Errors == 1 && !echo.Reports.empty(); })) << echo.Reports;
    EXPECT_NE(echo.Reports.find("Connection lost on " + TestPort()), std::string::npos) << echo.Reports;
    const uint64_t parked = echo.Port.EventThreadWakeups();
    RunEventsFor(300);
    EXPECT_EQ(echo.Errors, 1);
    EXPECT_LE(echo.Port.EventThreadWakeups() - parked, 2u);
    EXPECT_NO_THROW(echo.Port.Close());
}
