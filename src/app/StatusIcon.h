#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>

class QDBusServiceWatcher;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace tarnell::app {

class MenuContent;

// Tarnell's icon in the desktop's tray, with the menu content's menu. A tray that
// comes up after Tarnell (a panel that starts later at login) still gets the icon.
class StatusIcon : public QObject {
    Q_OBJECT
public:
    // The kinds of tray, which differ in who draws the icon's image and its menu.
    enum class Tray {
        // A StatusNotifierItem host: the desktop draws both, the menu from its D-Bus
        // description, on a panel of its own style.
        statusNotifier,
        // An X11 embedded (XEmbed) tray: Tarnell draws both, on a panel of any colour.
        embedded,
    };

    // `menuContent` must outlive the icon.
    explicit StatusIcon(MenuContent& menuContent, QObject* parent = nullptr);
    ~StatusIcon() override;

    // The tray image. A status notifier host gets the installed symbolic icon by
    // name where the icon theme has it, so that it tints the icon to suit its panel;
    // otherwise, and in an embedded tray, which shows the image as it is, the image
    // is a dark key cap with a light rim and sign, readable on light and dark panels.
    static QIcon trayImage(Tray tray);

    // The icon once it has been put up; null while waiting for a tray.
    [[nodiscard]] QSystemTrayIcon* trayIcon() const { return trayIcon_; }

private:
    void showWhenTrayAppears();
    void putUp(Tray tray);
    void retryEmbeddedTray();

    MenuContent& menuContent_;
    QPointer<QMenu> menu_;
    QSystemTrayIcon* trayIcon_ = nullptr;
    QDBusServiceWatcher* watcher_ = nullptr;
    QTimer* retryTimer_ = nullptr;
};

} // namespace tarnell::app
