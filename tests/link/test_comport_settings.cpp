// The serial port's settings without a line: defaults, the line settings and timeouts records built
// from the properties, port names, and the termios setup a DCB becomes.
#include "link/CommDevice.h"
#include "link/Comms.h"
#include "link/Comms_posix.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

namespace {
template <class T> int64_t Number(T value) {
    return static_cast<int64_t>(value);
}
} // namespace

// What a port is before anything is set, and the line settings record that becomes.
TEST(TComPortSettings, ANewPortAndItsDCBHaveTheDocumentedDefaults) {
    TComPort port;
    const TDCB dcb = port.BuildDCB();
    const struct {
        const char* Name;
        int64_t Value;
        int64_t Expected;
    } cases[] = {
        {"Active", Number(port.Active()), 0},
        {"BaudRate", Number(port.BaudRate()), 9600},
        {"DataBits", Number(port.DataBits()), 8},
        {"StopBits", Number(port.StopBits()), Number(sbOneStopBit)},
        {"Parity.Bits", Number(port.Parity().Bits()), Number(prNone)},
        {"Parity.Check", Number(port.Parity().Check()), 0},
        {"Parity.Replace", Number(port.Parity().Replace()), 0},
        {"Parity.ReplaceChar", Number(port.Parity().ReplaceChar()), 0},
        {"DiscardNull", Number(port.DiscardNull()), 0},
        {"EventChar", Number(port.EventChar()), 0},
        {"ReadBufSize", Number(port.ReadBufSize()), 1024},
        {"WriteBufSize", Number(port.WriteBufSize()), 1024},
        {"FlowControl.OutCtsFlow", Number(port.FlowControl().OutCtsFlow()), 0},
        {"FlowControl.OutDsrFlow", Number(port.FlowControl().OutDsrFlow()), 0},
        {"FlowControl.ControlDtr", Number(port.FlowControl().ControlDtr()), Number(dtrDisable)},
        {"FlowControl.ControlRts", Number(port.FlowControl().ControlRts()), Number(rtsDisable)},
        {"FlowControl.XonXoffOut", Number(port.FlowControl().XonXoffOut()), 0},
        {"FlowControl.XonXoffIn", Number(port.FlowControl().XonXoffIn()), 0},
        {"Timeouts.ReadInterval", Number(port.Timeouts().ReadInterval()), -1},
        {"Timeouts.ReadTotalMultiplier", Number(port.Timeouts().ReadTotalMultiplier()), 0},
        {"Timeouts.ReadTotalConstant", Number(port.Timeouts().ReadTotalConstant()), 0},
        {"Timeouts.WriteTotalMultiplier", Number(port.Timeouts().WriteTotalMultiplier()), 100},
        {"Timeouts.WriteTotalConstant", Number(port.Timeouts().WriteTotalConstant()), 1000},
        {"Events", Number(EventMask(port.Events())), Number(EventMask(TEvents::All()))},
        {"SyncMethod", Number(port.SyncMethod()), Number(smSynchronize)},
        {"HasPendingOps", Number(port.HasPendingOps()), 0},
        {"WaitForLastOp", Number(port.WaitForLastOp()), -2},
        {"EventThreadWakeups", Number(port.EventThreadWakeups()), 0},

        {"DCB.DCBlength", Number(dcb.DCBlength), 28},
        {"DCB.BaudRate", Number(dcb.BaudRate), 9600},
        {"DCB.fBinary", Number(dcb.fBinary), 1},
        {"DCB.fParity", Number(dcb.fParity), 0},
        {"DCB.fOutxCtsFlow", Number(dcb.fOutxCtsFlow), 0},
        {"DCB.fOutxDsrFlow", Number(dcb.fOutxDsrFlow), 0},
        {"DCB.fDtrControl", Number(dcb.fDtrControl), Number(dtrDisable)},
        {"DCB.fDsrSensitivity", Number(dcb.fDsrSensitivity), 0},
        {"DCB.fTXContinueOnXoff", Number(dcb.fTXContinueOnXoff), 0},
        {"DCB.fOutX", Number(dcb.fOutX), 0},
        {"DCB.fInX", Number(dcb.fInX), 0},
        {"DCB.fErrorChar", Number(dcb.fErrorChar), 0},
        {"DCB.fNull", Number(dcb.fNull), 0},
        {"DCB.fRtsControl", Number(dcb.fRtsControl), Number(rtsDisable)},
        {"DCB.fAbortOnError", Number(dcb.fAbortOnError), 0},
        {"DCB.XonLim", Number(dcb.XonLim), 256},
        {"DCB.XoffLim", Number(dcb.XoffLim), 256},
        {"DCB.ByteSize", Number(dcb.ByteSize), 8},
        {"DCB.Parity", Number(dcb.Parity), Number(prNone)},
        {"DCB.StopBits", Number(dcb.StopBits), Number(sbOneStopBit)},
        {"DCB.XonChar", Number(dcb.XonChar), 0x11},
        {"DCB.XoffChar", Number(dcb.XoffChar), 0x13},
        {"DCB.ErrorChar", Number(dcb.ErrorChar), 0},
        {"DCB.EofChar", Number(dcb.EofChar), 0},
        {"DCB.EvtChar", Number(dcb.EvtChar), 0},
    };
    EXPECT_EQ(port.Port(), "COM1");
    for (const auto& c : cases)
        EXPECT_EQ(c.Value, c.Expected) << c.Name;
}

TEST(TComPortSettings, EventsMapToTheirLineEventFlags) {
    const struct {
        TEvent Event;
        uint32_t Flag;
    } cases[] = {{evRxChar, 0x0001}, {evTxEmpty, 0x0004}, {evRxFlag, 0x0002}, {evRing, 0x0100}, {evBreak, 0x0040},
                 {evCTS, 0x0008},    {evDSR, 0x0010},     {evError, 0x0080},  {evRLSD, 0x0020}, {evRx80Full, 0x0400}};
    for (const auto& c : cases) {
        EXPECT_EQ(EventFlag(c.Event), c.Flag) << int(c.Event);
        EXPECT_TRUE(TEvents::All().Contains(c.Event));
        EXPECT_EQ(EventMask({c.Event}), c.Flag);
    }
    EXPECT_EQ(EventMask(TEvents::All()), 0x05FFu);
    EXPECT_EQ(EventMask({}), 0u);
    TEvents some{evRxChar, evError};
    some.Exclude(evRxChar);
    EXPECT_EQ(EventMask(some), EV_ERR);
    EXPECT_TRUE(TEvents{}.Empty());
}

TEST(TComPortSettings, XonXoffLimitsAreAQuarterOfTheReadQueueInSixteenBits) {
    const struct {
        uint32_t ReadBufSize;
        uint16_t Limit;
    } cases[] = {{12288, 3072}, {1024, 256}, {3, 0}, {262143, 0xFFFF}, {262144, 0}, {262148, 1}, {0xFFFFFFFF, 0xFFFF}};
    for (const auto& c : cases) {
        TComPort port;
        port.SetReadBufSize(c.ReadBufSize);
        const TDCB dcb = port.BuildDCB();
        EXPECT_EQ(dcb.XonLim, c.Limit) << c.ReadBufSize;
        EXPECT_EQ(dcb.XoffLim, c.Limit) << c.ReadBufSize;
    }
}

TEST(TComPortSettings, EachPropertyReachesItsDCBMember) {
    using Setup = std::function<void(TComPort&)>;
    using Check = std::function<bool(const TDCB&)>;
    const struct {
        const char* Name;
        Setup Change;
        Check Expect;
    } cases[] = {
        {"BaudRate", [](TComPort& p) { p.SetBaudRate(115200); }, [](const TDCB& d) { return d.BaudRate == 115200; }},
        {"DataBits", [](TComPort& p) { p.SetDataBits(7); }, [](const TDCB& d) { return d.ByteSize == 7; }},
        {"DataBits out of a byte", [](TComPort& p) { p.SetDataBits(264); },
         [](const TDCB& d) { return d.ByteSize == 0; }},
        {"Parity odd", [](TComPort& p) { p.Parity().SetBits(prOdd); }, [](const TDCB& d) { return d.Parity == 1; }},
        {"Parity even", [](TComPort& p) { p.Parity().SetBits(prEven); }, [](const TDCB& d) { return d.Parity == 2; }},
        {"Parity mark", [](TComPort& p) { p.Parity().SetBits(prMark); }, [](const TDCB& d) { return d.Parity == 3; }},
        {"Parity space", [](TComPort& p) { p.Parity().SetBits(prSpace); }, [](const TDCB& d) { return d.Parity == 4; }},
        {"Parity check", [](TComPort& p) { p.Parity().SetCheck(true); }, [](const TDCB& d) { return d.fParity == 1; }},
        {"Replace without its flag", [](TComPort& p) { p.Parity().SetReplaceChar(63); },
         [](const TDCB& d) { return d.fErrorChar == 0 && d.ErrorChar == 0; }},
        {"Replace with its flag",
         [](TComPort& p) {
             p.Parity().SetReplaceChar(63);
             p.Parity().SetReplace(true);
         },
         [](const TDCB& d) { return d.fErrorChar == 1 && d.ErrorChar == 63; }},
        {"Stop bits 1.5", [](TComPort& p) { p.SetStopBits(sbOne5StopBits); },
         [](const TDCB& d) { return d.StopBits == 1; }},
        {"Stop bits 2", [](TComPort& p) { p.SetStopBits(sbTwoStopBits); },
         [](const TDCB& d) { return d.StopBits == 2; }},
        {"DiscardNull", [](TComPort& p) { p.SetDiscardNull(true); }, [](const TDCB& d) { return d.fNull == 1; }},
        {"EventChar", [](TComPort& p) { p.SetEventChar('\n'); }, [](const TDCB& d) { return d.EvtChar == '\n'; }},
        {"OutCtsFlow", [](TComPort& p) { p.FlowControl().SetOutCtsFlow(true); },
         [](const TDCB& d) { return d.fOutxCtsFlow == 1; }},
        {"OutDsrFlow", [](TComPort& p) { p.FlowControl().SetOutDsrFlow(true); },
         [](const TDCB& d) { return d.fOutxDsrFlow == 1; }},
        {"ControlDtr enable", [](TComPort& p) { p.FlowControl().SetControlDtr(dtrEnable); },
         [](const TDCB& d) { return d.fDtrControl == 1; }},
        {"ControlDtr handshake", [](TComPort& p) { p.FlowControl().SetControlDtr(dtrHandshake); },
         [](const TDCB& d) { return d.fDtrControl == 2; }},
        {"ControlRts enable", [](TComPort& p) { p.FlowControl().SetControlRts(rtsEnable); },
         [](const TDCB& d) { return d.fRtsControl == 1; }},
        {"ControlRts handshake", [](TComPort& p) { p.FlowControl().SetControlRts(rtsHandshake); },
         [](const TDCB& d) { return d.fRtsControl == 2; }},
        {"ControlRts toggle", [](TComPort& p) { p.FlowControl().SetControlRts(rtsToggle); },
         [](const TDCB& d) { return d.fRtsControl == 3; }},
        {"XonXoffOut", [](TComPort& p) { p.FlowControl().SetXonXoffOut(true); },
         [](const TDCB& d) { return d.fOutX == 1 && d.fInX == 0; }},
        {"XonXoffIn", [](TComPort& p) { p.FlowControl().SetXonXoffIn(true); },
         [](const TDCB& d) { return d.fInX == 1 && d.fOutX == 0; }},
    };
    for (const auto& c : cases) {
        TComPort port;
        c.Change(port);
        EXPECT_TRUE(c.Expect(port.BuildDCB())) << c.Name;
        EXPECT_EQ(port.BuildDCB().DCBlength, 28u) << c.Name;
    }
}

TEST(TComPortSettings, TimeoutsRecordCarriesTheUnsignedPatterns) {
    TComPort port;
    TCommTimeouts t = port.BuildTimeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
    port.Timeouts().SetReadInterval(20);
    port.Timeouts().SetReadTotalMultiplier(-1);
    port.Timeouts().SetReadTotalConstant(500);
    port.Timeouts().SetWriteTotalMultiplier(0);
    port.Timeouts().SetWriteTotalConstant(-2);
    t = port.BuildTimeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, 20u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0xFFFFFFFFu);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 500u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 0xFFFFFFFEu);
}

TEST(TComPortSettings, SettersOnAClosedPortOnlyStore) {
    TComPort port;
    // Values the line would refuse: nothing is applied while closed, so nothing fails.
    port.SetBaudRate(12345);
    port.SetDataBits(4);
    port.SetReadBufSize(7);
    port.Timeouts().SetReadInterval(0);
    port.SetSyncMethod(smNone);
    port.SetSyncMethod(smWindow);
    port.SetEvents({});
    port.SetPort("com1"); // letter case counts: this is a change
    EXPECT_EQ(port.BaudRate(), 12345);
    EXPECT_EQ(port.DataBits(), 4);
    EXPECT_EQ(port.ReadBufSize(), 7u);
    EXPECT_EQ(port.SyncMethod(), smWindow);
    EXPECT_TRUE(port.Events().Empty());
    EXPECT_EQ(port.Port(), "com1");
    EXPECT_FALSE(port.Active());
}

TEST(TComPortSettings, OperationsOnAClosedPortFailWithTheirMessages) {
    TComPort port;
    std::string bytes;
    const std::string badDescriptor = std::to_string(EBADF);
    try {
        port.Write("x", false);
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(std::string(e.what()), "Operation failed: " + badDescriptor);
    }
    try {
        port.Read(bytes, 1, false);
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(std::string(e.what()), "Operation aborted: " + badDescriptor);
    }
    try {
        port.InQueCount();
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to read com status: " + badDescriptor);
    }
    EXPECT_FALSE(port.HasPendingOps()); // failed operations leave no record behind
    port.AbortAllAsync();               // nothing pending: nothing happens
    port.Close();                       // closed: nothing happens
}

TEST(TComPortNames, PortNamesMapToDevices) {
    const struct {
        const char* Port;
        const char* Device;
    } cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"com3", "/dev/ttyS2"},
        {"COM12", "/dev/ttyS11"},
        {"\\\\.\\COM3", "/dev/ttyS2"},
        {"//./\\\\.\\COM3", "/dev/ttyS2"},
        {"//./COM2", "/dev/ttyS1"},
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"pts/3", "/dev/pts/3"},
        {"/dev/serial/by-id/tracer", "/dev/serial/by-id/tracer"},
        {"\\\\.\\COMttyS0", "/dev/ttyS0"},
        {"\\\\.\\COMttyUSB0", "/dev/ttyUSB0"},
        {"COMttyUSB0", "/dev/ttyUSB0"},
        {"COM/dev/pts/3", "/dev/pts/3"},
        {"\\\\.\\COM/dev/pts/3", "/dev/pts/3"},
        {"COM0", "/dev/0"},
        {"COM", "/dev/"},
        {"", "/dev/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(comms_os::DevicePath(c.Port), c.Device) << c.Port;
}

TEST(TComPortNames, SystemErrorTextsEndWithoutFullStopOrBlank) {
    EXPECT_EQ(comms_os::SystemErrorText(EBUSY), "Device or resource busy");
    EXPECT_EQ(comms_os::SystemErrorText(EINVAL), "Invalid argument");
    for (int code = 1; code < 140; ++code) {
        const std::string text = comms_os::SystemErrorText(code);
        ASSERT_FALSE(text.empty()) << code;
        EXPECT_NE(text.back(), '.') << code;
        EXPECT_GT(static_cast<unsigned char>(text.back()), ' ') << code;
    }
}

namespace {

TDCB DefaultDCB() {
    TComPort port;
    return port.BuildDCB();
}

termios Translate(const TDCB& dcb, int& error) {
    termios tio{};
    tio.c_iflag = ICRNL | IXON | IGNPAR;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_lflag = ICANON | ECHO | ISIG;
    error = comms_os::TermiosFromDCB(dcb, tio);
    return tio;
}

} // namespace

TEST(TComPortTermios, TheDefaultsGiveARawEightNOneLine) {
    int error = -1;
    const termios tio = Translate(DefaultDCB(), error);
    ASSERT_EQ(error, 0);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (ICRNL | IXON | IXOFF | INPCK | IGNPAR | ISTRIP | PARMRK), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    EXPECT_EQ(tio.c_cc[VSTART], 0x11);
    EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
    EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
}

TEST(TComPortTermios, StandardRatesAreTakenOthersRefused) {
    const struct {
        uint32_t Rate;
        speed_t Speed;
    } accepted[] = {{50, B50},         {300, B300},       {1200, B1200},      {9600, B9600},
                    {19200, B19200},   {38400, B38400},   {57600, B57600},    {115200, B115200},
                    {230400, B230400}, {921600, B921600}, {4000000, B4000000}};
    for (const auto& c : accepted) {
        TDCB dcb = DefaultDCB();
        dcb.BaudRate = c.Rate;
        int error = -1;
        const termios tio = Translate(dcb, error);
        EXPECT_EQ(error, 0) << c.Rate;
        EXPECT_EQ(cfgetispeed(&tio), c.Speed) << c.Rate;
        EXPECT_EQ(cfgetospeed(&tio), c.Speed) << c.Rate;
    }
    for (uint32_t rate : {0u, 12345u, 9601u, 0xFFFFFFFFu}) {
        TDCB dcb = DefaultDCB();
        dcb.BaudRate = rate;
        int error = 0;
        Translate(dcb, error);
        EXPECT_EQ(error, EINVAL) << rate;
    }
}

TEST(TComPortTermios, CharacterFormat) {
    const struct {
        uint8_t ByteSize;
        uint8_t Parity;
        uint8_t StopBits;
        bool Check;
        int Error;
        tcflag_t Size;
        tcflag_t ParityFlags;
        bool TwoStops;
    } cases[] = {
        {5, prNone, sbOneStopBit, false, 0, CS5, 0, false},
        {6, prNone, sbOneStopBit, false, 0, CS6, 0, false},
        {7, prEven, sbOneStopBit, false, 0, CS7, PARENB, false},
        {8, prOdd, sbTwoStopBits, false, 0, CS8, PARENB | PARODD, true},
        {8, prMark, sbOneStopBit, false, 0, CS8, PARENB | CMSPAR | PARODD, false},
        {8, prSpace, sbOneStopBit, true, 0, CS8, PARENB | CMSPAR, false},
        {8, prNone, sbOne5StopBits, false, 0, CS8, 0, true}, // 1.5 is sent as 2
        {4, prNone, sbOneStopBit, false, EINVAL, 0, 0, false},
        {9, prNone, sbOneStopBit, false, EINVAL, 0, 0, false},
        {0, prNone, sbOneStopBit, false, EINVAL, 0, 0, false},
        {8, 5, sbOneStopBit, false, EINVAL, 0, 0, false},
        {8, prNone, 3, false, EINVAL, 0, 0, false},
    };
    for (const auto& c : cases) {
        TDCB dcb = DefaultDCB();
        dcb.ByteSize = c.ByteSize;
        dcb.Parity = c.Parity;
        dcb.StopBits = c.StopBits;
        dcb.fParity = c.Check ? 1 : 0;
        int error = -1;
        const termios tio = Translate(dcb, error);
        const std::string name =
            std::to_string(c.ByteSize) + "/" + std::to_string(c.Parity) + "/" + std::to_string(c.StopBits);
        EXPECT_EQ(error, c.Error) << name;
        if (c.Error != 0)
            continue;
        EXPECT_EQ(tio.c_cflag & CSIZE, c.Size) << name;
        EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR), c.ParityFlags) << name;
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.TwoStops) << name;
        EXPECT_EQ((tio.c_iflag & INPCK) != 0, c.Check) << name;
    }
}

TEST(TComPortTermios, FlowControl) {
    const struct {
        const char* Name;
        uint8_t OutCts;
        uint8_t Rts;
        uint8_t OutX;
        uint8_t InX;
        bool Crtscts;
        bool Ixon;
        bool Ixoff;
    } cases[] = {
        {"none", 0, rtsDisable, 0, 0, false, false, false},
        {"CTS out", 1, rtsDisable, 0, 0, true, false, false},
        {"RTS handshake", 0, rtsHandshake, 0, 0, true, false, false},
        {"RTS enable only", 0, rtsEnable, 0, 0, false, false, false},
        {"XON/XOFF out", 0, rtsDisable, 1, 0, false, true, false},
        {"XON/XOFF in", 0, rtsDisable, 0, 1, false, false, true},
        {"both", 1, rtsHandshake, 1, 1, true, true, true},
    };
    for (const auto& c : cases) {
        TDCB dcb = DefaultDCB();
        dcb.fOutxCtsFlow = c.OutCts;
        dcb.fRtsControl = c.Rts;
        dcb.fOutX = c.OutX;
        dcb.fInX = c.InX;
        dcb.XonChar = 0x21;
        dcb.XoffChar = 0x22;
        int error = -1;
        const termios tio = Translate(dcb, error);
        ASSERT_EQ(error, 0) << c.Name;
        EXPECT_EQ((tio.c_cflag & CRTSCTS) != 0, c.Crtscts) << c.Name;
        EXPECT_EQ((tio.c_iflag & IXON) != 0, c.Ixon) << c.Name;
        EXPECT_EQ((tio.c_iflag & IXOFF) != 0, c.Ixoff) << c.Name;
        EXPECT_EQ(tio.c_cc[VSTART], 0x21) << c.Name;
        EXPECT_EQ(tio.c_cc[VSTOP], 0x22) << c.Name;
    }
}
