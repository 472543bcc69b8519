// Win32 details of the serial layer that are worth testing on their own (Comms_win32.cpp, beside
// the port-name rules of DevicePath).
#pragma once

#include <cstdint>

namespace comms_os {

// The EV_* events for the line errors ClearCommError counted (its CE_* word): a break is EV_BREAK,
// a damaged or lost character (framing, parity, overrun) EV_ERR.
uint32_t LineErrorEvents(uint32_t Errors);

// The modem-line events that the end of a WaitCommEvent (its mask) reports. None: the wait ended
// without naming a line, which a driver that cannot watch the lines does at once every time; the
// device then gives up on the lines rather than ask again and spin.
uint32_t ModemWaitEvents(uint32_t Mask);

} // namespace comms_os
