// The help file beside the program and opening it in the desktop's viewer.
#include "app/shell/Help.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

QString HelpFileName(const QString& programFolder) {
    return QDir(programFolder).filePath(QString::fromLatin1(kHelpFileName));
}

bool OpenHelp(QWidget* owner, const QString& helpFile) {
    const QString shown = QDir::toNativeSeparators(helpFile);
    // The desktop's viewer would fail silently or show its own puzzling text for a missing file.
    if (!QFileInfo(helpFile).isFile()) {
        QMessageBox::warning(owner, QStringLiteral("Help"),
                             QStringLiteral("The help file %1 was not found.").arg(shown));
        return false;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(helpFile).absoluteFilePath()))) {
        QMessageBox::warning(
            owner, QStringLiteral("Help"),
            QStringLiteral("The help file %1 could not be opened: no viewer for it was found.").arg(shown));
        return false;
    }
    return true;
}
