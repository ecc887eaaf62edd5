// On Wayland the settings window is brought forward with the token that came with the
// request: the compositor lets a window come forward only with a token it issued.
// libwayland's own protocol log shows what Tarnell sends the compositor.
#include "ShellFakes.h"
#include "app/AppDelegate.h"
#include "support/QtApplication.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryFile>
#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tarnell::app {
namespace {

using namespace tarnell::testing;

void settle(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

// Everything written to standard error while `action` runs (and the event loop turns
// a little longer).
QByteArray standardErrorDuring(const std::function<void()>& action) {
    QTemporaryFile capture;
    if (!capture.open()) {
        ADD_FAILURE() << "no temporary file";
        return {};
    }
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(capture.handle(), STDERR_FILENO);
    action();
    settle(500);
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    QFile log(capture.fileName());
    log.open(QIODevice::ReadOnly);
    return log.readAll();
}

class ActivationToken : public ::testing::Test, protected ShellFakes {
protected:
    static void SetUpTestSuite() {
        // Read by libwayland when Qt connects to the compositor.
        qputenv("WAYLAND_DEBUG", "client");
        qtApplication();
    }

    AppDelegate::Dependencies dependencies(bool makesForm) {
        return ShellFakes::dependencies(
            [makesForm](BindingStore&, engine::HyperKeyMonitor&, bool) -> std::unique_ptr<QWidget> {
                if (!makesForm) {
                    return nullptr;
                }
                auto form = std::make_unique<QWidget>();
                form->setFixedSize(460, 360);
                return form;
            });
    }
};

TEST_F(ActivationToken, TheReopenTokenGoesToTheCompositorWithTheWindow) {
    ASSERT_TRUE(QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
    AppDelegate delegate(dependencies(true));
    const QByteArray traffic = standardErrorDuring(
        [&delegate] { delegate.applicationShouldHandleReopen(QStringLiteral("token-1234")); });

    ASSERT_NE(delegate.settingsWindow(), nullptr);
    EXPECT_TRUE(delegate.settingsWindow()->isVisible());
    EXPECT_TRUE(traffic.contains("activate(\"token-1234\""))
        << "no activation with the token was sent:\n"
        << traffic.right(3000).toStdString();
    EXPECT_TRUE(qEnvironmentVariable("XDG_ACTIVATION_TOKEN").isEmpty())
        << "the token stays where launched programs would inherit it";
}

TEST_F(ActivationToken, WithoutAWindowTheTokenIsDropped) {
    AppDelegate delegate(dependencies(false));
    delegate.applicationShouldHandleReopen(QStringLiteral("token-5678"));
    EXPECT_EQ(delegate.settingsWindow(), nullptr);
    EXPECT_TRUE(qEnvironmentVariable("XDG_ACTIVATION_TOKEN").isEmpty());
}

} // namespace
} // namespace tarnell::app
