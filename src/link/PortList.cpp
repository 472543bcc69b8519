// The platform-independent part of the port list: natural order and the probe of every candidate.
#include "link/PortList.h"

#include <algorithm>

namespace {

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (Digit(a[i]) && Digit(b[j])) {
            // Compare the runs by value: skip leading zeros, then the longer run is larger, then
            // the first differing digit decides.
            std::size_t startA = i, startB = j;
            while (startA < a.size() && a[startA] == '0')
                ++startA;
            while (startB < b.size() && b[startB] == '0')
                ++startB;
            std::size_t endA = startA, endB = startB;
            while (endA < a.size() && Digit(a[endA]))
                ++endA;
            while (endB < b.size() && Digit(b[endB]))
                ++endB;
            if (endA - startA != endB - startB)
                return endA - startA < endB - startB;
            const int order = a.compare(startA, endA - startA, b, startB, endB - startB);
            if (order != 0)
                return order < 0;
            // Equal values: fewer leading zeros first, so that the order stays strict.
            if (endA - i != endB - j)
                return endA - i < endB - j;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::string NoPermissionReason(std::string_view group) {
    return std::string(kNoPermissionStart) + "join the group " + std::string(group) + ", then log in again";
}

bool CanOpenSerialPort(const std::string& path) {
    return CheckSerialPort(path).State == psOpens;
}

std::vector<TSerialPortEntry> ListOpenableSerialPorts(const std::string& deviceFolder) {
    std::vector<TSerialPortEntry> entries = SerialPortCandidates(deviceFolder);
    std::erase_if(entries, [](const TSerialPortEntry& entry) { return !CanOpenSerialPort(entry.Port); });
    return entries;
}
