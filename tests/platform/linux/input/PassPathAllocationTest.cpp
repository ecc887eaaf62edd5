// Keys that pass while Hyper is not held take no heap memory on their way from the
// keyboard through the engine to the output. Counts every allocation the process
// makes while the events go through.
#include "bindings/BindingStore.h"
#include "engine/HyperKeyMonitor.h"
#include "platform/linux/input/FakeInput.h"
#include "platform/linux/input/KeyboardSet.h"
#include "platform/linux/input/KeyboardTap.h"
#include "platform/linux/input/LinuxInput.h"
#include "support/FakeApplicationDirectory.h"
#include "support/FakePlatformServices.h"
#include "support/InMemoryKeyValueStore.h"

#include <QCoreApplication>
#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>

namespace {
std::atomic<long> allocations{0};
}

// The replacements pair malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#pragma GCC diagnostic ignored "-Wrestrict"

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

using namespace tarnell;
using namespace tarnell::input;
using namespace tarnell::input::testing;

namespace {

class CountingSink final : public OutputKeyboard {
public:
    void write(std::span<const input_event> events) override { written += events.size(); }
    [[nodiscard]] int fd() const override { return -1; }
    std::vector<LedChange> readLedChanges() override { return {}; }
    std::size_t written = 0;
};

// Typing with Shift and repeats, in batches larger than one read; returns the keys.
int typeInto(FakeDevice& keyboard) {
    int keys = 0;
    for (int round = 0; round < 40; ++round) {
        for (const std::uint16_t code : {KEY_H, KEY_E, KEY_L, KEY_O, KEY_S, KEY_KP1, KEY_F5}) {
            keyboard.push({key(KEY_LEFTSHIFT, round % 2), syn(), key(code, 1), syn(), key(code, 2),
                           syn(), key(code, 0), syn()});
            keys += 3;
        }
    }
    keyboard.push({key(KEY_LEFTSHIFT, 0), syn()});
    return keys;
}

TEST(InputPassPath, AllocatesNothingFromKeyboardToOutput) {
    tarnell::testing::InMemoryKeyValueStore defaults;
    tarnell::testing::FakeApplicationDirectory applications;
    auto store = std::make_shared<BindingStore>(defaults, applications);
    store->setBindings({{Uuid::random(), "s", "file:///apps/s.desktop"}});
    tarnell::testing::FakePlatform platform;
    auto monitor = engine::HyperKeyMonitor::create(store, platform.services());
    monitor->start();
    ASSERT_TRUE(monitor->isRunning());

    CountingSink sink;
    FakeText text;
    text.fed.reserve(1024); // the fake records what it is fed
    KeyMap map;
    map.set({{KEY_CAPSLOCK, KEY_F18}});
    KeyRouter router(sink, text, map);
    router.setCallback(&engine::HyperKeyMonitor::eventTapCallback, monitor.get());
    StallGuardPage guard;
    FakeOpener opener;
    FakeDevice& keyboard = opener.add("/dev/input/event1");
    KeyboardSet keyboards(opener, router, guard);
    const auto now = KeyboardSet::Clock::now();
    keyboards.add("/dev/input/event1", now);
    keyboards.setGrabbing(true, now);
    ASSERT_TRUE(keyboard.grabbed);

    const int keys = typeInto(keyboard);
    const long before = allocations.load();
    keyboards.readable(keyboard, now);
    const long during = allocations.load() - before;

    EXPECT_EQ(during, 0);
    EXPECT_TRUE(keyboard.queue.empty());
    EXPECT_GT(sink.written, static_cast<std::size_t>(keys));
    monitor->stop();
}

// The same through the tap, whose key thread wakes for the keyboard, reads it and
// hands its keys to the engine: the wakeup takes nothing either.
TEST(InputPassPath, AllocatesNothingOnTheKeyThread) {
    int argc = 1;
    char name[] = "input_pass_path_allocation_test";
    char* argv[] = {name, nullptr};
    const QCoreApplication application(argc, argv);
    tarnell::testing::InMemoryKeyValueStore defaults;
    tarnell::testing::FakeApplicationDirectory applications;
    auto store = std::make_shared<BindingStore>(defaults, applications);
    store->setBindings({{Uuid::random(), "s", "file:///apps/s.desktop"}});
    tarnell::testing::FakePlatform platform;
    FakeOpener opener;
    FakeDevice& keyboard = opener.add("/dev/input/event1");
    CountingSink* output = nullptr;
    LinuxInput::Options options;
    options.followUdev = false;
    options.followLoginSession = false;
    options.devicePaths = {"/dev/input/event1"};
    options.layout = XkbNames{"evdev", "pc105", "us", "", ""};
    options.opener = &opener;
    options.makeOutput = [&output] {
        auto made = std::make_unique<CountingSink>();
        output = made.get();
        return made;
    };
    LinuxInput input(options);
    auto monitor = engine::HyperKeyMonitor::create(store, {platform.trust, input.tapService(),
                                                           platform.timers, input.keyMapping(),
                                                           input.lockState(), platform.workspace});
    monitor->start();
    ASSERT_TRUE(monitor->isRunning());
    KeyboardTap& tap = *input.currentTap();
    ASSERT_TRUE(keyboard.grabbed);

    int keys = 0;
    long before = 0;
    tap.betweenKeys([&] {
        keys = typeInto(keyboard);
        before = allocations.load();
    });
    tap.betweenKeys([] {}); // back once the key thread has taken it all
    const long during = allocations.load() - before;

    EXPECT_EQ(during, 0);
    EXPECT_TRUE(keyboard.queue.empty());
    EXPECT_GT(output->written, static_cast<std::size_t>(keys));
    monitor->stop();
}

} // namespace
