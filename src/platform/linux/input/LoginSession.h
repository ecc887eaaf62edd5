#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <memory>

namespace tarnell::input {

// Whether the login session of this process is the active one at its seat, as
// logind tells on the system bus, followed as it changes: another user's session
// takes the seat, or a switch to a text console. Without logind, or without a
// session to be found, it counts as active for good.
class LoginSession : public QObject {
    Q_OBJECT
public:
    // The session named by XDG_SESSION_ID, else the one logind counts this
    // process in, else the user's graphical session.
    static std::unique_ptr<LoginSession> follow();
    ~LoginSession() override;
    LoginSession(const LoginSession&) = delete;
    LoginSession& operator=(const LoginSession&) = delete;

    [[nodiscard]] bool isActive() const { return active_; }
    // The session's object path; empty when none is followed.
    [[nodiscard]] const QString& path() const { return path_; }
    // Called from the event loop when isActive() changes.
    std::function<void(bool active)> onActiveChanged;

private slots:
    void propertiesChanged(const QString& interface, const QVariantMap& changed,
                           const QStringList& invalidated);

private:
    explicit LoginSession(QString path) : path_(std::move(path)) {}
    void readActive();

    QString path_;
    bool active_ = true;
};

} // namespace tarnell::input
