// POSIX details of the serial layer that are worth testing on their own: how the line settings
// record becomes a termios setup (Comms_posix_termios.cpp, beside the port-name rules of DevicePath).
#pragma once

#include "link/CommSettings.h"

#include <termios.h>

namespace comms_os {

// The B constant of a standard rate; false for a rate the table does not know.
bool SpeedConstant(uint32_t BaudRate, speed_t& Speed);

// Turns Tio into the raw setup the DCB asks for (keeping flags the DCB does not speak about).
// Returns 0, or EINVAL for a rate, character size, parity or stop-bit value the line cannot take.
int TermiosFromDCB(const TDCB& DCB, termios& Tio);

} // namespace comms_os
