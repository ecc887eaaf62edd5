// Random typing through the real keyboard tap, router and engine, checked after
// every report against what the user can see:
//  - once every key of the keyboard is up, the output holds nothing;
//  - a key the engine passes with the Hyper flags comes out while Shift, Control,
//    Alt and Super are held, any other key with only the modifiers the user holds;
//  - the keyboard's own LED events never come out.
// The seed is printed; TARNELL_TYPING_SEED=<seed> replays a run.
#include "bindings/BindingStore.h"
#include "engine/HyperKeyMonitor.h"
#include "platform/linux/input/FakeInput.h"
#include "platform/linux/input/KeyCodes.h"
#include "platform/linux/input/KeyboardTap.h"
#include "platform/linux/input/LinuxInput.h"
#include "support/FakeApplicationDirectory.h"
#include "support/FakePlatformServices.h"
#include "support/InMemoryKeyValueStore.h"

#include <QCoreApplication>
#include <array>
#include <bitset>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <string>

using namespace tarnell;
using namespace tarnell::input;
using namespace tarnell::input::testing;

namespace {

constexpr int kSequences = 20000;
constexpr int kMaxSteps = 24;
constexpr const char* kKeyboardPath = "/dev/input/event1";

// Ordinary keys ("s" is bound, "," opens the settings, F5 types nothing), the
// trigger, modifiers of both sides and a mouse button of the same device.
constexpr std::array<std::uint16_t, 13> kKeys{
    KEY_J,        KEY_K,         KEY_S,          KEY_COMMA,    KEY_F5,
    KEY_CAPSLOCK, KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_LEFTCTRL, KEY_RIGHTCTRL,
    KEY_LEFTMETA, KEY_RIGHTALT,  BTN_LEFT};

bool isEngineKey(std::uint16_t code) {
    return !isModifierKey(code) && code != KEY_CAPSLOCK && code < BTN_MISC;
}

std::uint64_t modifierFlags(const std::bitset<KEY_CNT>& keys) {
    std::uint64_t flags = 0;
    const auto add = [&](std::uint16_t left, std::uint16_t right, std::uint64_t flag) {
        if (keys.test(left) || keys.test(right)) {
            flags |= flag;
        }
    };
    add(KEY_LEFTSHIFT, KEY_RIGHTSHIFT, engine::kFlagShift);
    add(KEY_LEFTCTRL, KEY_RIGHTCTRL, engine::kFlagControl);
    add(KEY_LEFTALT, KEY_RIGHTALT, engine::kFlagAlt);
    add(KEY_LEFTMETA, KEY_RIGHTMETA, engine::kFlagSuper);
    return flags;
}

// What the engine made of the last key it was shown.
struct Decision {
    bool pending = false;
    std::uint16_t code = 0;
    bool passed = false;
    bool hyper = false;
};

// Hands the engine's own callback to the real tap and notes each decision.
class RecordingTaps final : public engine::EventTapService {
public:
    explicit RecordingTaps(engine::EventTapService& inner) : inner_(inner) {}

    std::unique_ptr<engine::EventTap>
    createTap(std::uint64_t mask, engine::EventTapCallback callback, void* userInfo) override {
        callback_ = callback;
        userInfo_ = userInfo;
        return inner_.createTap(mask, &RecordingTaps::record, this);
    }

    Decision last;

private:
    static engine::KeyEvent* record(void* proxy, std::uint32_t type, engine::KeyEvent* event,
                                    void* userInfo) {
        auto& self = *static_cast<RecordingTaps*>(userInfo);
        engine::KeyEvent* result = self.callback_(proxy, type, event, self.userInfo_);
        if (type == engine::kEventKeyDown || type == engine::kEventKeyUp) {
            const auto hyper = engine::kHyperModifierMask;
            self.last = {true, dynamic_cast<RoutedKeyEvent&>(*event).kernelCode(),
                         result != nullptr,
                         result != nullptr && (result->flags() & hyper) == hyper};
        }
        return result;
    }

    engine::EventTapService& inner_;
    engine::EventTapCallback callback_ = nullptr;
    void* userInfo_ = nullptr;
};

// The virtual keyboard as the desktop sees it: keeps what it holds and checks
// each key as it comes out.
class CheckedOutput final : public OutputKeyboard {
public:
    CheckedOutput(RecordingTaps& taps, const std::bitset<KEY_CNT>& userModifiers)
        : taps_(taps), userModifiers_(userModifiers) {}

    void write(std::span<const input_event> events) override {
        for (const input_event& event : events) {
            if (event.type == EV_LED) {
                fail("an LED event of the keyboard came out");
            }
            if (event.type != EV_KEY) {
                continue;
            }
            if (isEngineKey(event.code) && !releasingAll) {
                checkKey(event.code, event.value);
            }
            held.set(event.code, event.value != 0);
        }
    }
    [[nodiscard]] int fd() const override { return -1; }
    std::vector<LedChange> readLedChanges() override { return {}; }

    std::bitset<KEY_CNT> held;
    bool releasingAll = false;
    std::string failure;

private:
    void checkKey(std::uint16_t code, std::int32_t value) {
        Decision& decision = taps_.last;
        if (!decision.pending || decision.code != code) {
            fail("key " + std::to_string(code) + " came out without the engine seeing it");
            return;
        }
        decision.pending = false;
        if (!decision.passed) {
            if (value != 0) {
                fail("key " + std::to_string(code) + " came out although it was swallowed");
            }
            return; // the release of a key that went down before
        }
        const std::uint64_t flags = modifierFlags(held);
        if (decision.hyper && flags != engine::kHyperModifierMask) {
            fail("key " + std::to_string(code) + " passed with the Hyper flags came out with " +
                 "modifier flags " + std::to_string(flags));
        }
        if (!decision.hyper && flags != modifierFlags(userModifiers_)) {
            fail("key " + std::to_string(code) + " passed plain came out with modifier flags " +
                 std::to_string(flags) + ", the user holds " +
                 std::to_string(modifierFlags(userModifiers_)));
        }
    }
    void fail(const std::string& what) {
        if (failure.empty()) {
            failure = what;
        }
    }

    RecordingTaps& taps_;
    const std::bitset<KEY_CNT>& userModifiers_;
};

std::uint64_t chooseSeed() {
    if (const char* given = std::getenv("TARNELL_TYPING_SEED"); given != nullptr && *given) {
        return std::strtoull(given, nullptr, 10);
    }
    return (static_cast<std::uint64_t>(std::random_device{}()) << 32) | std::random_device{}();
}

class RandomTypingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "input_random_typing_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }

    RandomTypingTest() : input(options()), taps(input.tapService()) {
        store = std::make_shared<BindingStore>(defaults, applications);
        store->setBindings({AppBinding{Uuid::random(), "s", "file:///apps/s.desktop"}});
        monitor = engine::HyperKeyMonitor::create(store, {platform.trust, taps, platform.timers,
                                                          input.keyMapping(), input.lockState(),
                                                          platform.workspace});
    }
    ~RandomTypingTest() override { monitor->stop(); }
    RandomTypingTest(const RandomTypingTest&) = delete;
    RandomTypingTest& operator=(const RandomTypingTest&) = delete;

    LinuxInput::Options options() {
        LinuxInput::Options o;
        o.followUdev = false;
        o.followLoginSession = false;
        o.devicePaths = {kKeyboardPath};
        o.layout = XkbNames{"evdev", "pc105", "us", "", ""};
        o.grabWait = std::chrono::hours(1); // grabbed only with every key up
        o.opener = &opener;
        o.makeOutput = [this] {
            auto made = std::make_unique<CheckedOutput>(taps, routedModifiers);
            output = made.get();
            return made;
        };
        keyboard = &opener.add(kKeyboardPath);
        return o;
    }

    // One report of the keyboard, read the way the tap reads it.
    void deliver(std::initializer_list<input_event> events) {
        const bool routed = input.currentTap()->keyboards().isGrabbed(kKeyboardPath);
        for (const input_event& event : events) {
            if (event.type == EV_KEY) {
                physical.set(event.code, event.value != 0);
                if (routed && isModifierKey(event.code)) {
                    routedModifiers.set(event.code, event.value != 0);
                }
            }
        }
        keyboard->push(events);
        input.currentTap()->keyboards().readable(*keyboard);
    }

    void setTapEnabled(bool enabled) {
        output->releasingAll = !enabled;
        input.currentTap()->enable(enabled);
        output->releasingAll = false;
        if (!enabled) {
            routedModifiers.reset();
        }
    }

    FakeOpener opener;
    FakeDevice* keyboard = nullptr;
    CheckedOutput* output = nullptr;
    std::bitset<KEY_CNT> physical;        // what the user holds
    std::bitset<KEY_CNT> routedModifiers; // the modifiers of those that Tarnell saw go down
    LinuxInput input;
    RecordingTaps taps;
    tarnell::testing::InMemoryKeyValueStore defaults;
    tarnell::testing::FakeApplicationDirectory applications;
    tarnell::testing::FakePlatform platform;
    std::shared_ptr<BindingStore> store;
    std::shared_ptr<engine::HyperKeyMonitor> monitor;
};

} // namespace

TEST_F(RandomTypingTest, NothingStaysHeldAndOnlyHyperKeysCarryTarnellsModifiers) {
    const std::uint64_t seed = chooseSeed();
    std::printf("seed %llu (replay with TARNELL_TYPING_SEED=%llu)\n",
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed));
    std::mt19937_64 random(seed);
    const auto chance = [&random](int percent) {
        return std::uniform_int_distribution<int>(0, 99)(random) < percent;
    };
    const auto pick = [&random](const std::vector<std::uint16_t>& codes) {
        return codes[std::uniform_int_distribution<std::size_t>(0, codes.size() - 1)(random)];
    };
    const auto keysWhere = [this](bool down) {
        std::vector<std::uint16_t> codes;
        for (const std::uint16_t code : kKeys) {
            if (physical.test(code) == down) {
                codes.push_back(code);
            }
        }
        return codes;
    };

    monitor->start();
    ASSERT_TRUE(monitor->isRunning());
    ASSERT_TRUE(input.currentTap()->keyboards().isGrabbed(kKeyboardPath));

    for (int sequence = 0; sequence < kSequences; ++sequence) {
        std::string typed;
        const auto step = [&](std::initializer_list<input_event> events) {
            for (const input_event& event : events) {
                typed += describe(event) + " ";
            }
            deliver(events);
            if (output->failure.empty() && physical.none() && output->held.any()) {
                output->failure = "every key is up, yet the output holds some";
            }
        };
        const int steps = std::uniform_int_distribution<int>(1, kMaxSteps)(random);
        for (int i = 0; i < steps && output->failure.empty(); ++i) {
            const auto up = keysWhere(false);
            const auto down = keysWhere(true);
            const int what = std::uniform_int_distribution<int>(0, 99)(random);
            if (what < 45 && !up.empty()) {
                step({key(pick(up), 1), syn()});
            } else if (what < 70 && !down.empty()) {
                step({key(pick(down), 0), syn()});
            } else if (what < 85 && !down.empty()) {
                step({key(pick(down), 2), syn()});
            } else if (what < 93) {
                // The keyboard reports the LEDs it was told to show.
                step({ev(EV_LED, LED_CAPSL, chance(50) ? 1 : 0), syn()});
            } else if (what < 98) {
                step({ev(EV_REL, REL_X, 3), syn()});
            } else {
                typed += "(tap off and on) ";
                setTapEnabled(false);
                setTapEnabled(true);
            }
        }
        // The user lets go of everything, in any order.
        for (auto down = keysWhere(true); !down.empty() && output->failure.empty();
             down = keysWhere(true)) {
            step({key(pick(down), 0), syn()});
        }
        if (!output->failure.empty()) {
            ADD_FAILURE() << output->failure << "\nseed " << seed << ", sequence " << sequence
                          << ": " << typed;
            break;
        }
    }
}
