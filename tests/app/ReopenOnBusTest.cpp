// A second start of Tarnell, on a private session bus, shows the running copy's
// settings window and ends with status 0.
#include "FakeServices.h"
#include "QtApplication.h"
#include "SecondStart.h"
#include "app/AppDelegate.h"
#include "app/SingleInstance.h"

#include <QDBusConnection>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

namespace tarnell::app {
namespace {

using namespace tarnell::testing;

// dbus-daemon for this test alone; its address goes into the environment before
// anything in this process connects.
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

private:
    QByteArray address_;
    qint64 pid_ = 0;
};

[[maybe_unused]] const auto* const kBus =
    ::testing::AddGlobalTestEnvironment(new PrivateSessionBus);

TEST(ReopenOnBus, ASecondStartShowsTheRunningCopysWindowAndEndsWithStatusZero) {
    qtApplication();
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());

    MemoryKeyValueStore defaults;
    NamedApplications applications;
    EngineFakes fakes;
    FixedLoginItems loginItems;
    AppDelegate delegate({.settings = defaults,
                          .applications = applications,
                          .engine = fakes.services(),
                          .loginItems = loginItems,
                          .makeSettingsContent = [](BindingStore&, engine::HyperKeyMonitor&, bool) {
                              return std::make_unique<QWidget>();
                          }});
    SingleInstance instance;
    ASSERT_EQ(instance.claim({}), SingleInstance::Claim::running);
    QStringList tokens;
    QObject::connect(&instance, &SingleInstance::reopenRequested,
                     [&delegate, &tokens](const QString& token) {
                         tokens << token;
                         delegate.applicationShouldHandleReopen(token);
                     });

    // The second start would otherwise make its own runtime lock beside ours.
    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), QStringLiteral("launcher-token-1"));
    const SecondStartResult second = runSecondStart(environment);

    ASSERT_TRUE(second.finished) << "the second start kept running";
    EXPECT_EQ(second.exitStatus, QProcess::NormalExit) << second.errors.constData();
    EXPECT_EQ(second.exitCode, 0) << second.errors.constData();
    QCoreApplication::processEvents();
    EXPECT_EQ(tokens, QStringList{QStringLiteral("launcher-token-1")});
    ASSERT_NE(delegate.settingsWindow(), nullptr);
    EXPECT_TRUE(delegate.settingsWindow()->isVisible());

    // Once more with the window already shown: the same window, still in front.
    QWidget* window = delegate.settingsWindow();
    environment.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
    const SecondStartResult third = runSecondStart(environment);
    EXPECT_EQ(third.exitCode, 0) << third.errors.constData();
    QCoreApplication::processEvents();
    EXPECT_EQ(tokens.size(), 2);
    EXPECT_EQ(delegate.settingsWindow(), window);
}

} // namespace
} // namespace tarnell::app
