// Nanoseconds per event through the tap's callback.
#include "engine/HyperKeyMonitor.h"
#include "support/FakeApplicationDirectory.h"
#include "support/FakeKeyEvent.h"
#include "support/FakePlatformServices.h"
#include "support/InMemoryKeyValueStore.h"

#include <benchmark/benchmark.h>

namespace tarnell::engine {
namespace {

struct Engine {
    testing::InMemoryKeyValueStore defaults;
    testing::FakeApplicationDirectory applications;
    std::shared_ptr<BindingStore> store = std::make_shared<BindingStore>(defaults, applications);
    testing::FakePlatform platform;
    std::shared_ptr<HyperKeyMonitor> monitor;

    Engine() {
        std::vector<AppBinding> bindings;
        for (const char* key : {"a", "b", "c", "d", "e", "f", "g", "h", "i", "s"}) {
            bindings.push_back({Uuid::random(), key, std::string("file:///apps/") + key});
        }
        store->setBindings(bindings);
        monitor = HyperKeyMonitor::create(store, platform.services());
        monitor->start();
    }
    ~Engine() { monitor->stop(); }
    KeyEvent* deliver(std::uint32_t type, KeyEvent& event) {
        return HyperKeyMonitor::eventTapCallback(nullptr, type, &event, platform.taps.userInfo);
    }
};

// A key other than the trigger while Hyper is not held: almost every key typed.
void BM_PassPath(benchmark::State& state) {
    Engine engine;
    testing::FakeKeyEvent event;
    event.keycode = 38;
    event.text = u"j";
    std::uint32_t type = kEventKeyDown;
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.deliver(type, event));
        type ^= kEventKeyDown ^ kEventKeyUp;
    }
}
BENCHMARK(BM_PassPath);

// A chord with Hyper held: key text, lowercasing and a lookup through ten
// bindings that finds none, so the event is handed on with the hyper flags.
void BM_HyperChordUnbound(benchmark::State& state) {
    Engine engine;
    testing::FakeKeyEvent trigger;
    trigger.keycode = kHyperTriggerKeyCode;
    engine.deliver(kEventKeyDown, trigger);
    testing::FakeKeyEvent event;
    event.keycode = 38;
    event.text = u"J";
    for (auto _ : state) {
        event.eventFlags = 0;
        benchmark::DoNotOptimize(engine.deliver(kEventKeyDown, event));
    }
}
BENCHMARK(BM_HyperChordUnbound);

// A repeat of a bound key: text, lookup that finds the last binding, swallowed.
void BM_HyperChordBoundRepeat(benchmark::State& state) {
    Engine engine;
    testing::FakeKeyEvent trigger;
    trigger.keycode = kHyperTriggerKeyCode;
    engine.deliver(kEventKeyDown, trigger);
    testing::FakeKeyEvent event;
    event.keycode = 1;
    event.autorepeat = 1;
    event.text = u"s";
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.deliver(kEventKeyDown, event));
    }
}
BENCHMARK(BM_HyperChordBoundRepeat);

} // namespace
} // namespace tarnell::engine
