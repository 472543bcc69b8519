// Finding and probing serial devices on POSIX systems.
#include "link/PortList.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool IsCharacterDevice(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

// Entry names of a folder, without "." and ".."; empty when it cannot be read.
std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

std::string ResolvedPath(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr)
        return path;
    return buffer;
}

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

// The kernel's names of serial lines: PC and PCI ports, USB adapters (FTDI and the like, CDC ACM,
// Exar), the UARTs of ARM boards (Raspberry Pi, TI, Samsung, i.MX, Tegra) and Bluetooth RFCOMM.
constexpr std::string_view kSerialPrefixes[] = {"ttyS", "ttyUSB", "ttyACM", "ttyXRUSB", "ttyAMA",
                                                "ttyO", "ttySAC", "ttymxc", "ttyTHS",   "rfcomm"};

bool IsSerialName(const std::string& name) {
    for (std::string_view prefix : kSerialPrefixes)
        if (name.size() > prefix.size() && name.starts_with(prefix) && Digit(name[prefix.size()]))
            return true;
    return false;
}

} // namespace


std::vector<TSerialPortEntry> SerialPortCandidates(const std::string& deviceFolder) {
    std::vector<TSerialPortEntry> entries;
    for (const std::string& name : FolderEntries(deviceFolder)) {
        if (!IsSerialName(name))
            continue;
        const std::string path = JoinPath(deviceFolder, name);
        if (IsCharacterDevice(path))
            entries.push_back({path, path});
    }
    const std::string byId = JoinPath(deviceFolder, "serial/by-id");
    for (const std::string& name : FolderEntries(byId)) {
        const std::string path = JoinPath(byId, name);
        if (IsCharacterDevice(path))
            entries.push_back({path, path + " (" + ResolvedPath(path) + ")"});
    }
    std::sort(entries.begin(), entries.end(),
              [](const TSerialPortEntry& a, const TSerialPortEntry& b) { return NaturalLess(a.Port, b.Port); });
    return entries;
}

bool CanOpenSerialPort(const std::string& path) {
    // O_NONBLOCK keeps open() from waiting for carrier; O_NOCTTY keeps the line from becoming our
    // controlling terminal.
    int fd;
    do
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    termios settings{};
    // A device node without hardware behind it (most ttyS entries) opens but fails tcgetattr.
    bool usable = ::isatty(fd) == 1 && ::tcgetattr(fd, &settings) == 0;
    // The serial port takes this lock while it is open, so a held lock means the line is in use.
    if (usable)
        usable = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd); // also releases the lock
    return usable;
}
