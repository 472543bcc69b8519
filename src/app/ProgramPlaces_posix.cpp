// POSIX: the package's install folder is fixed at build time; settings and traces follow the XDG
// folders.
#include "app/ProgramPlaces.h"

#include <QStandardPaths>

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
