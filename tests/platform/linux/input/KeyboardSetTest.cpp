#include "platform/linux/input/KeyboardSet.h"

#include "platform/linux/input/FakeInput.h"
#include "platform/linux/input/MiniEngine.h"
#include "platform/linux/input/StallWatchdog.h"
#include "platform/linux/input/VirtualKeyboardIdentity.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace tarnell;
using namespace tarnell::input;
using namespace tarnell::input::testing;
using namespace std::chrono_literals;
using Out = std::vector<std::string>;

namespace {

class KeyboardSetTest : public ::testing::Test {
protected:
    KeyboardSetTest() { router.setCallback(&MiniEngine::callback, &engine); }

    FakeDevice& addKeyboard(const std::string& path) {
        FakeDevice& device = opener.add(path);
        keyboards.add(path, t0);
        return device;
    }
    void deliver(FakeDevice& device, std::initializer_list<input_event> events,
                 KeyboardSet::Clock::time_point now) {
        device.push(events);
        keyboards.readable(device, now);
    }

    const KeyboardSet::Clock::time_point t0{};
    RecordingSink sink;
    FakeText text;
    KeyMap map;
    MiniEngine engine;
    KeyRouter router{sink, text, map};
    StallDetector stall{1s};
    FakeOpener opener;
    KeyboardSet keyboards{
        opener, router, stall,
        KeyboardSet::Options{.grabWait = 1s, .openRetryInterval = 100ms, .openAttempts = 5}};
};

} // namespace

TEST_F(KeyboardSetTest, GrabsOnlyOnceNoKeyIsDownOrTheWaitRunsOut) {
    FakeDevice& calm = addKeyboard("/dev/input/event1");
    FakeDevice& busy = opener.add("/dev/input/event2");
    busy.down.insert(KEY_A);
    keyboards.add("/dev/input/event2", t0);
    keyboards.setGrabbing(true, t0);
    EXPECT_TRUE(calm.grabbed);
    EXPECT_FALSE(busy.grabbed);
    EXPECT_TRUE(keyboards.hasPendingWork());

    // Its key-up still goes to the desktop directly; then it is taken.
    deliver(busy, {key(KEY_A, 0), syn()}, t0 + 200ms);
    EXPECT_TRUE(busy.grabbed);
    EXPECT_TRUE(engine.seen.empty());
    EXPECT_FALSE(keyboards.hasPendingWork());

    FakeDevice& stuck = opener.add("/dev/input/event3");
    stuck.down.insert(KEY_B);
    keyboards.add("/dev/input/event3", t0 + 300ms);
    keyboards.tick(t0 + 900ms);
    EXPECT_FALSE(stuck.grabbed);
    keyboards.tick(t0 + 1300ms);
    EXPECT_TRUE(stuck.grabbed) << "the wait for key-ups is bounded";
}

TEST_F(KeyboardSetTest, ASecondKeyboardPluggedInLaterIsCapturedToo) {
    FakeDevice& first = addKeyboard("/dev/input/event1");
    keyboards.setGrabbing(true, t0);
    FakeDevice& second = addKeyboard("/dev/input/event7");
    EXPECT_TRUE(second.grabbed);
    deliver(second, {key(KEY_J, 1), syn()}, t0);
    deliver(first, {key(KEY_K, 1), syn()}, t0);
    EXPECT_EQ(sink.take(), (Out{"+36", "|", "+37", "|"}));
    EXPECT_EQ(keyboards.size(), 2U);
}

TEST_F(KeyboardSetTest, ANodeNotReadableYetIsRetriedBriefly) {
    opener.add("/dev/input/event4");
    opener.failures["/dev/input/event4"] = 2;
    keyboards.setGrabbing(true, t0);
    keyboards.add("/dev/input/event4", t0);
    EXPECT_EQ(keyboards.size(), 0U);
    EXPECT_TRUE(keyboards.tick(t0 + 50ms));
    EXPECT_EQ(opener.opens["/dev/input/event4"], 1) << "not before the retry interval";
    keyboards.tick(t0 + 100ms);
    keyboards.tick(t0 + 200ms);
    EXPECT_EQ(keyboards.size(), 1U);
    EXPECT_TRUE(keyboards.isGrabbed("/dev/input/event4"));

    keyboards.add("/dev/input/event9", t0); // never appears
    for (int i = 1; i <= 10; ++i) {
        keyboards.tick(t0 + i * 100ms);
    }
    EXPECT_EQ(opener.opens["/dev/input/event9"], 5);
    EXPECT_FALSE(keyboards.hasPendingWork());
}

TEST_F(KeyboardSetTest, OurOwnAndNonKeyboardDevicesAreLeftAlone) {
    bool virtualClosed = false;
    opener
        .add("/dev/input/event10",
             {std::string(kVirtualKeyboardName), BUS_VIRTUAL, kVirtualVendor, kVirtualProduct})
        .destroyed = &virtualClosed;
    opener.add("/dev/input/event11", {"Tarnell something else", BUS_VIRTUAL, 1, 1});
    opener.add("/dev/input/event12", {"A mouse", BUS_USB, 5, 6}, false);
    opener.add("/dev/input/event13", {"Hotkeys", BUS_HOST, 7, 8}, false);
    keyboards.setGrabbing(true, t0);
    keyboards.add("/dev/input/event10", t0, true);
    keyboards.add("/dev/input/event11", t0, true);
    keyboards.add("/dev/input/event12", t0);
    keyboards.add("/dev/input/event13", t0, true);
    EXPECT_TRUE(virtualClosed);
    EXPECT_EQ(keyboards.size(), 1U);
    EXPECT_TRUE(keyboards.isGrabbed("/dev/input/event13")) << "udev says it is a keyboard";
}

TEST_F(KeyboardSetTest, DisablingLetsGoAndReleasesEveryKeyHeld) {
    map.set({{KEY_CAPSLOCK, KEY_F18}});
    FakeDevice& keyboard = addKeyboard("/dev/input/event1");
    keyboards.setGrabbing(true, t0);
    deliver(keyboard, {key(KEY_CAPSLOCK, 1), syn(), key(KEY_J, 1), syn()}, t0);
    sink.take();
    keyboards.setGrabbing(false, t0);
    EXPECT_FALSE(keyboard.grabbed);
    const auto released = sink.take();
    for (const char* expected : {"-36", "-42", "-29", "-56", "-125"}) {
        EXPECT_NE(std::find(released.begin(), released.end(), expected), released.end())
            << expected;
    }
    const auto seen = engine.seen.size();
    deliver(keyboard, {key(KEY_J, 0), syn(), key(KEY_K, 1), syn()}, t0);
    EXPECT_EQ(engine.seen.size(), seen) << "the desktop has the keys now";
    EXPECT_TRUE(sink.out.empty());

    keyboards.setGrabbing(true, t0 + 1s);
    EXPECT_FALSE(keyboard.grabbed) << "K and Caps Lock are still down";
    deliver(keyboard, {key(KEY_K, 0), key(KEY_CAPSLOCK, 0), syn()}, t0 + 1100ms);
    EXPECT_TRUE(keyboard.grabbed);
}

TEST_F(KeyboardSetTest, AKeyboardUnpluggedWithAKeyDownLeavesNothingHeld) {
    FakeDevice& keyboard = addKeyboard("/dev/input/event1");
    keyboards.setGrabbing(true, t0);
    deliver(keyboard, {key(KEY_J, 1), syn()}, t0);
    sink.take();
    keyboard.gone = true;
    keyboards.readable(keyboard, t0);
    EXPECT_EQ(sink.take(), (Out{"-36", "|"}));
    EXPECT_EQ(keyboards.size(), 0U);
    EXPECT_FALSE(router.outputHolds(KEY_J));
}

TEST_F(KeyboardSetTest, TheDesktopsLedsAreMirroredOntoEveryKeyboard) {
    FakeDevice& first = addKeyboard("/dev/input/event1");
    first.leds[LED_CAPSL] = true; // what the desktop set before Tarnell came
    EXPECT_TRUE(keyboards.capsLockLed());
    keyboards.mirrorLed(LED_CAPSL, false);
    keyboards.mirrorLed(LED_NUML, true);
    EXPECT_FALSE(first.leds[LED_CAPSL]);
    EXPECT_TRUE(first.leds[LED_NUML]);
    EXPECT_FALSE(keyboards.capsLockLed());
    FakeDevice& second = addKeyboard("/dev/input/event2");
    EXPECT_FALSE(second.leds[LED_CAPSL]);
    EXPECT_TRUE(second.leds[LED_NUML]) << "a new keyboard shows the state at once";
    keyboards.mirrorLed(LED_CAPSL, true);
    EXPECT_TRUE(keyboards.capsLockLed());
    EXPECT_TRUE(first.leds[LED_CAPSL]);
    EXPECT_TRUE(second.leds[LED_CAPSL]);
}

TEST_F(KeyboardSetTest, AStallLetsTheKeyboardsGoUntilTheTapIsEnabledAgain) {
    FakeDevice& keyboard = addKeyboard("/dev/input/event1");
    keyboards.setGrabbing(true, t0);
    deliver(keyboard, {key(KEY_J, 1), syn()}, t0);
    sink.take();
    EXPECT_FALSE(keyboards.takeStall());
    keyboards.releaseForStall(); // from the watchdog thread
    EXPECT_FALSE(keyboard.grabbed);
    deliver(keyboard, {key(KEY_J, 0), syn()}, t0);
    EXPECT_TRUE(sink.out.empty()) << "what arrives after the release went to the desktop";
    EXPECT_TRUE(keyboards.takeStall());
    EXPECT_FALSE(keyboards.takeStall());
    EXPECT_EQ(sink.take(), (Out{"-36", "|"}));
    keyboards.setGrabbing(true, t0 + 2s);
    EXPECT_TRUE(keyboard.grabbed);
}

TEST(StallDetector, FiresOnlyWhenInputWaitsUntakenForTheTimeout) {
    using Clock = StallDetector::Clock;
    const Clock::time_point t0{};
    StallDetector detector(1s);
    EXPECT_FALSE(detector.check(t0, false));
    EXPECT_FALSE(detector.check(t0 + 5s, false)) << "nothing waiting is no stall";
    EXPECT_FALSE(detector.check(t0 + 5s, true));
    EXPECT_FALSE(detector.check(t0 + 5900ms, true));
    EXPECT_TRUE(detector.check(t0 + 6s, true));

    detector.reset();
    EXPECT_FALSE(detector.check(t0 + 10s, true));
    for (int i = 1; i <= 8; ++i) { // a busy loop that keeps taking input
        detector.serviced();
        EXPECT_FALSE(detector.check(t0 + 10s + i * 500ms, true));
    }
    EXPECT_FALSE(detector.check(t0 + 14500ms, true));
    EXPECT_TRUE(detector.check(t0 + 15s, true));
}

TEST_F(KeyboardSetTest, TheWatchdogReleasesTheGrabsOfAStalledLoop) {
    StallDetector quick(60ms);
    KeyboardSet set(opener, router, quick);
    FakeDevice& keyboard = opener.add("/dev/input/event1");
    set.add("/dev/input/event1", KeyboardSet::Clock::now());
    set.setGrabbing(true, KeyboardSet::Clock::now());
    ASSERT_TRUE(keyboard.grabbed);
    std::atomic<int> calls{0};
    StallWatchdog watchdog(set, quick, [&calls] { ++calls; });

    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(calls, 0) << "no input waiting: no stall";
    keyboard.push({key(KEY_J, 1), syn()}); // and nobody reads it
    for (int i = 0; i < 100 && calls == 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(set.takeStall());
    EXPECT_FALSE(set.isGrabbed("/dev/input/event1"));
}
