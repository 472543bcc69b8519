// The serial port on Windows against a real COM port. The port's name comes from
// TRACER_TEST_COM; its other end echoes every byte back and hangs up when it receives
// "HANGUP\n" (scripts/wine-serial-test.sh maps a pseudo-terminal as the COM port under wine, with
// tests/link/com_echo_peer.py on its other end). Without the variable the tests skip.
#include "link/CommDevice.h"
#include "link/Comms.h"
#include "link/PortList.h"

#include "LinkWaits.h"

#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

using link_test::WaitFor;

std::string TestPort() {
    const char* port = std::getenv("TRACER_TEST_COM");
    return port ? port : "";
}

#define REQUIRE_PORT()                                                                                                 \
    if (TestPort().empty())                                                                                            \
    GTEST_SKIP() << "TRACER_TEST_COM names no COM port with an echoing peer"

void RunEventsFor(int Milliseconds) {
    QElapsedTimer elapsed;
    elapsed.start();
    WaitFor([&] { return elapsed.elapsed() >= Milliseconds; }, Milliseconds + 1000);
}

// Random bytes without the letter of the echoing peer's hang-up word, which must not turn up by
// chance.
std::string RandomBytes(size_t Size, unsigned Seed) {
    std::string bytes = link_test::RandomBytes(Size, Seed);
    std::replace(bytes.begin(), bytes.end(), 'H', 'h');
    return bytes;
}

// The port under test with its received bytes gathered on the main thread.
struct TEchoPort {
    TComPort Port;
    std::string Received;
    std::string Reports;
    int Errors = 0;
    bool WrongThread = false;

    TEchoPort() {
        Port.SetPort(TestPort());
        Port.SetBaudRate(9600);
        QThread* owner = QThread::currentThread();
        Port.OnRxChar = [this, owner](QObject*, int count) {
            if (QThread::currentThread() != owner)
                WrongThread = true;
            std::string chunk;
            Port.Read(chunk, count, false);
            Received += chunk;
        };
        Port.OnError = [this](QObject*) { ++Errors; };
        Port.OnEventError = [this](QObject*, const std::string& message) { Reports += message + "\n"; };
    }
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

TEST(Win32SerialPort, BytesComeBackInOrderAndTheIdleThreadSleeps) {
    REQUIRE_PORT();
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

TEST(Win32SerialPort, WritesStartedWithoutWaitFinishAndAWaitingReadFollowsItsTimeout) {
    REQUIRE_PORT();
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

TEST(Win32SerialPort, AnOpenPortIsNotOpenedTwiceAndTheListShowsIt) {
    REQUIRE_PORT();
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

// Last: the peer hangs up for good.
TEST(Win32SerialPort, ZLostLineIsReportedOnceAndTheThreadDoesNotSpin) {
    REQUIRE_PORT();
    TEchoPort echo;
    echo.Port.Open();
    echo.Port.Write("HANGUP\n", true);
    EXPECT_TRUE(WaitFor([&] { return echo.Errors == 1 && !echo.Reports.empty(); }, 10000)) << echo.Reports;
    EXPECT_NE(echo.Reports.find("Connection lost on " + TestPort()), std::string::npos) << echo.Reports;
    const uint64_t parked = echo.Port.EventThreadWakeups();
    RunEventsFor(300);
    EXPECT_EQ(echo.Errors, 1);
    EXPECT_LE(echo.Port.EventThreadWakeups() - parked, 2u);
    EXPECT_NO_THROW(echo.Port.Close());
}
