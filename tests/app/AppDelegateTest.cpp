#include "app/AppDelegate.h"

#include "ShellFakes.h"
#include "app/TarnellApp.h"
#include "app/TerminationSignals.h"
#include "bindings/BindingStore.h"
#include "engine/HyperKeyMonitor.h"
#include "support/QtApplication.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tarnell::app {
namespace {

using ::testing::Contains;
using testing::FakePlatform;
using testing::ShellFakes;

// A key as the tap delivers it.
class TestKeyEvent final : public engine::KeyEvent {
public:
    TestKeyEvent(std::int64_t keyCode, std::u16string text)
        : keyCode_(keyCode), text_(std::move(text)) {}
    TestKeyEvent(const TestKeyEvent&) = delete;
    TestKeyEvent& operator=(const TestKeyEvent&) = delete;
    virtual ~TestKeyEvent() = default;
    [[nodiscard]] std::int64_t integerValueField(int field) const override {
        return field == engine::kFieldKeycode ? keyCode_ : 0;
    }
    [[nodiscard]] std::uint64_t flags() const override { return flags_; }
    void setFlags(std::uint64_t flags) override { flags_ = flags; }
    int unicodeString(char16_t* buffer, int maxLength) const override {
        const int length = std::min(maxLength, static_cast<int>(text_.size()));
        std::copy_n(text_.begin(), length, buffer);
        return length;
    }

private:
    std::int64_t keyCode_;
    std::u16string text_;
    std::uint64_t flags_ = 0;
};

// Runs the event loop until something ends it; fails instead of hanging.
int runEventLoop() {
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        ADD_FAILURE() << "the event loop did not end";
        QCoreApplication::exit(99);
    });
    watchdog.start(5000);
    return QCoreApplication::exec();
}

class AppDelegateTest : public ::testing::Test, protected ShellFakes {
protected:
    void SetUp() override { testing::qtApplication(); }

    AppDelegate::Dependencies dependencies() { return dependencies(*this); }
    AppDelegate::Dependencies dependencies(ShellFakes& shell) {
        return shell.dependencies(
            [this](BindingStore& store, engine::HyperKeyMonitor& monitor, bool launchesAtLogin) {
                ++formsMade;
                formStore = &store;
                formMonitor = &monitor;
                formLaunchesAtLogin = launchesAtLogin;
                auto form = std::make_unique<QWidget>();
                form->setFixedSize(460, 360);
                return form;
            });
    }

    int formsMade = 0;
    BindingStore* formStore = nullptr;
    engine::HyperKeyMonitor* formMonitor = nullptr;
    bool formLaunchesAtLogin = false;
};

TEST_F(AppDelegateTest, TwoRequestsShowOneWindowMadeOnce) {
    AppDelegate delegate(dependencies());
    EXPECT_EQ(delegate.settingsWindow(), nullptr);

    delegate.showSettingsWindow();
    QWidget* window = delegate.settingsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tarnell Settings"));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    // The window takes the form's size and cannot be resized.
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_EQ(window->size(), QSize(460, 360));

    delegate.showSettingsWindow();
    EXPECT_EQ(delegate.settingsWindow(), window);
    EXPECT_EQ(formsMade, 1);
    EXPECT_EQ(formStore, &delegate.store());
    EXPECT_EQ(formMonitor, &delegate.monitor());
}

TEST_F(AppDelegateTest, ClosingHidesTheWindowAndTheNextRequestBringsTheSameOneBack) {
    loginItems.currentStatus = LoginItemStatus::enabled;
    AppDelegate delegate(dependencies());
    delegate.showSettingsWindow();
    QWidget* window = delegate.settingsWindow();
    ASSERT_NE(window, nullptr);
    const QPointer<QWidget> alive(window);
    window->move(123, 77);
    const QPoint moved = window->pos();

    window->close();
    QCoreApplication::processEvents();
    ASSERT_FALSE(alive.isNull()) << "closing must not destroy the window";
    EXPECT_TRUE(window->isHidden());

    delegate.showSettingsWindow();
    EXPECT_EQ(delegate.settingsWindow(), window);
    EXPECT_TRUE(window->isVisible());
    // Centred only when made; a moved window stays where the user put it.
    EXPECT_EQ(window->pos(), moved);
    EXPECT_EQ(formsMade, 1);
    EXPECT_EQ(loginItems.statusReads, 1);
}

TEST_F(AppDelegateTest, OnlyAnEnabledLoginItemTurnsTheToggleOn) {
    for (const auto& [status, expected] : {std::pair{LoginItemStatus::enabled, true},
                                           std::pair{LoginItemStatus::notRegistered, false},
                                           std::pair{LoginItemStatus::notFound, false}}) {
        loginItems.currentStatus = status;
        AppDelegate delegate(dependencies());
        delegate.showSettingsWindow();
        EXPECT_EQ(formLaunchesAtLogin, expected) << static_cast<int>(status);
    }
}

TEST_F(AppDelegateTest, AReopenRequestShowsTheWindowAndAsksNothingMore) {
    AppDelegate delegate(dependencies());
    delegate.applicationShouldHandleReopen(QStringLiteral("token"));
    ASSERT_NE(delegate.settingsWindow(), nullptr);
    EXPECT_TRUE(delegate.settingsWindow()->isVisible());
    // Off Wayland the token is not put where a later window or child would find it.
    EXPECT_TRUE(qEnvironmentVariable("XDG_ACTIVATION_TOKEN").isEmpty());
}

TEST_F(AppDelegateTest, TheStoreIsMadeAtOnceAndTheMonitorOnceByWhicheverReaderComesFirst) {
    defaults.setData(BindingStore::kBindingsKey,
                     R"([{"id":"6F1A1E2B-3C4D-4E5F-8A9B-0C1D2E3F4A5B","key":"q",)"
                     R"("appURL":"file:///apps/mail.desktop"}])");
    AppDelegate delegate(dependencies());
    ASSERT_EQ(delegate.store().bindings().size(), 1U);
    EXPECT_EQ(fakes.trust.silentChecks, 0) << "no monitor before the first reader";

    delegate.showSettingsWindow();
    engine::HyperKeyMonitor* first = &delegate.monitor();
    EXPECT_EQ(formMonitor, first);
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(&delegate.monitor(), first);
    EXPECT_EQ(&delegate.monitor().store(), &delegate.store());
    EXPECT_EQ(fakes.trust.silentChecks, 1) << "one monitor made";
    delegate.applicationWillTerminate();
}

TEST_F(AppDelegateTest, HyperAndCommaShowTheWindowWhileTheDelegateLives) {
    fakes.trust.trusted = true;
    auto delegate = std::make_unique<AppDelegate>(dependencies());
    delegate->applicationDidFinishLaunching();
    ASSERT_EQ(fakes.taps.log->created, 1);
    const auto& tap = fakes.taps;

    auto press = [&tap](std::int64_t keyCode, std::u16string text) {
        TestKeyEvent down(keyCode, text);
        tap.callback(nullptr, engine::kEventKeyDown, &down, tap.userInfo);
        TestKeyEvent up(keyCode, text);
        tap.callback(nullptr, engine::kEventKeyUp, &up, tap.userInfo);
    };
    TestKeyEvent hyperDown(engine::kHyperTriggerKeyCode, u"");
    tap.callback(nullptr, engine::kEventKeyDown, &hyperDown, tap.userInfo);
    press(43, u",");
    ASSERT_NE(delegate->settingsWindow(), nullptr);
    EXPECT_TRUE(delegate->settingsWindow()->isVisible());
    delegate->applicationWillTerminate();

    // The engine holds the delegate weakly: once the delegate is gone, the chord does
    // nothing (here the test keeps the engine alive past its owner).
    const auto engine = delegate->monitor().shared_from_this();
    delegate.reset();
    fakes.trust.trusted = true;
    engine->start();
    ASSERT_EQ(fakes.taps.log->created, 2);
    const auto& secondTap = fakes.taps; // the latest tap
    TestKeyEvent secondHyper(engine::kHyperTriggerKeyCode, u"");
    secondTap.callback(nullptr, engine::kEventKeyDown, &secondHyper, secondTap.userInfo);
    TestKeyEvent comma(43, u",");
    EXPECT_EQ(secondTap.callback(nullptr, engine::kEventKeyDown, &comma, secondTap.userInfo),
              nullptr);
    engine->stop();
    EXPECT_EQ(formsMade, 1);
}

TEST_F(AppDelegateTest, TheEngineStartsWhenTheLoopRunsAndStopsWhenItEnds) {
    fakes.trust.trusted = true;
    {
        TarnellApp app(dependencies());
        EXPECT_EQ(fakes.taps.log->created, 0) << "nothing starts before the event loop";
        QTimer::singleShot(0, [this] {
            EXPECT_EQ(fakes.taps.log->created, 1);
            QCoreApplication::quit();
        });
        EXPECT_EQ(runEventLoop(), 0);
    }
    ASSERT_EQ(fakes.taps.log->created, 1);
    EXPECT_THAT(fakes.taps.log->calls, Contains("invalidate"));
    ASSERT_EQ(fakes.keyMapping.runs.size(), 2U) << "mapping set, then cleared";
    EXPECT_NE(fakes.keyMapping.runs.front(), fakes.keyMapping.runs.back());
}

TEST_F(AppDelegateTest, EndingWhileWaitingForAccessEndsThePolling) {
    {
        TarnellApp app(dependencies());
        QTimer::singleShot(0, [] { QCoreApplication::quit(); });
        EXPECT_EQ(runEventLoop(), 0);
    }
    EXPECT_EQ(fakes.trust.prompts, 1);
    ASSERT_EQ(fakes.timers.scheduled.size(), 1U);
    EXPECT_EQ(fakes.timers.neverInvalidatedTimers(), 0);
    EXPECT_TRUE(fakes.keyMapping.runs.empty());
}

TEST_F(AppDelegateTest, TerminationSignalsEndTheLoopTheSameWay) {
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        ShellFakes shell;
        FakePlatform& engineFakes = shell.fakes;
        engineFakes.trust.trusted = true;
        {
            TerminationSignals termination;
            QObject::connect(&termination, &TerminationSignals::received,
                             QCoreApplication::instance(), &QCoreApplication::quit);
            TarnellApp app(dependencies(shell));
            QTimer::singleShot(0, [signalNumber] { ::kill(::getpid(), signalNumber); });
            EXPECT_EQ(runEventLoop(), 0) << signalNumber;
        }
        ASSERT_EQ(engineFakes.taps.log->created, 1) << signalNumber;
        EXPECT_THAT(engineFakes.taps.log->calls, Contains("invalidate")) << signalNumber;
        EXPECT_EQ(engineFakes.keyMapping.runs.size(), 2U) << signalNumber;
    }
}

} // namespace
} // namespace tarnell::app
