// The operator's guide: shown inside the program from its own resources, so that it needs no
// viewer and no file that an administrator may have stripped; the installed copy can also be
// opened in the desktop's browser.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QPushButton;
class QTextBrowser;

inline constexpr const char* kHelpFileName = "tracer-interface.html";
// The guide and its pictures inside the program.
inline constexpr const char* kHelpResource = "qrc:/help/tracer-interface.html";

// folder + "/tracer-interface.html", without "." or ".." steps.
QString HelpFileName(const QString& folder);
// The first of the folders' guides that exists, normalised; empty when none does.
QString FindHelpFile(const QStringList& folders);

// Opens the file in the desktop's browser; a missing file or a failure to open is reported by a
// warning message box and returns false.
bool OpenHelp(QWidget* owner, const QString& helpFile);

// The guide in a window of its own, with "Open in Browser" when an installed copy was found.
class THelpWindow : public QWidget {
    Q_OBJECT
public:
    THelpWindow(QWidget* owner, const QString& installedFile);

    QTextBrowser* Browser() const { return FBrowser; }
    QPushButton* BrowserButton() const { return FBrowserButton; }
    QString InstalledFile() const { return FInstalledFile; }

private:
    QTextBrowser* FBrowser;
    QPushButton* FBrowserButton;
    QString FInstalledFile;
};

// Shows the owner's help window, created on first use and brought to the front afterwards.
THelpWindow* ShowHelpWindow(QWidget* owner, const QString& installedFile);
