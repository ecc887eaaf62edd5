// The keyboards follow the login session: logind's stand-in (python3-dbusmock)
// on a private system bus says when another session takes the seat.
#include "platform/linux/input/FakeInput.h"
#include "platform/linux/input/KeyboardTap.h"
#include "platform/linux/input/LinuxInput.h"
#include "platform/linux/input/MiniEngine.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace tarnell;
using namespace tarnell::input;
using namespace tarnell::input::testing;
using Out = std::vector<std::string>;

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kSessionPath = QStringLiteral("/org/freedesktop/login1/session/c7");
const QString kMock = QStringLiteral("org.freedesktop.DBus.Mock");

// Runs the event loop until the condition holds (or the time is up).
template <typename Condition> bool spinUntil(Condition condition, int limitMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return condition();
}

QDBusMessage callLogind(const QString& path, const QString& method, const QVariantList& arguments) {
    auto message = QDBusMessage::createMethodCall(kLogind, path, kMock, method);
    message.setArguments(arguments);
    return QDBusConnection::systemBus().call(message);
}

// A bus of its own as the system bus, logind's stand-in on it, and session c7
// of this user as the session of this process.
class LogindStandIn : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "input_login_session_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);

        QProcess daemon;
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--fork"),
                      QStringLiteral("--print-address=1"), QStringLiteral("--print-pid=1"),
                      QStringLiteral("--nopidfile")});
        ASSERT_TRUE(daemon.waitForFinished(10000)) << "dbus-daemon did not start";
        const QList<QByteArray> lines = daemon.readAllStandardOutput().trimmed().split('\n');
        ASSERT_EQ(lines.size(), 2) << "dbus-daemon printed no address and pid";
        busPid_ = static_cast<pid_t>(lines.at(1).trimmed().toLongLong());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", lines.at(0).trimmed());
        qputenv("XDG_SESSION_ID", "c7");

        logind_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        logind_.start(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                       QStringLiteral("--template"), QStringLiteral("logind")});
        ASSERT_TRUE(logind_.waitForStarted(10000)) << "python3-dbusmock is not installed";
        ASSERT_TRUE(spinUntil([] {
            auto* bus = QDBusConnection::systemBus().interface();
            return bus != nullptr && bus->isServiceRegistered(kLogind).value();
        })) << "logind's stand-in did not come up";
        const QDBusMessage added =
            callLogind(QStringLiteral("/org/freedesktop/login1"), QStringLiteral("AddSession"),
                       {QStringLiteral("c7"), QStringLiteral("seat0"),
                        QVariant::fromValue(static_cast<quint32>(::getuid())),
                        QStringLiteral("someone"), true});
        ASSERT_EQ(added.type(), QDBusMessage::ReplyMessage) << added.errorMessage().toStdString();
    }
    void TearDown() override {
        logind_.kill();
        logind_.waitForFinished();
        if (busPid_ > 0) {
            ::kill(busPid_, SIGTERM);
        }
    }

private:
    QProcess logind_;
    pid_t busPid_ = 0;
};

[[maybe_unused]] const auto* const kStandIn =
    ::testing::AddGlobalTestEnvironment(new LogindStandIn);

void setSessionActive(bool active) {
    const QDBusMessage reply = callLogind(kSessionPath, QStringLiteral("UpdateProperties"),
                                          {QStringLiteral("org.freedesktop.login1.Session"),
                                           QVariantMap{{QStringLiteral("Active"), active}}});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
}

TEST(LoginSession, AnotherSessionAtTheSeatGetsTheKeyboardsAndOursTakesThemBack) {
    FakeOpener opener;
    FakeDevice* keyboard = &opener.add("/dev/input/event1");
    bool closed = false;
    bool grabbedAtClose = true;
    keyboard->destroyed = &closed;
    keyboard->grabbedAtClose = &grabbedAtClose;
    RecordingSink* output = nullptr;
    LinuxInput::Options options;
    options.followUdev = false;
    options.devicePaths = {"/dev/input/event1"};
    options.layout = XkbNames{"evdev", "pc105", "us", "", ""};
    options.opener = &opener;
    options.makeOutput = [&output] {
        auto made = std::make_unique<RecordingSink>();
        output = made.get();
        return made;
    };
    LinuxInput input(options);
    MiniEngine engine;
    auto tap = input.tapService().createTap(engine::kKeyEventMask, &MiniEngine::callback, &engine);
    ASSERT_NE(tap, nullptr);
    tap->addToMainLoop();
    tap->enable(true);
    ASSERT_TRUE(keyboard->grabbed);
    keyboard->push({key(KEY_J, 1), syn()});
    ASSERT_TRUE(spinUntil([&] { return !output->out.empty(); }));
    EXPECT_EQ(output->take(), (Out{"+36", "|"}));

    setSessionActive(false);
    ASSERT_TRUE(spinUntil([&] { return closed; })) << "the keyboard is still open";
    EXPECT_FALSE(grabbedAtClose) << "let go before it was closed";
    EXPECT_EQ(output->take(), (Out{"-36", "|"})) << "the key held is released";
    // While the other session has the seat, the keyboard is not opened again.
    keyboard = &opener.add("/dev/input/event1");
    spinUntil([] { return false; }, 300);
    EXPECT_EQ(opener.opens["/dev/input/event1"], 1);

    setSessionActive(true);
    ASSERT_TRUE(spinUntil([&] { return keyboard->grabbed; })) << "not taken again";
    keyboard->push({key(KEY_K, 1), syn()});
    ASSERT_TRUE(spinUntil([&] { return !output->out.empty(); }));
    EXPECT_EQ(output->take(), (Out{"+37", "|"}));
    tap->invalidate();
}

} // namespace
