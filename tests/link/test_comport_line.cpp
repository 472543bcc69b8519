// The serial port on a real line (a pseudo-terminal): open and close order, settings read back
// from the line, exclusive use, failures to open, reopening on a new name.
#include "link/Comms.h"

#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using link_test::TPtyPair;
using link_test::WaitFor;

namespace {

std::string MessageOf(const std::function<void()>& Action) {
    try {
        Action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(nothing raised)";
}

} // namespace

TEST(TComPortLine, OpenAndCloseRunInOrderAndAnnounceThemselves) {
    for (const bool withEvents : {true, false}) {
        TPtyPair pty;
        std::vector<std::string> log; // outlives the port, whose handlers use it
        TComPort port;
        port.OnOpen = [&](QObject* sender) {
            EXPECT_EQ(sender, &port);
            log.push_back(port.Active() ? "open(active)" : "open(closed)");
        };
        port.OnClose = [&](QObject* sender) {
            EXPECT_EQ(sender, &port);
            log.push_back(port.Active() ? "close(active)" : "close(closed)");
        };
        if (!withEvents)
            port.SetEvents({});
        port.SetPort(pty.SlavePath());
        port.SetActive(true);
        port.SetActive(true); // already open: nothing
        EXPECT_TRUE(port.Active());
        port.SetActive(false);
        port.SetActive(false); // already closed: nothing
        EXPECT_FALSE(port.Active());
        port.Open();
        port.Open(); // Open on an open port closes first
        port.Close();
        const std::vector<std::string> expected = {"open(active)",  "close(closed)", "open(active)",
                                                   "close(closed)", "open(active)",  "close(closed)"};
        EXPECT_EQ(log, expected) << (withEvents ? "with events" : "without events");
    }
}

TEST(TComPortLine, SettingsReachTheLine) {
    // What a pseudo-terminal keeps of a termios setup (it forces CS8 and no PARENB, so the
    // character size and parity enable are checked on the translation alone).
    using Change = std::function<void(TComPort&)>;
    using Check = std::function<bool(const termios&)>;
    const struct {
        const char* Name;
        Change Apply;
        Check Expect;
    } cases[] = {
        {"baud rate", [](TComPort& p) { p.SetBaudRate(115200); },
         [](const termios& t) { return cfgetospeed(&t) == B115200 && cfgetispeed(&t) == B115200; }},
        {"two stop bits", [](TComPort& p) { p.SetStopBits(sbTwoStopBits); },
         [](const termios& t) { return (t.c_cflag & CSTOPB) != 0; }},
        {"1.5 stop bits as two", [](TComPort& p) { p.SetStopBits(sbOne5StopBits); },
         [](const termios& t) { return (t.c_cflag & CSTOPB) != 0; }},
        {"odd parity", [](TComPort& p) { p.Parity().SetBits(prOdd); },
         [](const termios& t) { return (t.c_cflag & PARODD) != 0; }},
        {"mark parity", [](TComPort& p) { p.Parity().SetBits(prMark); },
         [](const termios& t) { return (t.c_cflag & (CMSPAR | PARODD)) == (CMSPAR | PARODD); }},
        {"space parity", [](TComPort& p) { p.Parity().SetBits(prSpace); },
         [](const termios& t) { return (t.c_cflag & (CMSPAR | PARODD)) == CMSPAR; }},
        {"parity check", [](TComPort& p) { p.Parity().SetCheck(true); },
         [](const termios& t) { return (t.c_iflag & INPCK) != 0; }},
        {"CTS flow", [](TComPort& p) { p.FlowControl().SetOutCtsFlow(true); },
         [](const termios& t) { return (t.c_cflag & CRTSCTS) != 0; }},
        {"RTS handshake", [](TComPort& p) { p.FlowControl().SetControlRts(rtsHandshake); },
         [](const termios& t) { return (t.c_cflag & CRTSCTS) != 0; }},
        {"XON/XOFF out", [](TComPort& p) { p.FlowControl().SetXonXoffOut(true); },
         [](const termios& t) { return (t.c_iflag & (IXON | IXOFF)) == IXON; }},
        {"XON/XOFF in", [](TComPort& p) { p.FlowControl().SetXonXoffIn(true); },
         [](const termios& t) { return (t.c_iflag & (IXON | IXOFF)) == IXOFF; }},
        {"DTR and RTS levels (no modem lines on a pty: ignored)",
         [](TComPort& p) {
             p.FlowControl().SetControlDtr(dtrEnable);
             p.FlowControl().SetControlRts(rtsEnable);
         },
         [](const termios& t) { return (t.c_cflag & CRTSCTS) == 0; }},
    };
    for (const auto& c : cases) {
        for (const bool whileOpen : {true, false}) {
            TPtyPair pty;
            TComPort port;
            port.SetPort(pty.SlavePath());
            if (whileOpen)
                port.Open();
            c.Apply(port);
            if (!whileOpen) {
                // Stored only; the line still has its own settings until the open.
                EXPECT_NE(pty.SlaveSettings().c_lflag & ICANON, 0u) << c.Name;
                port.Open();
            }
            const termios tio = pty.SlaveSettings();
            EXPECT_TRUE(c.Expect(tio)) << c.Name << (whileOpen ? " (set while open)" : " (set before open)");
            // Raw mode in every case.
            EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u) << c.Name;
            EXPECT_EQ(tio.c_oflag & OPOST, 0u) << c.Name;
            EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD)) << c.Name;
            EXPECT_EQ(tio.c_cc[VMIN], 0) << c.Name;
            EXPECT_EQ(tio.c_cc[VTIME], 0) << c.Name;
        }
    }
}

TEST(TComPortLine, AnUnchangedValueDoesNothingAChangedOneReappliesTheWholeDCB) {
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.Open();
    // Change the line behind the port's back.
    termios tio = pty.SlaveSettings();
    cfsetispeed(&tio, B1200);
    cfsetospeed(&tio, B1200);
    tio.c_iflag |= IXON;
    tcsetattr(pty.Slave(), TCSANOW, &tio);
    port.SetBaudRate(9600); // the stored value: nothing is applied
    const termios untouched = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&untouched), static_cast<speed_t>(B1200));
    port.SetStopBits(sbTwoStopBits); // another setting: the whole record, speed included
    const termios after = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B9600));
    EXPECT_EQ(after.c_iflag & IXON, 0u);
    EXPECT_NE(after.c_cflag & CSTOPB, 0u);
}

TEST(TComPortLine, RefusedLineSettings) {
    const struct {
        const char* Name;
        std::function<void(TComPort&)> Apply;
    } cases[] = {
        {"unsupported rate", [](TComPort& p) { p.SetBaudRate(12345); }},
        {"four data bits", [](TComPort& p) { p.SetDataBits(4); }},
        {"nine data bits", [](TComPort& p) { p.SetDataBits(9); }},
    };
    for (const auto& c : cases) {
        TPtyPair pty;
        int opens = 0;
        TComPort port;
        port.SetPort(pty.SlavePath());
        // While open: the new value stays stored, the line keeps its previous settings.
        port.Open();
        const termios before = pty.SlaveSettings();
        EXPECT_EQ(MessageOf([&] { c.Apply(port); }), "Unable to set com state: Invalid argument") << c.Name;
        EXPECT_TRUE(port.Active()) << c.Name;
        const termios kept = pty.SlaveSettings();
        EXPECT_EQ(cfgetospeed(&kept), cfgetospeed(&before)) << c.Name;
        port.Close();
        // At the open: the device is closed again and the open fails with the settings error.
        port.OnOpen = [&](QObject*) { ++opens; };
        EXPECT_EQ(MessageOf([&] { port.Open(); }), "Unable to set com state: Invalid argument") << c.Name;
        EXPECT_FALSE(port.Active()) << c.Name;
        EXPECT_EQ(opens, 0) << c.Name;
        // The line is free again.
        TComPort other;
        other.SetPort(pty.SlavePath());
        EXPECT_NO_THROW(other.Open()) << c.Name;
    }
}

TEST(TComPortLine, TheLineGetsItsSettingsBackAtClose) {
    TPtyPair pty;
    const termios before = pty.SlaveSettings();
    {
        TComPort port;
        port.SetPort(pty.SlavePath());
        port.SetBaudRate(115200);
        port.FlowControl().SetXonXoffOut(true);
        port.Open();
        EXPECT_EQ(pty.SlaveSettings().c_lflag & ICANON, 0u);
        port.Close();
    }
    const termios after = pty.SlaveSettings();
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
}

TEST(TComPortLine, ASecondOpenerIsRefusedWhileTheLineIsInUse) {
    TPtyPair pty;
    TComPort first;
    first.SetPort(pty.SlavePath());
    first.Open();
    TComPort second;
    second.SetPort(pty.SlavePath());
    EXPECT_EQ(MessageOf([&] { second.Open(); }), "Unable to open " + pty.SlavePath() + ": in use by another program");
    EXPECT_FALSE(second.Active());
    // The first one is unharmed.
    EXPECT_EQ(first.Write("still mine", true), 10);
    EXPECT_EQ(pty.Receive(10), "still mine");
    first.Close();
    EXPECT_NO_THROW(second.Open());
    EXPECT_TRUE(second.Active());
}

TEST(TComPortLine, FailuresToOpenLeaveThePortClosedAndUnchanged) {
    const struct {
        const char* Port;
        const char* Message;
    } cases[] = {
        {"/dev/no-such-tracer-line", "Unable to open /dev/no-such-tracer-line: No such file or directory"},
        {"/dev/null", "Unable to open /dev/null: Inappropriate ioctl for device"},
        {"\\\\.\\COMno-such-tracer-line", "Unable to open \\\\.\\COMno-such-tracer-line: No such file or directory"},
    };
    for (const auto& c : cases) {
        int announcements = 0;
        TComPort port;
        port.OnOpen = [&](QObject*) { ++announcements; };
        port.OnClose = [&](QObject*) { ++announcements; };
        port.SetPort(c.Port);
        port.SetBaudRate(19200);
        EXPECT_EQ(MessageOf([&] { port.SetActive(true); }), c.Message);
        EXPECT_FALSE(port.Active());
        EXPECT_EQ(port.Port(), c.Port);
        EXPECT_EQ(port.BaudRate(), 19200);
        EXPECT_EQ(announcements, 0);
        EXPECT_THROW(port.Open(), EComPort);
    }
}

TEST(TComPortLine, ANewNameOnAnOpenPortClosesAndReopens) {
    TPtyPair first;
    TPtyPair second;
    std::vector<std::string> log; // outlive the port, whose handlers use them
    std::string received;
    TComPort port;
    port.OnOpen = [&](QObject*) { log.push_back("open " + port.Port()); };
    port.OnClose = [&](QObject*) { log.push_back("close"); };
    port.OnRxChar = [&](QObject*, int count) {
        std::string chunk;
        port.Read(chunk, count, false);
        received += chunk;
    };
    port.SetPort(first.SlavePath());
    port.Open();
    port.SetPort(first.SlavePath()); // the same text: nothing
    port.SetPort(second.SlavePath());
    const std::vector<std::string> expected = {"open " + first.SlavePath(), "close", "open " + second.SlavePath()};
    EXPECT_EQ(log, expected);
    second.Send("on the new line");
    EXPECT_TRUE(WaitFor([&] { return received == "on the new line"; })) << received;
    // The first line is free again.
    TComPort other;
    other.SetPort(first.SlavePath());
    EXPECT_NO_THROW(other.Open());
}

TEST(TComPortLine, SyncMethodCannotChangeWhileConnected) {
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.Open();
    EXPECT_NO_THROW(port.SetSyncMethod(smSynchronize)); // the current value: nothing
    for (const TSyncMethod method : {smWindow, smNone}) {
        EXPECT_EQ(MessageOf([&] { port.SetSyncMethod(method); }), "Cannot set SyncMethod while connected");
        EXPECT_EQ(port.SyncMethod(), smSynchronize);
    }
    port.Close();
    port.SetSyncMethod(smNone);
    EXPECT_EQ(port.SyncMethod(), smNone);
}

TEST(TComPortLine, AnIdleOpenPortDoesNotWakeUp) {
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.Open();
    const uint64_t before = port.EventThreadWakeups();
    QTest::qWait(200); // idle: no traffic at all
    EXPECT_EQ(port.EventThreadWakeups(), before);
}
