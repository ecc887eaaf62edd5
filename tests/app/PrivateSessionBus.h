#pragma once

// A dbus-daemon for one test program; its address goes into the environment before
// anything in the program connects, and the daemon ends with the tests.
#include <QByteArray>
#include <QList>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/types.h>

namespace tarnell::testing {

class PrivateSessionBus : public ::testing::Environment {
public:
    void SetUp() override {
        QProcess daemon;
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--fork"),
                      QStringLiteral("--print-address=1"), QStringLiteral("--print-pid=1"),
                      QStringLiteral("--nopidfile")});
        ASSERT_TRUE(daemon.waitForFinished(10000)) << "dbus-daemon did not start";
        const QList<QByteArray> lines = daemon.readAllStandardOutput().trimmed().split('\n');
        ASSERT_EQ(lines.size(), 2) << "dbus-daemon printed no address and pid";
        address_ = lines.at(0).trimmed();
        pid_ = lines.at(1).trimmed().toLongLong();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address_);
    }
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(static_cast<pid_t>(pid_), SIGTERM);
        }
    }
    [[nodiscard]] const QByteArray& address() const { return address_; }

private:
    QByteArray address_;
    qint64 pid_ = 0;
};

} // namespace tarnell::testing
