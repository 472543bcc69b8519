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
