// The monitor's states: idle, waiting for access, running; and what each action
// inside the tap's callback reaches.
#include "engine/HyperKeyMonitor.h"
#include "support/FakeApplicationDirectory.h"
#include "support/FakeKeyEvent.h"
#include "support/FakePlatformServices.h"
#include "support/InMemoryKeyValueStore.h"

#include <gtest/gtest.h>

namespace tarnell::engine {
namespace {

using testing::FakeKeyEvent;

class MonitorLifecycle : public ::testing::Test {
protected:
    MonitorLifecycle() {
        store = std::make_shared<BindingStore>(defaults, applications);
        store->setBindings({{Uuid::random(), "s", "file:///apps/s.desktop"}});
    }

    std::shared_ptr<HyperKeyMonitor> makeMonitor() {
        auto monitor = HyperKeyMonitor::create(store, platform.services());
        published = std::make_unique<ChangeNotifier::Subscription>(
            monitor->changes().subscribe([this] { ++publications; }));
        return monitor;
    }

    // Delivers one event through the tap's registered callback.
    KeyEvent* deliver(std::uint32_t type, std::int64_t keycode, std::u16string text = u"") {
        event = FakeKeyEvent{};
        event.keycode = keycode;
        event.text = std::move(text);
        return platform.taps.callback(nullptr, type, &event, platform.taps.userInfo);
    }

    int remappings(bool enabled) const {
        int n = 0;
        for (const auto& run : platform.keyMapping.runs) {
            n += run.at(2) == HyperKeyMonitor::remappingText(enabled) ? 1 : 0;
        }
        return n;
    }

    testing::InMemoryKeyValueStore defaults;
    testing::FakeApplicationDirectory applications;
    std::shared_ptr<BindingStore> store;
    testing::FakePlatform platform;
    std::unique_ptr<ChangeNotifier::Subscription> published;
    int publications = 0;
    FakeKeyEvent event;
};

TEST_F(MonitorLifecycle, CreationAsksSilentlyAndStartsIdle) {
    platform.trust.trusted = false;
    auto monitor = makeMonitor();
    EXPECT_FALSE(monitor->isTrusted());
    EXPECT_FALSE(monitor->isRunning());
    EXPECT_EQ(platform.trust.prompts, 0);
    EXPECT_EQ(platform.trust.silentChecks, 1);
}

TEST_F(MonitorLifecycle, StartWithAccessInstallsTapThenRemaps) {
    auto monitor = makeMonitor();
    monitor->start();
    EXPECT_TRUE(monitor->isRunning());
    EXPECT_TRUE(monitor->isTrusted());
    EXPECT_EQ(platform.trust.prompts, 1);
    EXPECT_EQ(platform.taps.mask, 0xC00u);
    EXPECT_EQ(platform.taps.userInfo, monitor.get());
    EXPECT_EQ(platform.taps.log->calls, (std::vector<std::string>{"add", "enable"}));
    ASSERT_EQ(platform.keyMapping.runs.size(), 1u);
    EXPECT_EQ(
        platform.keyMapping.runs[0],
        (std::vector<std::string>{"property", "--set", HyperKeyMonitor::remappingText(true)}));
    EXPECT_EQ(platform.timers.liveValidTimers(), 0);
}

TEST_F(MonitorLifecycle, SecondStartWhileRunningChangesNothing) {
    auto monitor = makeMonitor();
    monitor->start();
    monitor->start();
    EXPECT_EQ(platform.taps.log->created, 1);
    EXPECT_EQ(platform.keyMapping.runs.size(), 1u);
    EXPECT_EQ(platform.trust.prompts, 1);
}

TEST_F(MonitorLifecycle, WithoutAccessPromptsAndPollsEverySecond) {
    platform.trust.trusted = false;
    auto monitor = makeMonitor();
    monitor->start();
    EXPECT_FALSE(monitor->isRunning());
    EXPECT_EQ(platform.trust.prompts, 1);
    ASSERT_EQ(platform.timers.scheduled.size(), 1u);
    EXPECT_EQ(platform.timers.scheduled[0].interval, std::chrono::milliseconds(1000));
    platform.timers.tick();
    platform.timers.tick();
    EXPECT_FALSE(monitor->isRunning());
    EXPECT_EQ(platform.taps.log->created, 0);
    EXPECT_EQ(platform.trust.prompts, 1); // ticks never prompt
}

TEST_F(MonitorLifecycle, StartWhileWaitingLeavesExactlyOneTimer) {
    platform.trust.trusted = false;
    auto monitor = makeMonitor();
    monitor->start();
    monitor->start();
    EXPECT_EQ(platform.timers.scheduled.size(), 2u);
    EXPECT_EQ(platform.timers.liveValidTimers(), 1);
    EXPECT_EQ(platform.trust.prompts, 2);
}

TEST_F(MonitorLifecycle, AccessGrantedWhileWaitingStartsAtTheNextTick) {
    platform.trust.trusted = false;
    auto monitor = makeMonitor();
    monitor->start();
    platform.trust.trusted = true;
    publications = 0;
    platform.timers.tick();
    EXPECT_TRUE(monitor->isTrusted());
    EXPECT_TRUE(monitor->isRunning());
    EXPECT_EQ(platform.taps.log->created, 1);
    EXPECT_EQ(remappings(true), 1);
    EXPECT_EQ(platform.timers.liveValidTimers(), 0);
    EXPECT_GE(publications, 2); // isTrusted, the prompt's answer, isRunning
}

TEST_F(MonitorLifecycle, TrustedMeanwhileRunsAndTheNextTickEndsTheTimer) {
    platform.trust.trusted = false;
    auto monitor = makeMonitor();
    monitor->start();
    platform.trust.trusted = true;
    monitor->start();
    EXPECT_TRUE(monitor->isRunning());
    EXPECT_EQ(platform.timers.liveValidTimers(), 1); // still scheduled
    platform.timers.tick();
    EXPECT_EQ(platform.timers.liveValidTimers(), 0);
    EXPECT_EQ(platform.taps.log->created, 1); // the tick's start did nothing
    EXPECT_EQ(remappings(true), 1);
}

TEST_F(MonitorLifecycle, StopWhileWaitingEndsTheTimerWithoutRemapping) {
    platform.trust.trusted = false;
    auto monitor = makeMonitor();
    monitor->start();
    monitor->stop();
    EXPECT_EQ(platform.timers.liveValidTimers(), 0);
    EXPECT_TRUE(platform.keyMapping.runs.empty());
    platform.trust.trusted = true;
    platform.timers.tick();
    EXPECT_FALSE(monitor->isRunning());
}

TEST_F(MonitorLifecycle, StopWithoutStartOnlyPublishes) {
    auto monitor = makeMonitor();
    publications = 0;
    monitor->stop();
    EXPECT_EQ(publications, 1);
    EXPECT_FALSE(monitor->isRunning());
    EXPECT_TRUE(platform.keyMapping.runs.empty());
}

TEST_F(MonitorLifecycle, StopWhileRunningRemovesTapThenClearsMapping) {
    auto monitor = makeMonitor();
    monitor->start();
    monitor->stop();
    EXPECT_FALSE(monitor->isRunning());
    EXPECT_EQ(platform.taps.log->calls,
              (std::vector<std::string>{"add", "enable", "disable", "invalidate", "remove"}));
    EXPECT_EQ(platform.taps.log->live, 0);
    EXPECT_EQ(remappings(false), 1);
    monitor->stop();
    EXPECT_EQ(remappings(false), 1); // only once per transition to stopped
}

TEST_F(MonitorLifecycle, StartAfterStopMakesANewTapAndRemapsAgain) {
    auto monitor = makeMonitor();
    monitor->start();
    monitor->stop();
    monitor->start();
    EXPECT_TRUE(monitor->isRunning());
    EXPECT_EQ(platform.taps.log->created, 2);
    EXPECT_EQ(remappings(true), 2);
}

TEST_F(MonitorLifecycle, UncreatableTapLeavesItIdleAndTrusted) {
    platform.taps.canCreate = false;
    auto monitor = makeMonitor();
    monitor->start();
    EXPECT_TRUE(monitor->isTrusted());
    EXPECT_FALSE(monitor->isRunning());
    EXPECT_TRUE(platform.keyMapping.runs.empty());
    EXPECT_EQ(platform.timers.liveValidTimers(), 0);
}

TEST_F(MonitorLifecycle, FailedMappingUtilityStillCountsAsRunning) {
    platform.keyMapping.launches = false;
    auto monitor = makeMonitor();
    monitor->start();
    EXPECT_TRUE(monitor->isRunning());
}

TEST_F(MonitorLifecycle, StopReleasesHyperButKeepsUse) {
    auto monitor = makeMonitor();
    monitor->start();
    deliver(kEventKeyDown, kHyperTriggerKeyCode);
    deliver(kEventKeyDown, 38, u"j");
    monitor->stop();
    EXPECT_FALSE(monitor->hyperState().isHyperDown);
    EXPECT_TRUE(monitor->hyperState().wasHyperUsed);
}

TEST_F(MonitorLifecycle, TimerTickAfterTheMonitorIsGoneDoesNothing) {
    platform.trust.trusted = false;
    auto monitor = makeMonitor();
    monitor->start();
    // Keep the timer alive beyond the monitor, as a loop that has not run yet would.
    auto timer = platform.timers.scheduled[0].timer.lock();
    monitor.reset();
    platform.trust.trusted = true;
    timer->block(*timer);
    EXPECT_EQ(platform.taps.log->created, 0);
}

TEST_F(MonitorLifecycle, CallbackCarriesOutEachAction) {
    auto monitor = makeMonitor();
    int settingsOpened = 0;
    monitor->setOnOpenSettings([&] { ++settingsOpened; });
    monitor->start();
    platform.taps.log->calls.clear();

    EXPECT_EQ(deliver(kEventTapDisabledByTimeout, 0), &event);
    EXPECT_EQ(platform.taps.log->calls, (std::vector<std::string>{"enable"}));

    EXPECT_EQ(deliver(kEventKeyDown, kHyperTriggerKeyCode), nullptr);
    EXPECT_EQ(deliver(kEventKeyDown, 1, u"s"), nullptr);
    EXPECT_EQ(platform.workspace.opened, (std::vector<std::string>{"file:///apps/s.desktop"}));
    EXPECT_EQ(deliver(kEventKeyDown, 43, u","), nullptr);
    EXPECT_EQ(settingsOpened, 1);
    EXPECT_EQ(deliver(kEventKeyUp, kHyperTriggerKeyCode), nullptr);
    EXPECT_EQ(platform.lockState.opens, 0); // used: no toggle

    deliver(kEventKeyDown, kHyperTriggerKeyCode);
    deliver(kEventKeyUp, kHyperTriggerKeyCode);
    EXPECT_TRUE(platform.lockState.locked);

    EXPECT_EQ(deliver(kEventKeyDown, 38, u"j"), &event);
    EXPECT_EQ(event.eventFlags, 0u);
}

TEST_F(MonitorLifecycle, NullUserInfoHandsTheEventOn) {
    FakeKeyEvent e;
    e.keycode = kHyperTriggerKeyCode;
    EXPECT_EQ(HyperKeyMonitor::eventTapCallback(nullptr, kEventKeyDown, &e, nullptr), &e);
}

TEST_F(MonitorLifecycle, ReenableWithoutTapDoesNothing) {
    auto monitor = makeMonitor();
    FakeKeyEvent e;
    EXPECT_EQ(monitor->handleEvent(kEventTapDisabledByUserInput, e), &e);
    EXPECT_TRUE(platform.taps.log->calls.empty());
}

} // namespace
} // namespace tarnell::engine
