// The serial port list: which device names are candidates, which of them can be opened, the order.
#include "link/PortList.h"

#include "DeviceFolder.h"
#include "PtyPair.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

using test_support::TDeviceFolder;
using test_support::TLineLock;
using TPty = test_support::TPtyPair;
using testing::ElementsAre;
using testing::Field;

namespace {

std::string RealPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? buffer : path;
}

std::vector<std::string> PortsOf(const std::vector<TSerialPortEntry>& entries) {
    std::vector<std::string> ports;
    for (const TSerialPortEntry& entry : entries)
        ports.push_back(entry.Port);
    return ports;
}

class PortListTest : public testing::Test {
protected:
    TDeviceFolder Dev;
    TPty UsbPty, S10Pty, S2Pty, LockedPty, ByIdPty, OtherPty;
};

TEST_F(PortListTest, KeepsOnlyPortsThatOpenInNaturalOrder) {
    const std::string usb = Dev.Link("ttyUSB0", UsbPty.SlavePath());
    const std::string s10 = Dev.Link("ttyS10", S10Pty.SlavePath());
    const std::string s2 = Dev.Link("ttyS2", S2Pty.SlavePath());
    const std::string locked = Dev.Link("ttyS3", LockedPty.SlavePath());
    const std::string byId = Dev.Link("serial/by-id/usb-Tracer_0001-if00-port0", ByIdPty.SlavePath());
    Dev.Link("other0", OtherPty.SlavePath()); // not a serial device name
    Dev.File("ttyACM0", "a regular file, not a terminal");
    TLineLock inUse(LockedPty.SlavePath());

    // The locked line is a candidate (nothing is opened for that) but cannot be opened; the regular
    // file is not even a candidate.
    EXPECT_THAT(PortsOf(SerialPortCandidates(Dev.Path())), ElementsAre(byId, s2, locked, s10, usb));

    const std::vector<TSerialPortEntry> ports = ListOpenableSerialPorts(Dev.Path());
    EXPECT_THAT(PortsOf(ports), ElementsAre(byId, s2, s10, usb));
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[0].Display, byId + " (" + RealPath(ByIdPty.SlavePath()) + ")");
    EXPECT_EQ(ports[1].Display, s2);
    EXPECT_EQ(ports[3].Display, usb);
}

TEST(PortList, EverySerialFamilyIsACandidateAndNothingElse) {
    TDeviceFolder dev;
    TPty pty;
    for (const char* name : {"ttyAMA0", "ttyO1", "ttySAC2", "ttymxc3", "ttyTHS4", "ttyXRUSB5", "rfcomm6", "tty0",
                             "ttyprintk", "ttySX", "console"})
        dev.Link(name, pty.SlavePath());
    EXPECT_THAT(PortsOf(SerialPortCandidates(dev.Path())),
                ElementsAre(dev.PathOf("rfcomm6"), dev.PathOf("ttyAMA0"), dev.PathOf("ttyO1"), dev.PathOf("ttySAC2"),
                            dev.PathOf("ttyTHS4"), dev.PathOf("ttyXRUSB5"), dev.PathOf("ttymxc3")));
}

TEST_F(PortListTest, ProbingLeavesTheLineFree) {
    // The probe's own lock must be gone when it reports, or the tracer port could not open after it.
    const std::string usb = Dev.Link("ttyUSB0", UsbPty.SlavePath());
    ASSERT_TRUE(CanOpenSerialPort(usb));
    EXPECT_NO_THROW(TLineLock{usb});
    EXPECT_TRUE(CanOpenSerialPort(usb));
}

TEST(PortList, RefusesWhatIsNotAnOpenableTerminal) {
    TDeviceFolder dev;
    const std::string file = dev.File("ttyS0", "x");
    EXPECT_FALSE(CanOpenSerialPort(file));
    EXPECT_FALSE(CanOpenSerialPort(dev.Path()));
    EXPECT_FALSE(CanOpenSerialPort(dev.PathOf("missing")));
    EXPECT_TRUE(ListOpenableSerialPorts(dev.PathOf("missing")).empty());
}

TEST(PortList, NaturalOrder) {
    struct TCase {
        const char* A;
        const char* B;
        bool Less;
    } cases[] = {
        {"ttyS2", "ttyS10", true},    {"ttyS10", "ttyS2", false},
        {"ttyS1", "ttyS1", false},    {"ttyS", "ttyS0", true},
        {"ttyS0", "ttyS", false},     {"ttyS9", "ttyUSB0", true},
        {"ttyS1", "ttyS01", true},    {"ttyS01", "ttyS1", false},
        {"ttyS007", "ttyS7a", false}, {"a99999999999999999999b", "a100000000000000000000", true},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(NaturalLess(c.A, c.B), c.Less) << c.A << " < " << c.B;
}

} // namespace
