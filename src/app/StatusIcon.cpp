#include "app/StatusIcon.h"

#include "app/MenuContent.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

namespace tarnell::app {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kSymbolicIconName = QStringLiteral("io.github.tarnell.Tarnell-symbolic");
constexpr int kRetryIntervalMs = 3000;
constexpr int kQueryTimeoutMs = 1000;

bool onX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// Whether a StatusNotifierItem host (KDE, the AppIndicator extension, waybar…)
// listens now. Qt decides once per process between that protocol and the older
// embedded tray, the first time anything asks it about trays, so Tarnell asks the
// bus itself first and only involves Qt once the answer can be the right one.
bool statusNotifierHostListens() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(kWatcherService).value()) {
        return false;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcherService, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    // Short: a panel that does not answer must not hold up the program.
    const QDBusMessage reply = bus.call(get, QDBus::Block, kQueryTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage &&
           reply.arguments().value(0).value<QDBusVariant>().variant().toBool();
}

} // namespace

StatusIcon::StatusIcon(MenuContent& menuContent, QObject* parent)
    : QObject(parent), menuContent_(menuContent), menu_(menuContent.menu()) {
    if (statusNotifierHostListens()) {
        putUp(Tray::statusNotifier);
    } else if (onX11()) {
        putUp(Tray::embedded);
    } else {
        showWhenTrayAppears();
    }
}

StatusIcon::~StatusIcon() {
    if (trayIcon_) {
        // The menu is not the icon's to delete.
        trayIcon_->setContextMenu(nullptr);
    }
}

QIcon StatusIcon::trayImage(Tray tray) {
    QIcon onAnyPanel(QStringLiteral(":/icons/MenuBarIconOnAnyPanel.svg"));
    if (tray == Tray::statusNotifier) {
        return QIcon::fromTheme(kSymbolicIconName, onAnyPanel);
    }
    return onAnyPanel;
}

void StatusIcon::showWhenTrayAppears() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        watcher_ = new QDBusServiceWatcher(kWatcherService, bus,
                                           QDBusServiceWatcher::WatchForRegistration, this);
        connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] {
            if (statusNotifierHostListens()) {
                putUp(Tray::statusNotifier);
            }
        });
    }
    // The watcher may come up before its host registers with it.
    retryTimer_ = new QTimer(this);
    retryTimer_->setInterval(kRetryIntervalMs);
    connect(retryTimer_, &QTimer::timeout, this, [this] {
        if (statusNotifierHostListens()) {
            putUp(Tray::statusNotifier);
        }
    });
    retryTimer_->start();
}

void StatusIcon::putUp(Tray tray) {
    if (trayIcon_) {
        return;
    }
    // Called from their own signals: let them go once those have returned.
    if (watcher_) {
        watcher_->deleteLater();
        watcher_ = nullptr;
    }
    if (retryTimer_) {
        retryTimer_->stop();
        retryTimer_->deleteLater();
        retryTimer_ = nullptr;
    }

    // Before the menu is handed over: a status notifier host copies it at once.
    menuContent_.setShortcutsAvailable(tray == Tray::embedded);
    trayIcon_ = new QSystemTrayIcon(trayImage(tray), this);
    trayIcon_->setToolTip(QStringLiteral("Tarnell"));
    trayIcon_->setContextMenu(menu_);
    connect(trayIcon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // A left click opens the menu too, as a pull-down menu would. Status
                // notifier hosts place their own menus; only the embedded tray needs
                // it placed here.
                if (reason == QSystemTrayIcon::Trigger && onX11() && menu_) {
                    menu_->popup(QCursor::pos());
                }
            });
    trayIcon_->show();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        retryEmbeddedTray();
    }
}

// Qt follows an embedded tray that appears later by itself; putting the icon up
// again once one is there covers trays that it misses.
void StatusIcon::retryEmbeddedTray() {
    retryTimer_ = new QTimer(this);
    retryTimer_->setInterval(kRetryIntervalMs);
    connect(retryTimer_, &QTimer::timeout, this, [this] {
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            retryTimer_->stop();
            retryTimer_->deleteLater();
            retryTimer_ = nullptr;
            trayIcon_->hide();
            trayIcon_->show();
        }
    });
    retryTimer_->start();
}

} // namespace tarnell::app
