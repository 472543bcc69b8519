// POSIX: the package's install folder is fixed at build time; settings and traces follow the XDG
// folders; a terminal's streams are inherited as they are.
#include "app/ProgramPlaces.h"

#include <QStandardPaths>

bool UseStartingTerminal() {
    return true;
}

std::string InstallBinFolder(const QString&) {
    return TRACER_INSTALL_BINDIR;
}

QString UserSettingsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
}

QString UserDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString UserFoldersText() {
    return QStringLiteral("settings.txt in ~/.config/tracer-interface,\n"
                          "             traces in ~/.local/share/tracer-interface (XDG folders)");
}
