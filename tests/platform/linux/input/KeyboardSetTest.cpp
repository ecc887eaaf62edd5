#include "platform/linux/input/KeyboardSet.h"

#include "platform/linux/input/FakeInput.h"
#include "platform/linux/input/MiniEngine.h"
#include "platform/linux/input/StallDetector.h"
#include "platform/linux/input/VirtualKeyboardIdentity.h"

#include <gtest/gtest.h>

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
    StallGuardPage guard;
    FakeOpener opener;
    KeyboardSet keyboards{
        opener, router, guard,
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

TEST_F(KeyboardSetTest, AfterTheGuardLetGoNothingIsForwardedTwiceAndGrabbingWaitsForEnable) {
    FakeDevice& keyboard = addKeyboard("/dev/input/event1");
    keyboards.setGrabbing(true, t0);
    EXPECT_EQ(guard.armed.load(), 1U) << "the guard watches only while grabbing is on";
    deliver(keyboard, {key(KEY_J, 1), syn()}, t0);
    EXPECT_EQ(guard.serviced.load(), 1U);
    sink.take();
    EXPECT_FALSE(keyboards.takeStall()) << "no stall yet";

    // The guard let go (its own descriptions of the devices, its own process).
    guard.state = StallGuardPage::kLetGo;
    deliver(keyboard, {key(KEY_J, 0), syn()}, t0);
    EXPECT_TRUE(sink.out.empty()) << "what arrives after the release went to the desktop";
    keyboard.push({key(KEY_Z, 1), key(KEY_Z, 0), syn()}); // typed meanwhile, not yet read
    EXPECT_TRUE(keyboards.takeStall());
    EXPECT_FALSE(keyboard.grabbed);
    EXPECT_TRUE(keyboard.queue.empty()) << "waiting input is discarded, not typed again later";
    EXPECT_EQ(guard.state.load(), StallGuardPage::kHolding);
    EXPECT_EQ(guard.armed.load(), 0U);
    EXPECT_FALSE(keyboards.takeStall()) << "once";
    EXPECT_EQ(sink.take(), (Out{"-36", "|"})) << "the router lets go of what it held";

    deliver(keyboard, {key(KEY_Q, 1), key(KEY_Q, 0), syn()}, t0 + 1s);
    EXPECT_TRUE(sink.out.empty()) << "not grabbed until enabled again";
    keyboards.setGrabbing(true, t0 + 2s);
    EXPECT_TRUE(keyboard.grabbed);
    deliver(keyboard, {key(KEY_G, 1), syn()}, t0 + 2s);
    EXPECT_EQ(sink.take(), (Out{"+34", "|"}));
}

TEST(StallDetector, FiresOnlyWhenInputWaitsUntakenForTheTimeout) {
    using Clock = StallDetector::Clock;
    const Clock::time_point t0{};
    StallDetector detector(1s);
    EXPECT_FALSE(detector.check(t0, false, 0));
    EXPECT_FALSE(detector.check(t0 + 5s, false, 0)) << "nothing waiting is no stall";
    EXPECT_FALSE(detector.check(t0 + 5s, true, 0));
    EXPECT_FALSE(detector.check(t0 + 5900ms, true, 0));
    EXPECT_TRUE(detector.check(t0 + 6s, true, 0));

    detector.reset();
    EXPECT_FALSE(detector.check(t0 + 10s, true, 0));
    std::uint64_t serviced = 0;
    for (int i = 1; i <= 8; ++i) { // a busy loop that keeps taking input
        EXPECT_FALSE(detector.check(t0 + 10s + i * 500ms, true, ++serviced));
    }
    EXPECT_FALSE(detector.check(t0 + 14500ms, true, serviced));
    EXPECT_TRUE(detector.check(t0 + 15s, true, serviced));
}
