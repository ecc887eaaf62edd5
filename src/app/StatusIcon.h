#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>

class QDBusServiceWatcher;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace tarnell::app {

// Tarnell's icon in the desktop's tray, with the given menu. A tray that comes up
// after Tarnell (a panel that starts later at login) still gets the icon.
class StatusIcon : public QObject {
    Q_OBJECT
public:
    explicit StatusIcon(QMenu* menu, QObject* parent = nullptr);
    ~StatusIcon() override;

    // The monochrome tray image: the installed symbolic icon where the icon theme
    // has it (so panels can tint it), else the one built into the program.
    static QIcon menuBarIcon();

    // The icon once it has been put up; null while waiting for a tray.
    [[nodiscard]] QSystemTrayIcon* trayIcon() const { return trayIcon_; }

private:
    void showWhenTrayAppears();
    void putUp();
    void retryEmbeddedTray();

    QPointer<QMenu> menu_;
    QSystemTrayIcon* trayIcon_ = nullptr;
    QDBusServiceWatcher* watcher_ = nullptr;
    QTimer* retryTimer_ = nullptr;
};

} // namespace tarnell::app
