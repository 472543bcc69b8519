// The serial ports a user may choose for the tracer: the device names found under a device folder
// and the check that one of them can really be opened now.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct TSerialPortEntry {
    std::string Port;    // the full device path; the serial port takes it as it is
    std::string Display; // what a list shows for it
    std::string Problem; // why it cannot be opened now (see TPortState); empty when it can
};

// Why a port does not open, as far as the operator can act on it. A port that does not open for
// any other reason (no hardware behind the name, not a terminal) is of no use to list.
enum TPortState { psOpens, psNoPermission, psInUse, psUnusable };

struct TPortCheck {
    TPortState State = psOpens;
    std::string Reason; // the operator's words for the state; empty for psOpens
};

// The words of the two states the operator can act on. The group is the one the device belongs to.
inline constexpr std::string_view kNoPermissionStart = "no permission: ";
std::string NoPermissionReason(std::string_view group);
inline constexpr std::string_view kPortInUseReason = "in use by another program";

// Candidates under `deviceFolder`: the serial lines' kernel names followed by a number (ttyS,
// ttyUSB, ttyACM, ttyXRUSB, ttyAMA, ttyO, ttySAC, ttymxc, ttyTHS, rfcomm), and the stable names
// under serial/by-id (shown with the device each points to). Only names that lead to a character device
// are kept; nothing is opened. Ascending in natural order (ttyS2 before ttyS10).
std::vector<TSerialPortEntry> SerialPortCandidates(const std::string& deviceFolder);

// Opens the device as a terminal, takes its lock and closes it again at once, and says how that
// went. Never blocks waiting for the line (carrier, another holder).
TPortCheck CheckSerialPort(const std::string& path);
// CheckSerialPort says psOpens.
bool CanOpenSerialPort(const std::string& path);

// Why the serial device `port` did not open with the system's error code `error`: psNoPermission
// or psInUse with their words where the code means that, psUnusable with the system's text otherwise.
TPortCheck PortOpenRefusal(const std::string& port, int error);

// The candidates that CanOpenSerialPort accepts, in the same order.
std::vector<TSerialPortEntry> ListOpenableSerialPorts(const std::string& deviceFolder);

// Natural order: runs of digits compare by their value, everything else byte by byte.
bool NaturalLess(const std::string& a, const std::string& b);
