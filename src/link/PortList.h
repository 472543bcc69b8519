// The serial ports a user may choose for the tracer: the device names found under a device folder
// and the check that one of them can really be opened now.
#pragma once

#include <string>
#include <vector>

struct TSerialPortEntry {
    std::string Port;    // the full device path; the serial port takes it as it is
    std::string Display; // what a list shows for it
};

// Candidates under `deviceFolder`: the serial lines' kernel names followed by a number (ttyS,
// ttyUSB, ttyACM, ttyXRUSB, ttyAMA, ttyO, ttySAC, ttymxc, ttyTHS, rfcomm), and the stable names
// under serial/by-id (shown with the device each points to). Only names that lead to a character device
// are kept; nothing is opened. Ascending in natural order (ttyS2 before ttyS10).
std::vector<TSerialPortEntry> SerialPortCandidates(const std::string& deviceFolder);

// True when the device can be opened as a terminal and nobody holds its lock; it is closed again
// at once. Never blocks waiting for the line (carrier, another holder).
bool CanOpenSerialPort(const std::string& path);

// The candidates that CanOpenSerialPort accepts, in the same order.
std::vector<TSerialPortEntry> ListOpenableSerialPorts(const std::string& deviceFolder);

// Natural order: runs of digits compare by their value, everything else byte by byte.
bool NaturalLess(const std::string& a, const std::string& b);
