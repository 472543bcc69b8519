// TForm1: the desktop shell around the main window (splash, notification-area icon, minimising
// to it and restoring, announcing jobs while hidden, the close confirmation, help), the
// "&Settings" exchange with its log window and the list of recent jobs.
#include "app/Unit1.h"

#include "app/Application.h"
#include "app/NativePath.h"
#include "app/core/Settings.h"
#include "app/dialogs/RecentJobsForm.h"
#include "app/dialogs/SettingsForm.h"
#include "app/dialogs/ShowLog.h"
#include "app/port/TracerPort.h"
#include "app/shell/AppIcon.h"
#include "app/shell/CloseConfirm.h"
#include "app/shell/Help.h"
#include "app/shell/Splash.h"
#include "app/shell/TrayIcon.h"
#include "app/shell/YesNoBox.h"
#include "common/FlagScope.h"
#include "handler/OMATracer.h"
#include "trace/TracePanel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>

#include "ui_Unit1.h"

void TForm1::SetUpShell() {
    // Every window of the program shows the program's icon (title bar, task bar, window switcher),
    // not the window system's generic one.
    QApplication::setWindowIcon(AppIcon());
    auto* splash = new TSplashForm(this);
    splash->ShowSplash();

    FTrayIcon = new TTrayIcon(this);
    FTrayIcon->SetHint(FCaption + QStringLiteral(" - Click to Restore"));
    FTrayIcon->OnRestore = [this] { Guarded([this] { RestoreFromTray(); }); };
    FTrayIcon->OnExit = [this] { Guarded([this] { close(); }); };
    FTrayIcon->Show();

    OnAskYesNo = AskYesNo;
    connect(ui->RecentJobsButton, &QPushButton::clicked, this,
            [this] { Guarded([this] { RecentJobsButtonClick(); }); });
}

void TForm1::MinimizeToTray() {
    if (!TTrayIcon::Available()) {
        // No notification area to come back from: an ordinary minimised window.
        if (!isMinimized())
            showMinimized();
        return;
    }
    hide();
    FTrayIcon->ShowBalloon(FCaption + QStringLiteral(" Minimized"),
                           QStringLiteral("Click this icon to restore the program"));
}

void TForm1::RestoreFromTray() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    showNormal();
    raise();
    activateWindow();
    ClearAnnouncement();
}

void TForm1::AnnounceJob(const QString& job) {
    const QString text = QStringLiteral("Received shape with job ID ") + job;
    if (FTrayIcon->ShowBalloon(QStringLiteral("Trace Received"),
                               text + QStringLiteral("\n\nThe trace filename is on the clipboard for pasting")))
        return;
    // Without a notification area the minimised window's title tells it.
    setWindowTitle(FCaption + QStringLiteral(" - ") + text);
}

void TForm1::ClearAnnouncement() {
    setWindowTitle(FCaption);
}

void TForm1::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    if (!isMinimized()) {
        ClearAnnouncement();
        return;
    }
    // The title bar's minimise box minimises into the notification area, once the window system
    // has finished its own state change.
    if (TTrayIcon::Available())
        QMetaObject::invokeMethod(
            this, [this] { Guarded([this] { MinimizeToTray(); }); }, Qt::QueuedConnection);
}

void TForm1::CloseButtonClick() {
    close();
}

void TForm1::CloseWithoutAsking() {
    FCloseWithoutAsking = true;
    // A close already under way (its confirmation box is open) takes no second one; the program
    // ends all the same, which also ends that box's loop.
    if (FAskingToClose)
        Q_EMIT Closed();
    else
        close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    bool allowed = FCloseWithoutAsking;
    if (!allowed) {
        const TFlagScope asking(FAskingToClose);
        Guarded([&] { allowed = ConfirmClose(this, SettingsList(), OnAskYesNo ? OnAskYesNo : TAskYesNo(AskYesNo)); });
    }
    if (!allowed) {
        event->ignore();
        return;
    }
    event->accept();
    Guarded([this] { FPort->Stop(); });
    // The operator's last change is not lost with the window.
    FWindowGoing = true;
    Guarded([this] { FlushTraceFile(); });
    // Nor is a job the traces folder would not take; the operator closing is told where it went.
    Guarded([this] { SaveUnsavedJobs(!FCloseWithoutAsking); });
    Q_EMIT Closed();
}

void TForm1::BitBtn1Click() {
    // The guide is part of the program; an installed copy, for the browser, is looked for in a
    // folder named on the command line, beside the program (a build) and in the package's folder.
    const QString programs = QCoreApplication::applicationDirPath();
    const QString installed =
        FindHelpFile({FProgramFolder + QStringLiteral("/help"), programs + QStringLiteral("/help"),
                      programs + QStringLiteral("/../share/tracer-interface/help"), programs});
    ShowHelpWindow(this, installed);
}

void TForm1::Button1Click() {
    // The line stays open while the dialog is shown: a tracer may send a job meanwhile, and a
    // dialog closed without a change of port or rate must not cost the line a close and reopen.
    TSettingsDialogResult result;
    bool portChanged = true;
    try {
        TSettingsDialogContext context;
        context.DeviceFolder = DeviceFolder;
        context.CurrentPortOpen = FTracer->Active();
        // Shown as the system writes names (backslashes on Windows), as the clipboard has them.
        context.SettingsFile = QDir::toNativeSeparators(FSettingsFile);
        context.TracesFolder = QDir::toNativeSeparators(TracesFolder());
        result = RunSettingsDialog(this, SettingsList(), context);
        portChanged = result.PortChanged;
        ApplyPanelColours();
    } catch (...) {
        // Whatever happened, the port is reopened with the settings as they now stand.
        ReportCurrentException();
    }
    // The retries of the old link end here; a new link that does not open gets its own.
    if (portChanged || !FTracer->Active())
        Guarded([this] { OpenTracerPort(); });
    if (result.ViewLog)
        QMetaObject::invokeMethod(
            this, [this] { Guarded([this] { WMShowLog(); }); }, Qt::QueuedConnection);
}

void TForm1::WMShowLog() {
    ShowLogWindow(this);
}

TRecentJobsForm* TForm1::RecentJobsWindow() const {
    return FRecentJobs;
}

void TForm1::RecentJobsButtonClick() {
    // One list, brought back to the front when asked for again; it follows every file written.
    if (!FRecentJobs) {
        FRecentJobs = ShowRecentJobsWindow(this, LocalPath(TracesFolder()));
        FRecentJobs->OnShowJob = [this](const std::string& fileName) {
            Guarded([&] { OpenJobFile(FromLocalPath(fileName)); });
        };
        FRecentJobs->OnClipboardName = [](const std::string& fileName) {
            return QDir::toNativeSeparators(FromLocalPath(fileName));
        };
    }
    FRecentJobs->raise();
    FRecentJobs->activateWindow();
}
