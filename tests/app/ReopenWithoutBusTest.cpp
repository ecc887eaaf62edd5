// Without a session bus the running copy holds a lock in the runtime directory and a
// second start reaches it through the local socket there.
#include "SecondStart.h"
#include "app/SingleInstance.h"
#include "support/QtApplication.h"

#include <QDBusConnection>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace tarnell::app {
namespace {

using namespace tarnell::testing;

TEST(ReopenWithoutBus, ASecondStartReachesTheRunningCopyThroughTheRuntimeDirectory) {
    // No bus for this process or the second start, and no X11 bus autolaunch.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tarnell-test-bus");
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    qtApplication();
    ASSERT_FALSE(QDBusConnection::sessionBus().isConnected());

    SingleInstance instance;
    ASSERT_EQ(instance.claim({}), SingleInstance::Claim::running);
    EXPECT_TRUE(QFileInfo::exists(runtime.filePath(QStringLiteral("tarnell.lock"))));
    QStringList tokens;
    QObject::connect(&instance, &SingleInstance::reopenRequested,
                     [&tokens](const QString& token) { tokens << token; });

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), QStringLiteral("token-over-socket"));
    const SecondStartResult second = runSecondStart(environment);
    ASSERT_TRUE(second.finished) << "the second start kept running";
    EXPECT_EQ(second.exitCode, 0) << second.errors.constData();
    for (int i = 0; i < 50 && tokens.isEmpty(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_EQ(tokens, QStringList{QStringLiteral("token-over-socket")});

    // A second claim in this process is a second copy: it hands over instead.
    SingleInstance another;
    EXPECT_EQ(another.claim(QStringLiteral("again")), SingleInstance::Claim::handedOver);
}

} // namespace
} // namespace tarnell::app
