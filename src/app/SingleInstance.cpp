#include "app/SingleInstance.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QVariantMap>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tarnell::app {

namespace {

const QString kApplicationInterface = QStringLiteral("org.freedesktop.Application");
constexpr int kCallTimeoutMs = 5000;
// An activation token is a short opaque string; anything longer is not one.
constexpr qint64 kMaxRequestBytes = 4096;

QString tokenFrom(const QVariantMap& platformData) {
    const QString token = platformData.value(QStringLiteral("activation-token")).toString();
    if (!token.isEmpty()) {
        return token;
    }
    return platformData.value(QStringLiteral("desktop-startup-id")).toString();
}

QString runtimeDirectory() {
    QString directory = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (directory.isEmpty() || !QDir(directory).exists()) {
        // Qt makes a private directory for the user when the session has none.
        directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    }
    return directory;
}

} // namespace

// The running copy's face on the session bus: launchers and later starts ask it to
// show itself through the standard application interface.
class ApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit ApplicationAdaptor(SingleInstance* owner)
        : QDBusAbstractAdaptor(owner), owner_(owner) {}

public slots:
    void Activate(const QVariantMap& platformData) {
        emit owner_->reopenRequested(tokenFrom(platformData));
    }
    void Open(const QStringList& /*uris*/, const QVariantMap& platformData) {
        emit owner_->reopenRequested(tokenFrom(platformData));
    }
    // Tarnell exports no actions.
    void ActivateAction(const QString& /*name*/, const QVariantList& /*parameter*/,
                        const QVariantMap& /*platformData*/) {}

private:
    SingleInstance* owner_;
};

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() {
    if (lockFd_ >= 0) {
        ::close(lockFd_);
    }
}

SingleInstance::Claim SingleInstance::claimAsking(const QString* activationToken) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface()) {
        if (claimBusName()) {
            return Claim::running;
        }
        if (bus.interface()->isServiceRegistered(QString::fromLatin1(kBusName)).value()) {
            if (activationToken == nullptr) {
                return Claim::alreadyRunning;
            }
            handOverOnBus(*activationToken);
            return Claim::handedOver;
        }
        // The bus refused the name for another reason: fall back to the lock.
    }
    return claimRuntimeLock(activationToken);
}

bool SingleInstance::claimBusName() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    new ApplicationAdaptor(this);
    // The object is in place before the name is taken, so no request finds the name
    // without the object behind it.
    if (!bus.registerObject(QString::fromLatin1(kObjectPath), this)) {
        return false;
    }
    if (bus.registerService(QString::fromLatin1(kBusName))) {
        return true;
    }
    bus.unregisterObject(QString::fromLatin1(kObjectPath));
    return false;
}

bool SingleInstance::handOverOnBus(const QString& activationToken) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kBusName), QString::fromLatin1(kObjectPath), kApplicationInterface,
        QStringLiteral("Activate"));
    QVariantMap platformData;
    if (!activationToken.isEmpty()) {
        platformData.insert(QStringLiteral("activation-token"), activationToken);
    }
    call << platformData;
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

SingleInstance::Claim SingleInstance::claimRuntimeLock(const QString* activationToken) {
    const QString directory = runtimeDirectory();
    const QString lockPath = directory + QStringLiteral("/tarnell.lock");
    const QString socketPath = directory + QStringLiteral("/tarnell.socket");

    const int fd =
        ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        // Nowhere to keep the lock: run rather than refuse to.
        return Claim::running;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        lockFd_ = fd;
        acceptLocalRequests(socketPath);
        return Claim::running;
    }
    ::close(fd);
    if (activationToken == nullptr) {
        return Claim::alreadyRunning;
    }
    handOverOnSocket(socketPath, *activationToken);
    return Claim::handedOver;
}

void SingleInstance::acceptLocalRequests(const QString& socketPath) {
    // A socket left by a copy that ended without cleaning up; the lock says none runs.
    QLocalServer::removeServer(socketPath);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socketPath)) {
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* connection = server_->nextPendingConnection()) {
            connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
            connect(connection, &QLocalSocket::readyRead, this, [this, connection] {
                if (connection->canReadLine()) {
                    const QByteArray line = connection->readLine(kMaxRequestBytes).trimmed();
                    connection->disconnectFromServer();
                    emit reopenRequested(QString::fromUtf8(line));
                } else if (connection->bytesAvailable() > kMaxRequestBytes) {
                    connection->abort();
                }
            });
        }
    });
}

void SingleInstance::handOverOnSocket(const QString& socketPath, const QString& activationToken) {
    // The running copy may be starting up and not listening yet.
    constexpr int kAttempts = 20;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(kCallTimeoutMs / kAttempts)) {
            socket.write(activationToken.toUtf8().left(kMaxRequestBytes - 1) + '\n');
            socket.flush();
            socket.waitForBytesWritten(kCallTimeoutMs);
            socket.disconnectFromServer();
            return;
        }
        QThread::msleep(100);
    }
}

} // namespace tarnell::app

#include "SingleInstance.moc"
