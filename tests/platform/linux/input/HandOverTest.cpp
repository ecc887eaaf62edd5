// The tap's key thread typing while the main loop changes what it uses: the layout
// of the key text, the bindings and settings, the tap's grab. Each change goes in
// between keys or through the store's snapshot, each action comes out on the main
// thread, the last layout is the one keys type with, and once every key is let go
// the output holds none. Under ThreadSanitizer it checks the hand-overs themselves.
#include "bindings/BindingStore.h"
#include "engine/HyperKeyMonitor.h"
#include "platform/linux/input/FakeInput.h"
#include "platform/linux/input/KeyboardLayoutSource.h"
#include "platform/linux/input/KeyboardTap.h"
#include "platform/linux/input/LinuxInput.h"
#include "support/FakeApplicationDirectory.h"
#include "support/FakePlatformServices.h"
#include "support/InMemoryKeyValueStore.h"

#include <QCoreApplication>
#include <array>
#include <bitset>
#include <gtest/gtest.h>
#include <random>
#include <thread>

using namespace tarnell;
using namespace tarnell::input;
using namespace tarnell::input::testing;

namespace {

constexpr const char* kKeyboardPath = "/dev/input/event1";
constexpr const char* kSUrl = "file:///apps/s.desktop";
constexpr const char* kZUrl = "file:///apps/z.desktop";

class SwitchedLayouts final : public KeyboardLayoutSource {
public:
    void use(const KeyboardLayout& layout) { publish(layout); }
};

// Opens applications, noting whether any was opened off the main thread.
class MainThreadWorkspace final : public engine::Workspace {
public:
    std::optional<std::string> applicationIdentifierAt(std::string_view) override { return {}; }
    std::optional<engine::RunningApplication> frontmostApplication() override { return {}; }
    void hide(const engine::RunningApplication&) override {}
    void openApplication(std::string_view appURL) override {
        offMainThread = offMainThread || std::this_thread::get_id() != mainThread;
        opened.emplace_back(appURL);
    }

    const std::thread::id mainThread = std::this_thread::get_id();
    bool offMainThread = false;
    std::vector<std::string> opened;
};

// What the virtual keyboard holds.
class HeldOutput final : public OutputKeyboard {
public:
    void write(std::span<const input_event> events) override {
        for (const input_event& event : events) {
            if (event.type == EV_KEY) {
                held.set(event.code, event.value != 0);
            }
        }
    }
    [[nodiscard]] int fd() const override { return -1; }
    std::vector<LedChange> readLedChanges() override { return {}; }
    std::bitset<KEY_CNT> held;
};

TEST(KeyThreadHandOver, TypingGoesOnWhileTheMainLoopChangesWhatItUses) {
    int argc = 1;
    char name[] = "input_hand_over_test";
    char* argv[] = {name, nullptr};
    const QCoreApplication application(argc, argv);

    const KeyboardLayout us{XkbKeymap::fromNames({"evdev", "pc105", "us", "", ""}), 0};
    const KeyboardLayout de{XkbKeymap::fromNames({"evdev", "pc105", "de", "", ""}), 0};
    ASSERT_TRUE(us.keymap && de.keymap);
    SwitchedLayouts layouts;
    layouts.use(us);
    FakeOpener opener;
    FakeDevice& keyboard = opener.add(kKeyboardPath);
    HeldOutput* output = nullptr;
    LinuxInput::Options options;
    options.followUdev = false;
    options.followLoginSession = false;
    options.devicePaths = {kKeyboardPath};
    options.opener = &opener;
    options.layoutSource = &layouts;
    options.makeOutput = [&output] {
        auto made = std::make_unique<HeldOutput>();
        output = made.get();
        return made;
    };
    LinuxInput input(options);
    tarnell::testing::InMemoryKeyValueStore defaults;
    tarnell::testing::FakeApplicationDirectory applications;
    auto store = std::make_shared<BindingStore>(defaults, applications);
    tarnell::testing::FakePlatform platform;
    MainThreadWorkspace workspace;
    auto monitor =
        engine::HyperKeyMonitor::create(store, {platform.trust, input.tapService(), platform.timers,
                                                input.keyMapping(), input.lockState(), workspace});
    monitor->start();
    ASSERT_TRUE(monitor->isRunning());
    KeyboardTap& tap = *input.currentTap();

    std::mt19937 random(20261207);
    const std::array<std::uint16_t, 4> letters{KEY_S, KEY_Y, KEY_Z, KEY_J};
    for (int round = 0; round < 400; ++round) {
        // Chords, plain keys and quick taps of Caps Lock, each let go again.
        tap.betweenKeys([&] {
            for (int i = 0; i < 8; ++i) {
                const std::uint16_t code = letters[random() % letters.size()];
                switch (random() % 3) {
                case 0:
                    keyboard.push({key(KEY_CAPSLOCK, 1), syn(), key(code, 1), syn(), key(code, 0),
                                   syn(), key(KEY_CAPSLOCK, 0), syn()});
                    break;
                case 1:
                    keyboard.push({key(code, 1), syn(), key(code, 0), syn()});
                    break;
                default:
                    keyboard.push({key(KEY_CAPSLOCK, 1), syn(), key(KEY_CAPSLOCK, 0), syn()});
                    break;
                }
            }
        });
        // Meanwhile, on the main loop:
        switch (round % 4) {
        case 0:
            layouts.use(round % 8 == 0 ? de : us);
            break;
        case 1:
            store->setBindings({{Uuid::random(), round % 8 == 1 ? "s" : "z", kSUrl},
                                {Uuid::random(), "z", kZUrl}});
            break;
        case 2:
            store->setQuickTapTogglesCapsLock(round % 8 == 2);
            break;
        default:
            tap.enable(false);
            tap.enable(true);
            break;
        }
        QCoreApplication::processEvents();
    }

    // The key labelled Y types "z" in the German layout: with Hyper, it opens what
    // "z" is bound to.
    layouts.use(de);
    store->setBindings({{Uuid::random(), "z", kZUrl}});
    tap.betweenKeys([&] {}); // the last keys of the loop are through
    QCoreApplication::processEvents();
    workspace.opened.clear();
    tap.betweenKeys([&] {
        keyboard.push({key(KEY_CAPSLOCK, 1), syn(), key(KEY_Y, 1), syn(), key(KEY_Y, 0), syn(),
                       key(KEY_CAPSLOCK, 0), syn()});
    });
    tap.betweenKeys([] {});
    QCoreApplication::processEvents();
    EXPECT_EQ(workspace.opened, std::vector<std::string>{kZUrl});
    EXPECT_FALSE(workspace.offMainThread);
    EXPECT_TRUE(tap.betweenKeys([&] { return output->held.none(); }));
    monitor->stop();
}

} // namespace
