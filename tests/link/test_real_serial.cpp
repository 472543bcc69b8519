// Checks that need a real serial port with modem lines (the modem-line watcher and its stop).
// They run only when TRACER_TEST_SERIAL names such a port, because opening a machine's serial
// ports changes their settings and line levels (one of them may be a console).
#include "link/Comms.h"

#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

std::string RealSerialPort() {
    const char* name = std::getenv("TRACER_TEST_SERIAL");
    return name == nullptr ? std::string() : std::string(name);
}

bool HasModemLines(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int lines = 0;
    const bool ok = ::ioctl(fd, TIOCMGET, &lines) == 0;
    ::close(fd);
    return ok;
}

} // namespace

TEST(TComPortRealLine, TheModemLineWatcherStartsAndStopsEveryTime) {
    const std::string path = RealSerialPort();
    if (path.empty())
        GTEST_SKIP() << "no real serial port named: set TRACER_TEST_SERIAL=/dev/ttyUSB0 (a port with modem lines)";
    if (!HasModemLines(path))
        GTEST_SKIP() << path << " cannot be opened or has no modem lines";
    TComPort port;
    port.SetPort(path);
    port.FlowControl().SetControlDtr(dtrEnable);
    port.FlowControl().SetControlRts(rtsEnable);
    for (int round = 0; round < 20; ++round) {
        port.Open();
        EXPECT_TRUE(port.Active());
        QTest::qWait(5);
        port.Close(); // stops the watcher blocked in TIOCMIWAIT
        EXPECT_FALSE(port.Active());
    }
    TComPort first;
    first.SetPort(path);
    first.Open();
    TComPort second;
    second.SetPort(path);
    EXPECT_THROW(second.Open(), EComPort);
}
