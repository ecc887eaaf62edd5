#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

namespace tarnell::app {

// Keeps Tarnell to one running copy per user session. The running copy owns the
// session bus name io.github.tarnell.Tarnell and answers org.freedesktop.Application
// there; without a session bus it holds a lock in the user's runtime directory and
// listens on a local socket beside it. A later start hands its request to the
// running copy and ends.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kBusName = "io.github.tarnell.Tarnell";
    static constexpr const char* kObjectPath = "/io/github/tarnell/Tarnell";

    enum class Claim {
        running,        // this process is now the running copy
        handedOver,     // another copy runs and has been asked to show itself
        alreadyRunning, // another copy runs; it was asked nothing
    };

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Becomes the running copy, or hands `activationToken` (the launcher's token for
    // bringing a window forward; may be empty) to the copy that runs.
    Claim claim(const QString& activationToken) { return claimAsking(&activationToken); }
    // Becomes the running copy, or finds the one that runs and asks it nothing: for
    // a start without anything to show.
    Claim claimWithoutRequest() { return claimAsking(nullptr); }

signals:
    // Tarnell was started again; the new start brought this activation token.
    void reopenRequested(const QString& activationToken);

private:
    // Without a token, the running copy is asked nothing.
    Claim claimAsking(const QString* activationToken);
    bool claimBusName();
    bool handOverOnBus(const QString& activationToken);
    Claim claimRuntimeLock(const QString* activationToken);
    void acceptLocalRequests(const QString& socketPath);
    static void handOverOnSocket(const QString& socketPath, const QString& activationToken);

    int lockFd_ = -1;
    QLocalServer* server_ = nullptr;
};

} // namespace tarnell::app
