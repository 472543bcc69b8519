// Finding and probing serial devices on POSIX systems.
#include "link/PortList.h"

#include "link/CommDevice.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
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

// The group whose members may use the device: its own group when that may read and write it,
// else the one Debian and its kin give serial lines.
std::string DeviceGroup(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && info.st_gid != 0 &&
        (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        group entry{};
        group* found = nullptr;
        char buffer[4096];
        if (::getgrgid_r(info.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
            return found->gr_name;
    }
    return "dialout";
}

TPortCheck Refused(const std::string& path, int error) {
    if (error == EACCES || error == EPERM)
        return {psNoPermission, NoPermissionReason(DeviceGroup(path))};
    if (error == EBUSY || error == EWOULDBLOCK)
        return {psInUse, std::string(kPortInUseReason)};
    return {psUnusable, comms_os::SystemErrorText(error)};
}

} // namespace

std::vector<TSerialPortEntry> SerialPortCandidates(const std::string& deviceFolder) {
    std::vector<TSerialPortEntry> entries;
    for (const std::string& name : FolderEntries(deviceFolder)) {
        if (!IsSerialName(name))
            continue;
        const std::string path = JoinPath(deviceFolder, name);
        if (IsCharacterDevice(path))
            entries.push_back({path, path, {}});
    }
    const std::string byId = JoinPath(deviceFolder, "serial/by-id");
    for (const std::string& name : FolderEntries(byId)) {
        const std::string path = JoinPath(byId, name);
        if (IsCharacterDevice(path))
            entries.push_back({path, path + " (" + ResolvedPath(path) + ")", {}});
    }
    std::sort(entries.begin(), entries.end(),
              [](const TSerialPortEntry& a, const TSerialPortEntry& b) { return NaturalLess(a.Port, b.Port); });
    return entries;
}

TPortCheck CheckSerialPort(const std::string& path) {
    // O_NONBLOCK keeps open() from waiting for carrier; O_NOCTTY keeps the line from becoming our
    // controlling terminal.
    int fd;
    do
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return Refused(path, errno);
    termios settings{};
    TPortCheck check;
    // A device node without hardware behind it (most ttyS entries) opens but fails tcgetattr.
    if (::isatty(fd) != 1 || ::tcgetattr(fd, &settings) != 0)
        check = {psUnusable, comms_os::SystemErrorText(errno)};
    // The serial port takes this lock while it is open, so a held lock means the line is in use.
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        check = Refused(path, errno == EWOULDBLOCK ? EBUSY : errno);
    ::close(fd); // also releases the lock
    return check;
}

TPortCheck PortOpenRefusal(const std::string& port, int error) {
    return Refused(port, error);
}
