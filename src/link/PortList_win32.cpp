// Finding and probing serial ports on Windows: the COM names the serial drivers publish under
// HARDWARE\DEVICEMAP\SERIALCOMM, and those the DOS device table knows (virtual and USB ports that
// some drivers register only there).
#include "link/PortList.h"

#include "link/CommDevice.h"

#include "common/Win32Text.h"

#include <algorithm>
#include <set>

#include <windows.h>

namespace {

bool IsComName(const std::wstring& name) {
    return name.size() > 3 && (name[0] | 0x20) == L'c' && (name[1] | 0x20) == L'o' && (name[2] | 0x20) == L'm' &&
           std::all_of(name.begin() + 3, name.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

void AddRegistryPorts(std::set<std::wstring>& names) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD valueNameSize = 256;
        wchar_t data[64] = {};
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result = ::RegEnumValueW(key, index, valueName, &valueNameSize, nullptr, &type,
                                            reinterpret_cast<BYTE*>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result == ERROR_SUCCESS && type == REG_SZ) {
            std::wstring name(data, dataSize / sizeof(wchar_t));
            while (!name.empty() && name.back() == L'\0')
                name.pop_back();
            if (IsComName(name))
                names.insert(name);
        }
    }
    ::RegCloseKey(key);
}

void AddDosDevicePorts(std::set<std::wstring>& names) {
    std::wstring buffer(65536, L'\0');
    const DWORD size = ::QueryDosDeviceW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    for (size_t start = 0; start < size;) {
        const size_t end = buffer.find(L'\0', start);
        if (end == std::wstring::npos || end == start)
            break;
        std::wstring name = buffer.substr(start, end - start);
        if (IsComName(name))
            names.insert(name);
        start = end + 1;
    }
}

} // namespace

std::vector<TSerialPortEntry> SerialPortCandidates(const std::string&) {
    std::set<std::wstring> names;
    AddRegistryPorts(names);
    AddDosDevicePorts(names);
    std::vector<TSerialPortEntry> entries;
    for (const std::wstring& name : names) {
        std::string port = Narrow(name);
        for (char& c : port)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        entries.push_back({port, port, {}});
    }
    std::sort(entries.begin(), entries.end(),
              [](const TSerialPortEntry& a, const TSerialPortEntry& b) { return NaturalLess(a.Port, b.Port); });
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [](const TSerialPortEntry& a, const TSerialPortEntry& b) { return a.Port == b.Port; }),
                  entries.end());
    return entries;
}

namespace {

// A port another program holds refuses a second, exclusive open with "access denied"; Windows
// has no per-user rights on serial ports.
TPortCheck Refused(int error) {
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
        return {psInUse, std::string(kPortInUseReason)};
    return {psUnusable, comms_os::SystemErrorText(error)};
}

} // namespace

TPortCheck CheckSerialPort(const std::string& path) {
    if (comms_os::PortLocked(path))
        return Refused(ERROR_ACCESS_DENIED);
    std::string device = path;
    if (device.rfind("\\\\.\\", 0) != 0)
        device = "\\\\.\\" + device;
    // Exclusive, like the serial port itself: a port another program holds cannot be opened.
    HANDLE handle = ::CreateFileW(Widen(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return Refused(static_cast<int>(::GetLastError()));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    TPortCheck check;
    if (::GetCommState(handle, &dcb) == 0)
        check = {psUnusable, comms_os::SystemErrorText(static_cast<int>(::GetLastError()))};
    ::CloseHandle(handle);
    return check;
}

TPortCheck PortOpenRefusal(const std::string&, int error) {
    return Refused(error);
}
