// Keys that pass while Hyper is not held take no heap memory on their way from the
// keyboard through the engine to the output. Counts every allocation the process
// makes while the events go through.
#include "bindings/BindingStore.h"
#include "engine/HyperKeyMonitor.h"
#include "platform/linux/input/FakeInput.h"
#include "platform/linux/input/KeyboardSet.h"
#include "support/FakeApplicationDirectory.h"
#include "support/FakePlatformServices.h"
#include "support/InMemoryKeyValueStore.h"

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

class CountingSink final : public EventSink {
public:
    void write(std::span<const input_event> events) override { written += events.size(); }
    std::size_t written = 0;
};

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

    // Typing with Shift and repeats, in batches larger than one read.
    int keys = 0;
    for (int round = 0; round < 40; ++round) {
        for (const std::uint16_t code : {KEY_H, KEY_E, KEY_L, KEY_O, KEY_S, KEY_KP1, KEY_F5}) {
            keyboard.push({key(KEY_LEFTSHIFT, round % 2), syn(), key(code, 1), syn(), key(code, 2),
                           syn(), key(code, 0), syn()});
            keys += 3;
        }
    }
    keyboard.push({key(KEY_LEFTSHIFT, 0), syn()});
    const long before = allocations.load();
    keyboards.readable(keyboard, now);
    const long during = allocations.load() - before;

    EXPECT_EQ(during, 0);
    EXPECT_TRUE(keyboard.queue.empty());
    EXPECT_GT(sink.written, static_cast<std::size_t>(keys));
    monitor->stop();
}

} // namespace
