// Windows: a program counts as installed inside the system's program folders, where an operator
// may not write; its files then live in the user's local application folder, settings.txt and
// traces together (job files must not travel with a roaming profile). A GUI program gets no
// console: started from one, it attaches to it so that --help, --version and its messages show.
#include "app/ProgramPlaces.h"

#include "app/NativePath.h"
#include "app/core/Folders.h"

#include <QStandardPaths>

#include <cstdio>
#include <io.h>
#include <vector>

#include <windows.h>

namespace {
// Whether the C runtime's stream leads anywhere: one the caller redirected (to a file, a pipe) is
// left as it is.
bool Connected(FILE* stream) {
    const int fd = _fileno(stream);
    return fd >= 0 && _get_osfhandle(fd) >= 0;
}
} // namespace

bool UseStartingTerminal() {
    const bool outConnected = Connected(stdout);
    const bool errConnected = Connected(stderr);
    if (outConnected && errConnected)
        return true;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS))
        return errConnected;
    if (!outConnected)
        std::freopen("CONOUT$", "w", stdout);
    if (!errConnected)
        std::freopen("CONOUT$", "w", stderr);
    return true;
}

void SayOnTerminal(std::FILE* stream, const QString& text) {
    std::fflush(stream);
    const int fd = _fileno(stream);
    const HANDLE handle = fd >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(fd)) : INVALID_HANDLE_VALUE;
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode)) {
        // The console's code page may lack letters the text has; its wide call takes them all.
        std::wstring wide = text.toStdWString();
        size_t at = 0;
        while ((at = wide.find(L'\n', at)) != std::wstring::npos) {
            wide.insert(at, 1, L'\r');
            at += 2;
        }
        DWORD written = 0;
        ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

std::string InstallBinFolder(const QString& programFolder) {
    std::vector<std::string> programRoots;
    for (const char* variable : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"})
        programRoots.push_back(LocalPath(qEnvironmentVariable(variable)));
    return InstalledUnder(LocalPath(programFolder), programRoots);
}

QString UserSettingsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

QString UserDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

QString UserFoldersText() {
    return QStringLiteral("both in %LOCALAPPDATA%\\tracer-interface");
}
