// The program's icon in the desktop's notification area: its hint, the click that restores the
// main window, the context menu and the balloons.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;
class QWidget;

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TTrayIcon(QWidget* owner); // application icon; context menu "Restore", separator, "Exit"
    ~TTrayIcon() override;

    static bool Available(); // QSystemTrayIcon::isSystemTrayAvailable()
    void SetHint(const QString& hint);
    void Show();
    // Information icon; CR in the text breaks the line. When no notification area is available this
    // does nothing and returns false.
    bool ShowBalloon(const QString& title, const QString& text, int msecs = 10000);

    QSystemTrayIcon* Icon() const { return FIcon; }
    QMenu* ContextMenu() const { return FMenu.get(); }

    std::function<void()> OnRestore; // icon click (Trigger/DoubleClick) and "Restore"
    std::function<void()> OnExit;    // "Exit"

private:
    QSystemTrayIcon* FIcon = nullptr;
    std::unique_ptr<QMenu> FMenu;
};
