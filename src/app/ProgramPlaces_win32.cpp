// Windows: a program counts as installed inside the system's program folders, where an operator
// may not write; its files then live in the user's local application folder, settings.txt and
// traces together (job files must not travel with a roaming profile).
#include "app/ProgramPlaces.h"

#include "app/NativePath.h"
#include "app/core/Folders.h"

#include <QStandardPaths>

#include <vector>

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
