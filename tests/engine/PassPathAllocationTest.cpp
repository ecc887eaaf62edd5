// The path of a key other than the trigger while Hyper is not held takes no heap
// memory. Counts every allocation the process makes while events go through.
#include "engine/HyperKeyMonitor.h"
#include "support/FakeApplicationDirectory.h"
#include "support/FakeKeyEvent.h"
#include "support/FakePlatformServices.h"
#include "support/InMemoryKeyValueStore.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>
#include <random>

namespace {
std::atomic<long> allocations{0};
}

// The replacements pair malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
// GCC 12 reports a false overlap in std::u16string copies once operator new is replaced.
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

namespace tarnell::engine {
namespace {

TEST(PassPath, AllocatesNothingOverManyRandomEvents) {
    testing::InMemoryKeyValueStore defaults;
    testing::FakeApplicationDirectory applications;
    auto store = std::make_shared<BindingStore>(defaults, applications);
    store->setBindings({{Uuid::random(), "s", "file:///apps/s.desktop"}});
    testing::FakePlatform platform;
    auto monitor = HyperKeyMonitor::create(store, platform.services());
    monitor->setOnOpenSettings([] {});
    monitor->start();
    ASSERT_TRUE(monitor->isRunning());

    std::mt19937_64 random(12345);
    std::uniform_int_distribution<std::int64_t> keycodes(0, 127);
    std::vector<testing::FakeKeyEvent> events(100'000);
    for (auto& event : events) {
        do {
            event.keycode = keycodes(random);
        } while (event.keycode == kHyperTriggerKeyCode);
        event.autorepeat = static_cast<std::int64_t>(random() % 2);
        event.eventFlags = random() & kHyperModifierMask;
        event.text = u"s";
    }
    std::vector<std::uint32_t> types(events.size());
    for (auto& type : types) {
        type = random() % 2 == 0 ? kEventKeyDown : kEventKeyUp;
    }

    const long before = allocations.load();
    std::size_t handedOn = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        handedOn += HyperKeyMonitor::eventTapCallback(nullptr, types[i], &events[i],
                                                      platform.taps.userInfo) == &events[i];
    }
    const long after = allocations.load();

    EXPECT_EQ(after - before, 0);
    EXPECT_EQ(handedOn, events.size());
    for (const auto& event : events) {
        ASSERT_EQ(event.textReads, 0);
    }
    monitor->stop();
}

} // namespace
} // namespace tarnell::engine
