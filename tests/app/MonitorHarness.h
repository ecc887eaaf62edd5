#pragma once

#include "bindings/BindingStore.h"
#include "engine/HyperKeyMonitor.h"
#include "support/FakePlatformServices.h"

#include <memory>

namespace tarnell::test {

// A monitor over fake services. Its trust follows `trust.trusted` once started, at
// once or at the next poll (`timers.tick()`); access is refused until the test grants it.
struct MonitorHarness : testing::FakePlatform {
    explicit MonitorHarness(std::shared_ptr<BindingStore> store)
        : monitor(makeMonitor(std::move(store))) {}
    ~MonitorHarness() { monitor->stop(); }
    MonitorHarness(const MonitorHarness&) = delete;
    MonitorHarness& operator=(const MonitorHarness&) = delete;

    std::shared_ptr<engine::HyperKeyMonitor> monitor;

private:
    std::shared_ptr<engine::HyperKeyMonitor> makeMonitor(std::shared_ptr<BindingStore> store) {
        trust.trusted = false;
        return engine::HyperKeyMonitor::create(std::move(store), services());
    }
};

} // namespace tarnell::test
