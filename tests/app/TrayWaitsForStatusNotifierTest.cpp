// On Wayland the only tray is a StatusNotifierItem host. When none is there at start
// (a panel that comes up after Tarnell at login), the icon goes up once one appears.
#include "PrivateSessionBus.h"
#include "ShellFakes.h"
#include "app/StatusIcon.h"
#include "app/TarnellApp.h"
#include "support/QtApplication.h"

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QMutex>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QThread>
#include <gtest/gtest.h>

namespace tarnell::app {
namespace {

using namespace tarnell::testing;

[[maybe_unused]] const auto* const kBus =
    ::testing::AddGlobalTestEnvironment(new PrivateSessionBus);

// The panel's side of the protocol: a watcher with a host registered, recording the
// items that register with it. It lives on a thread of its own, as a panel would in a
// process of its own, so that Tarnell's blocking calls to it are answered.
class FakeWatcher : public QObject {
    Q_OBJECT
public:
    void add(const QString& item) {
        const QMutexLocker lock(&mutex_);
        items_ << item;
    }
    [[nodiscard]] QStringList items() const {
        const QMutexLocker lock(&mutex_);
        return items_;
    }

private:
    mutable QMutex mutex_;
    QStringList items_;
};

class WatcherAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
public:
    explicit WatcherAdaptor(FakeWatcher* watcher)
        : QDBusAbstractAdaptor(watcher), watcher_(watcher) {}
    [[nodiscard]] bool isHostRegistered() const { return true; }
    [[nodiscard]] int protocolVersion() const { return 0; }
    [[nodiscard]] QStringList registeredItems() const { return watcher_->items(); }

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message) {
        // Items may give a bus name or only an object path.
        watcher_->add(service.startsWith(QLatin1Char('/')) ? message.service() + service : service);
    }
    void RegisterStatusNotifierHost(const QString&) {}

private:
    FakeWatcher* watcher_;
};

TEST(TrayWaitsForStatusNotifier, TheIconGoesUpWhenATrayAppearsAfterTarnell) {
    qtApplication();
    ASSERT_TRUE(QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        << "runs on Wayland, not " << QGuiApplication::platformName().toStdString();
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());

    ShellFakes shell;
    TarnellApp app(shell.dependencies());
    QCoreApplication::processEvents();
    EXPECT_EQ(app.statusIcon().trayIcon(), nullptr) << "no tray yet, so no icon";

    // The panel starts: its watcher takes the well-known name on a connection of its own.
    QDBusConnection panel = QDBusConnection::connectToBus(
        QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("panel"));
    ASSERT_TRUE(panel.isConnected());
    QThread panelThread;
    FakeWatcher watcher;
    new WatcherAdaptor(&watcher);
    watcher.moveToThread(&panelThread);
    panelThread.start();
    const auto stopPanel = qScopeGuard([&panelThread] {
        panelThread.quit();
        panelThread.wait();
    });
    ASSERT_TRUE(panel.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher));
    ASSERT_TRUE(panel.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));

    ASSERT_TRUE(waitFor([&app] { return app.statusIcon().trayIcon() != nullptr; }))
        << "the icon did not go up when the tray appeared";
    EXPECT_TRUE(app.statusIcon().trayIcon()->isVisible());
    ASSERT_TRUE(waitFor([&watcher] { return !watcher.items().isEmpty(); }))
        << "no item registered with the tray";

    // The registered item is shown and offers the menu.
    const QString item = watcher.items().front();
    const qsizetype slash = item.indexOf(QLatin1Char('/'));
    const QString service = slash < 0 ? item : item.left(slash);
    const QString path = slash < 0 ? QStringLiteral("/StatusNotifierItem") : item.mid(slash);
    // Asked without blocking: the item lives on this thread.
    auto property = [&](const char* name) {
        QDBusMessage get = QDBusMessage::createMethodCall(
            service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        get << QStringLiteral("org.kde.StatusNotifierItem") << QString::fromLatin1(name);
        QDBusPendingCall call = panel.asyncCall(get);
        EXPECT_TRUE(waitFor([&call] { return call.isFinished(); })) << name;
        EXPECT_FALSE(call.isError()) << name << ": " << call.error().message().toStdString();
        return call.reply().arguments().value(0).value<QDBusVariant>().variant();
    };
    EXPECT_EQ(property("Status").toString(), QStringLiteral("Active"));
    const QVariant menuPath = property("Menu");
    ASSERT_TRUE(menuPath.isValid()) << "the item offers no menu";

    // The panel draws that menu and keeps the keys pressed in it, so the menu offers
    // no shortcuts that would do nothing there.
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, menuPath.value<QDBusObjectPath>().path(), QStringLiteral("com.canonical.dbusmenu"),
        QStringLiteral("GetGroupProperties"));
    QList<int> ids;
    for (int id = 0; id < 256; ++id) {
        ids << id;
    }
    get << QVariant::fromValue(ids) << QStringList();
    QDBusPendingCall call = panel.asyncCall(get);
    ASSERT_TRUE(waitFor([&call] { return call.isFinished(); }));
    ASSERT_FALSE(call.isError()) << call.error().message().toStdString();
    const auto items = call.reply().arguments().value(0).value<QDBusArgument>();
    QStringList labels;
    QStringList withShortcuts;
    items.beginArray();
    while (!items.atEnd()) {
        int id = 0;
        QVariantMap itemProperties;
        items.beginStructure();
        items >> id >> itemProperties;
        items.endStructure();
        labels << itemProperties.value(QStringLiteral("label")).toString();
        if (itemProperties.contains(QStringLiteral("shortcut"))) {
            withShortcuts << labels.back();
        }
    }
    items.endArray();
    EXPECT_TRUE(labels.contains(QStringLiteral("Quit Tarnell"))) << labels.join(u',').toStdString();
    EXPECT_TRUE(withShortcuts.isEmpty()) << withShortcuts.join(u',').toStdString();

    QDBusConnection::disconnectFromBus(QStringLiteral("panel"));
}

} // namespace
} // namespace tarnell::app

#include "TrayWaitsForStatusNotifierTest.moc"
