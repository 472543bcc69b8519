// A serial device that the checking thread may not open, as for an operator outside the device's
// group. The super-user is made an ordinary user for file access on the calling thread only (the
// file-system ids are per thread on Linux), so the rest of the test program is not affected.
#pragma once

#include <string>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/fsuid.h>
#endif

namespace test_support {

class TDeniedDevice {
public:
    // `mode` is given to the device meanwhile; the old one comes back at the end.
    TDeniedDevice(std::string path, mode_t mode) : FPath(std::move(path)) {
        struct stat info {};
        if (::stat(FPath.c_str(), &info) != 0)
            return;
        FMode = info.st_mode & 07777;
        if (::chmod(FPath.c_str(), mode) != 0)
            return;
#ifdef __linux__
        if (::geteuid() == 0) {
            constexpr unsigned kNobody = 65534;
            ::setfsgid(kNobody);
            ::setfsuid(kNobody);
            FAsOther = static_cast<unsigned>(::setfsuid(static_cast<uid_t>(-1))) == kNobody;
            FDenied = FAsOther;
            return;
        }
#endif
        // An ordinary user is refused by the mode alone where it leaves out the owner.
        FDenied = (mode & S_IRWXU) == 0 && info.st_uid == ::geteuid();
    }
    ~TDeniedDevice() {
#ifdef __linux__
        if (FAsOther) {
            ::setfsuid(0);
            ::setfsgid(0);
        }
#endif
        ::chmod(FPath.c_str(), FMode);
    }
    TDeniedDevice(const TDeniedDevice&) = delete;
    TDeniedDevice& operator=(const TDeniedDevice&) = delete;

    // False where this system cannot play it (then the test has nothing to check).
    bool Denied() const {
        return FDenied;
    }

private:
    std::string FPath;
    mode_t FMode = 0600;
    bool FAsOther = false;
    bool FDenied = false;
};

} // namespace test_support
