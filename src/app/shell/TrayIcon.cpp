// The program's icon in the desktop's notification area.
#include "app/shell/TrayIcon.h"
#include "app/shell/AppIcon.h"

#include <QMenu>
#include <QSystemTrayIcon>

TTrayIcon::TTrayIcon(QWidget* owner) : QObject(owner), FMenu(std::make_unique<QMenu>()) {
    FIcon = new QSystemTrayIcon(AppIcon(), this);

    QAction* restore = FMenu->addAction(QStringLiteral("Restore"));
    FMenu->addSeparator();
    QAction* exit = FMenu->addAction(QStringLiteral("Exit"));
    connect(restore, &QAction::triggered, this, [this] {
        if (OnRestore)
            OnRestore();
    });
    connect(exit, &QAction::triggered, this, [this] {
        if (OnExit)
            OnExit();
    });
    FIcon->setContextMenu(FMenu.get());

    connect(FIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if ((reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) && OnRestore)
            OnRestore();
    });
}

TTrayIcon::~TTrayIcon() {
    // The icon refers to the menu; let it go first.
    delete FIcon;
}

bool TTrayIcon::Available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TTrayIcon::SetHint(const QString& hint) {
    FIcon->setToolTip(hint);
}

void TTrayIcon::Show() {
    FIcon->show();
}

bool TTrayIcon::ShowBalloon(const QString& title, const QString& text, int msecs) {
    if (!Available())
        return false;
    // The callers break lines with CR, which notification servers do not take as a break.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    FIcon->showMessage(title, shown, QSystemTrayIcon::Information, msecs);
    return true;
}
