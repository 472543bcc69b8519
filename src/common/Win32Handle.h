// A Win32 handle with one owner, closed when the owner goes (or earlier, with the result). Both
// "no handle" values of the system (null and INVALID_HANDLE_VALUE) count as none.
#pragma once
#ifdef _WIN32

#include <utility>

#include <windows.h>

class THandle {
public:
    explicit THandle(HANDLE Handle = nullptr) : FHandle(Handle) {}
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    ~THandle() { Reset(); }
    HANDLE Get() const { return FHandle; }
    // Gives the handle up without closing it.
    HANDLE Release() { return std::exchange(FHandle, nullptr); }
    void Assign(HANDLE Handle) {
        Reset();
        FHandle = Handle;
    }
    bool Valid() const { return FHandle != nullptr && FHandle != INVALID_HANDLE_VALUE; }
    void Reset() {
        if (Valid())
            ::CloseHandle(FHandle);
        FHandle = nullptr;
    }
    // Closes now and reports the result.
    bool Close() { return Valid() && ::CloseHandle(std::exchange(FHandle, nullptr)) != 0; }

private:
    HANDLE FHandle;
};

#endif
