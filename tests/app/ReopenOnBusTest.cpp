// A second start of Tarnell, on a private session bus, shows the running copy's
// settings window and ends with status 0; a second headless start ends with 1.
#include "PrivateSessionBus.h"
#include "SecondStart.h"
#include "ShellFakes.h"
#include "app/AppDelegate.h"
#include "app/SingleInstance.h"
#include "support/QtApplication.h"

#include <QDBusConnection>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace tarnell::app {
namespace {

using namespace tarnell::testing;

[[maybe_unused]] const auto* const kBus =
    ::testing::AddGlobalTestEnvironment(new PrivateSessionBus);

TEST(ReopenOnBus, ASecondStartShowsTheRunningCopysWindowAndEndsWithStatusZero) {
    qtApplication();
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());

    ShellFakes shell;
    AppDelegate delegate(shell.dependencies());
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

    // A start without user interface finds the running copy too: it asks nothing of
    // it, makes no second engine and ends, saying why.
    const SecondStartResult headless = runSecondStart(environment, {QStringLiteral("--headless")});
    ASSERT_TRUE(headless.finished) << "the headless start kept running";
    EXPECT_EQ(headless.exitCode, 1);
    EXPECT_TRUE(headless.errors.contains("already running")) << headless.errors.constData();
    QCoreApplication::processEvents();
    EXPECT_EQ(tokens.size(), 2);
}

} // namespace
} // namespace tarnell::app
