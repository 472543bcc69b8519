// How the serial port's settings become POSIX terms: a port name as a device path under /dev, and
// the line settings record (rate, character size, parity, stop bits, flow control) as a raw termios
// setup. No descriptor is touched here; the device that applies the result is in Comms_posix.cpp.
#include "link/CommDevice.h"
#include "link/Comms_posix.h"

#include "common/Text.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>

namespace comms_os {

// Port names: "//./" and then "\\.\" in front are dropped (the open path and the machine's
// PortName put them there); a name beginning with "/" is a device path used as it is; COM1, COM2, ...
// (any case) are /dev/ttyS0, /dev/ttyS1, ...; a "COM" in front of anything else is the machine's
// normalisation and is dropped; what remains is a name under /dev (ttyUSB0, pts/3).
std::string DevicePath(const std::string& Port) {
    std::string_view name = Port;
    if (name.substr(0, 4) == "//./")
        name.remove_prefix(4);
    if (name.substr(0, 4) == "\\\\.\\")
        name.remove_prefix(4);
    if (!name.empty() && name.front() == '/')
        return std::string(name);
    if (StartsWithTextAscii(name, "com")) {
        const std::string_view rest = name.substr(3);
        const bool digits = !rest.empty() && rest.size() <= 9 &&
                            std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (digits) {
            unsigned long number = 0;
            for (char c : rest)
                number = number * 10 + static_cast<unsigned long>(c - '0');
            if (number >= 1)
                return "/dev/ttyS" + std::to_string(number - 1);
        }
        name = rest;
        if (!name.empty() && name.front() == '/')
            return std::string(name);
    }
    return "/dev/" + std::string(name);
}

bool SpeedConstant(uint32_t BaudRate, speed_t& Speed) {
    static constexpr struct {
        uint32_t Rate;
        speed_t Constant;
    } kRates[] = {
        {50, B50},           {75, B75},     {110, B110},   {134, B134},     {150, B150},
        {200, B200},         {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
        {2400, B2400},       {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
        {57600, B57600},
#endif
#ifdef B115200
        {115200, B115200},
#endif
#ifdef B230400
        {230400, B230400},
#endif
#ifdef B460800
        {460800, B460800},
#endif
#ifdef B500000
        {500000, B500000},
#endif
#ifdef B576000
        {576000, B576000},
#endif
#ifdef B921600
        {921600, B921600},
#endif
#ifdef B1000000
        {1000000, B1000000},
#endif
#ifdef B1152000
        {1152000, B1152000},
#endif
#ifdef B1500000
        {1500000, B1500000},
#endif
#ifdef B2000000
        {2000000, B2000000},
#endif
#ifdef B2500000
        {2500000, B2500000},
#endif
#ifdef B3000000
        {3000000, B3000000},
#endif
#ifdef B3500000
        {3500000, B3500000},
#endif
#ifdef B4000000
        {4000000, B4000000},
#endif
    };
    for (const auto& entry : kRates) {
        if (entry.Rate == BaudRate) {
            Speed = entry.Constant;
            return true;
        }
    }
    return false;
}

int TermiosFromDCB(const TDCB& DCB, termios& Tio) {
    speed_t speed = B0;
    if (!SpeedConstant(DCB.BaudRate, speed))
        return EINVAL;
    tcflag_t size = CS8;
    switch (DCB.ByteSize) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        return EINVAL; // 4 data bits (and anything else) the line cannot carry
    }
    if (DCB.Parity > prSpace || DCB.StopBits > sbTwoStopBits)
        return EINVAL;
#ifndef CMSPAR
    if (DCB.Parity == prMark || DCB.Parity == prSpace)
        return EINVAL;
#endif

    ::cfmakeraw(&Tio);
    Tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | ISTRIP);
    Tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
#ifdef CMSPAR
    Tio.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
#ifdef CRTSCTS
    Tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    Tio.c_cflag |= CLOCAL | CREAD | size;

    switch (DCB.Parity) {
    case prOdd:
        Tio.c_cflag |= PARENB | PARODD;
        break;
    case prEven:
        Tio.c_cflag |= PARENB;
        break;
#ifdef CMSPAR
    case prMark: // stick parity: with PARODD the parity bit is always 1
        Tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case prSpace:
        Tio.c_cflag |= PARENB | CMSPAR;
        break;
#endif
    default:
        break;
    }
    if (DCB.fParity)
        Tio.c_iflag |= INPCK;
    // termios has no 1.5 stop bits; two is the nearest (and what UARTs send for 1.5 with 5 data bits).
    if (DCB.StopBits != sbOneStopBit)
        Tio.c_cflag |= CSTOPB;
#ifdef CRTSCTS
    if (DCB.fOutxCtsFlow || DCB.fRtsControl == rtsHandshake)
        Tio.c_cflag |= CRTSCTS;
#endif
    if (DCB.fOutX)
        Tio.c_iflag |= IXON;
    if (DCB.fInX)
        Tio.c_iflag |= IXOFF;
    Tio.c_cc[VSTART] = static_cast<cc_t>(DCB.XonChar);
    Tio.c_cc[VSTOP] = static_cast<cc_t>(DCB.XoffChar);
    Tio.c_cc[VMIN] = 0;
    Tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&Tio, speed) != 0 || ::cfsetospeed(&Tio, speed) != 0)
        return EINVAL;
    return 0;
}

} // namespace comms_os
