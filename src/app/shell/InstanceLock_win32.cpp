// Windows: a named mutex in the session's namespace, owned by the thread that claimed it. The
// system abandons it when that thread ends, and removes it with the last handle, so a killed
// holder leaves nothing that blocks the next start.
#include "app/shell/InstanceLock.h"

#include "common/Win32Text.h"

#include <windows.h>

namespace {
HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}
} // namespace

TInstanceLock::TInstanceLock(const QString& key) : FKey(key) {}

TInstanceLock::~TInstanceLock() {
    if (FHandle == -1)
        return;
    if (FHeld)
        ::ReleaseMutex(AsHandle(FHandle));
    ::CloseHandle(AsHandle(FHandle));
}

bool TInstanceLock::TryLock() {
    if (FHeld)
        return true;
    if (FHandle == -1) {
        const std::wstring name = L"Local\\" + FKey.toStdWString();
        HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
        if (!mutex) {
            FError = QStringLiteral("The instance mutex cannot be created: %1")
                         .arg(QString::fromStdString(Win32ErrorText(::GetLastError())));
            return false;
        }
        FHandle = reinterpret_cast<std::intptr_t>(mutex);
    }
    // Abandoned: its holder died without letting go; it is ours now all the same.
    const DWORD result = ::WaitForSingleObject(AsHandle(FHandle), 0);
    FHeld = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    return FHeld;
}

QString TInstanceLock::ServerName() const {
    // Pipe names are shared by all users of the machine: the key carries the user.
    return FKey;
}

QString TInstanceLock::UserId() {
    QString user = qEnvironmentVariable("USERNAME");
    for (QChar& c : user)
        if (!c.isLetterOrNumber())
            c = QLatin1Char('-');
    return user;
}
