#include "platform/linux/input/LoginSession.h"

#include "platform/linux/diagnostics/Diagnostics.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QVariant>
#include <unistd.h>

namespace tarnell::input {
namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kUser = QStringLiteral("org.freedesktop.login1.User");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
// logind answers at once; a bus that does not is treated as having no logind.
constexpr int kCallTimeoutMs = 2000;

QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                  const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::systemBus().call(message, QDBus::Block, kCallTimeoutMs);
}

// The object path a method answers with, or empty.
QString pathFrom(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return {};
    }
    return reply.arguments().constFirst().value<QDBusObjectPath>().path();
}

QVariant readProperty(const QString& path, const QString& interface, const QString& name) {
    const QDBusMessage reply = call(path, kProperties, QStringLiteral("Get"), {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return {};
    }
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

// The user's graphical session: the Display property, an (id, path) pair whose
// path is "/" when there is none.
QString displaySession() {
    const QString user = pathFrom(
        call(kManagerPath, kManager, QStringLiteral("GetUser"), {QVariant::fromValue(::getuid())}));
    if (user.isEmpty()) {
        return {};
    }
    const QVariant display = readProperty(user, kUser, QStringLiteral("Display"));
    if (!display.canConvert<QDBusArgument>()) {
        return {};
    }
    QString id;
    QDBusObjectPath path;
    const auto argument = display.value<QDBusArgument>();
    argument.beginStructure();
    argument >> id >> path;
    argument.endStructure();
    return path.path() == QStringLiteral("/") ? QString() : path.path();
}

QString ownSession() {
    if (const QString id = qEnvironmentVariable("XDG_SESSION_ID"); !id.isEmpty()) {
        if (QString path =
                pathFrom(call(kManagerPath, kManager, QStringLiteral("GetSession"), {id}));
            !path.isEmpty()) {
            return path;
        }
    }
    const auto pid = static_cast<quint32>(::getpid());
    if (QString path = pathFrom(call(kManagerPath, kManager, QStringLiteral("GetSessionByPID"),
                                     {QVariant::fromValue(pid)}));
        !path.isEmpty()) {
        return path;
    }
    return displaySession(); // started outside any session, as by the user's service manager
}

} // namespace

std::unique_ptr<LoginSession> LoginSession::follow() {
    if (!QDBusConnection::systemBus().isConnected()) {
        return std::unique_ptr<LoginSession>(new LoginSession({}));
    }
    std::unique_ptr<LoginSession> session(new LoginSession(ownSession()));
    if (session->path_.isEmpty()) {
        return session;
    }
    // Listening first, so that no change between the reading and the listening is lost.
    QDBusConnection::systemBus().connect(
        kService, session->path_, kProperties, QStringLiteral("PropertiesChanged"), session.get(),
        SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    session->readActive();
    return session;
}

LoginSession::~LoginSession() {
    if (!path_.isEmpty()) {
        QDBusConnection::systemBus().disconnect(
            kService, path_, kProperties, QStringLiteral("PropertiesChanged"), this,
            SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    }
}

void LoginSession::readActive() {
    const QVariant active = readProperty(path_, kSession, QStringLiteral("Active"));
    // Unreadable: as without logind.
    active_ = !active.isValid() || active.toBool();
}

void LoginSession::propertiesChanged(const QString& interface, const QVariantMap& changed,
                                     const QStringList& invalidated) {
    if (interface != kSession) {
        return;
    }
    const bool before = active_;
    if (const auto it = changed.constFind(QStringLiteral("Active")); it != changed.constEnd()) {
        active_ = it->toBool();
    } else if (invalidated.contains(QStringLiteral("Active"))) {
        readActive();
    }
    if (active_ != before) {
        platform::diagnose("session: %s", active_ ? "active again; keyboards are taken back"
                                                  : "not active; keyboards are let go");
    }
    if (active_ != before && onActiveChanged) {
        onActiveChanged(active_);
    }
}

} // namespace tarnell::input
