// The operator's guide in a window of the program, and in the desktop's browser on request.
#include "app/shell/Help.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

// The resources sit in a static library: the program pulls them in by this registration.
static void RegisterHelpResources() {
    Q_INIT_RESOURCE(help);
}

QString HelpFileName(const QString& folder) {
    return QDir::cleanPath(QDir(folder).filePath(QString::fromLatin1(kHelpFileName)));
}

QString FindHelpFile(const QStringList& folders) {
    for (const QString& folder : folders) {
        const QString name = HelpFileName(folder);
        if (QFileInfo(name).isFile())
            return QFileInfo(name).absoluteFilePath();
    }
    return {};
}

bool OpenHelp(QWidget* owner, const QString& helpFile) {
    const QString shown = QDir::toNativeSeparators(QDir::cleanPath(helpFile));
    // The desktop's viewer would fail silently or show its own puzzling text for a missing file.
    if (!QFileInfo(helpFile).isFile()) {
        QMessageBox::warning(owner, QStringLiteral("Help"),
                             QStringLiteral("The help file %1 was not found.").arg(shown));
        return false;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(helpFile).absoluteFilePath()))) {
        QMessageBox::warning(
            owner, QStringLiteral("Help"),
            QStringLiteral("The help file %1 could not be opened: no browser for it was found.").arg(shown));
        return false;
    }
    return true;
}

THelpWindow::THelpWindow(QWidget* owner, const QString& installedFile)
    : QWidget(owner, Qt::Window), FBrowser(new QTextBrowser(this)),
      FBrowserButton(new QPushButton(QStringLiteral("Open in &Browser"), this)), FInstalledFile(installedFile) {
    static const bool registered = (RegisterHelpResources(), true);
    (void)registered;
    setWindowTitle(QStringLiteral("Tracer Interface - Help"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(760, 620);

    FBrowser->setOpenExternalLinks(true);
    FBrowser->setSource(QUrl(QString::fromLatin1(kHelpResource)));

    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    // The browser is an extra: the guide is complete here without it.
    FBrowserButton->setVisible(!installedFile.isEmpty());
    FBrowserButton->setToolTip(QDir::toNativeSeparators(installedFile));
    connect(FBrowserButton, &QPushButton::clicked, this, [this] { OpenHelp(this, FInstalledFile); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(FBrowserButton);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FBrowser, 1);
    layout->addLayout(buttons);
}

THelpWindow* ShowHelpWindow(QWidget* owner, const QString& installedFile) {
    auto* window = owner ? owner->findChild<THelpWindow*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (window == nullptr)
        window = new THelpWindow(owner, installedFile);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
