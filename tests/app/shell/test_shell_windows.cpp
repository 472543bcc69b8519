// The splash window, the notification-area icon, the application icon and the help file.
#include "../WhenModal.h"
#include "app/shell/AppIcon.h"
#include "app/shell/Help.h"
#include "app/shell/Splash.h"
#include "app/shell/TrayIcon.h"

#include <QDesktopServices>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtCore/qtestsupport_core.h>

#include <gtest/gtest.h>

namespace {

TEST(Splash, ShowsItsShapedPictureAndHidesWhenItsTimerRuns) {
    QWidget owner;
    auto* splash = new TSplashForm(&owner);
    EXPECT_TRUE(splash->isWindow());
    EXPECT_TRUE(splash->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(splash->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(splash->size(), QSize(268, 94));
    // Cut to the eye-wires: the corners are gone, the middle of each lens is there.
    const QRegion shape = splash->mask();
    EXPECT_FALSE(shape.contains(QPoint(0, 0)));
    EXPECT_FALSE(shape.contains(QPoint(267, 93)));
    EXPECT_TRUE(shape.contains(QPoint(66, 48)));
    EXPECT_TRUE(shape.contains(QPoint(202, 48)));

    splash->ShowSplash();
    EXPECT_TRUE(splash->isVisible());
    EXPECT_LE((splash->geometry().center() - owner.screen()->availableGeometry().center()).manhattanLength(), 1);
    ASSERT_TRUE(splash->Timer1()->isActive());
    EXPECT_EQ(splash->Timer1()->interval(), 3000);
    EXPECT_TRUE(splash->Timer1()->isSingleShot());

    splash->Timer1()->start(1);
    (void)QTest::qWaitFor([&] { return !splash->isVisible(); }, 5000);
    EXPECT_FALSE(splash->isVisible());
}

TEST(TrayIcon, MenuAndClicksReachTheCallbacks) {
    QWidget owner;
    TTrayIcon tray(&owner);
    int restores = 0, exits = 0;
    tray.OnRestore = [&] { ++restores; };
    tray.OnExit = [&] { ++exits; };

    EXPECT_FALSE(tray.Icon()->icon().isNull());
    tray.SetHint(QStringLiteral("Tracer Interface - Click to Restore"));
    EXPECT_EQ(tray.Icon()->toolTip(), "Tracer Interface - Click to Restore");

    const QList<QAction*> items = tray.ContextMenu()->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0]->text(), "Restore");
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_EQ(items[2]->text(), "Exit");
    EXPECT_EQ(tray.Icon()->contextMenu(), tray.ContextMenu());

    items[0]->trigger();
    EXPECT_EQ(restores, 1);
    items[2]->trigger();
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(restores, 1);

    for (const auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick})
        Q_EMIT tray.Icon()->activated(reason);
    EXPECT_EQ(restores, 3);
    for (const auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick})
        Q_EMIT tray.Icon()->activated(reason);
    EXPECT_EQ(restores, 3);
    EXPECT_EQ(exits, 1);

    // Without a notification area nothing can be announced, and the caller learns so.
    EXPECT_EQ(tray.ShowBalloon(QStringLiteral("Trace Received"), QStringLiteral("Job 12")), TTrayIcon::Available());
}

TEST(AppIcon, IsDrawnAtDesktopSizes) {
    const QIcon icon = AppIcon();
    ASSERT_FALSE(icon.isNull());
    for (const int side : {16, 32, 256}) {
        SCOPED_TRACE(side);
        const QImage picture = icon.pixmap(QSize(side, side)).toImage();
        ASSERT_EQ(picture.size(), QSize(side, side));
        EXPECT_EQ(qAlpha(picture.pixel(0, 0)), 0); // rounded corners
        EXPECT_EQ(qAlpha(picture.pixel(side / 2, side / 4)), 255);
    }
}

class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> Opened;
public Q_SLOTS:
    void Open(const QUrl& url) { Opened.append(url); }
};

TEST(Help, TheFileLiesBesideTheProgram) {
    EXPECT_EQ(HelpFileName(QStringLiteral("/opt/tracer")), "/opt/tracer/tracer-interface.html");
    EXPECT_EQ(HelpFileName(QStringLiteral("/opt/tracer/")), "/opt/tracer/tracer-interface.html");
    // The build copies it beside the program binary.
    QFile help(HelpFileName(QStringLiteral(PROGRAM_FOLDER)));
    ASSERT_TRUE(help.open(QIODevice::ReadOnly));
    EXPECT_TRUE(help.readAll().contains("Tracer Interface"));
}

TEST(Help, OpensAnExistingFileInTheViewer) {
    QTemporaryDir folder;
    const QString name = HelpFileName(folder.path());
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<html></html>");
    file.close();

    TUrlCatcher viewer;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &viewer, "Open");
    EXPECT_TRUE(OpenHelp(nullptr, name));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(viewer.Opened.size(), 1);
    EXPECT_EQ(viewer.Opened[0], QUrl::fromLocalFile(name));
}

TEST(Help, AMissingFileIsReported) {
    QTemporaryDir folder;
    const QString name = HelpFileName(folder.path());
    TUrlCatcher viewer;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &viewer, "Open");
    QString shown;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        shown = box->text();
        icon = box->icon();
        box->accept();
    });
    EXPECT_FALSE(OpenHelp(nullptr, name));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_TRUE(viewer.Opened.isEmpty());
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_TRUE(shown.contains(name)) << shown.toStdString();
    EXPECT_TRUE(shown.contains("not found")) << shown.toStdString();
}

} // namespace

#include "test_shell_windows.moc"
