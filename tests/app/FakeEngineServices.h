#pragma once

#include "engine/HyperKeyMonitor.h"
#include "engine/PlatformServices.h"

#include <memory>
#include <vector>

namespace tarnell::test {

// Input access whose answer the test sets.
class FakeTrust final : public engine::TrustService {
public:
    bool isProcessTrusted() override { return trusted; }
    bool isProcessTrustedWithPrompt() override { return trusted; }
    bool trusted = false;
};

class FakeTap final : public engine::EventTap {
public:
    void addToMainLoop() override {}
    void removeFromMainLoop() override {}
    void enable(bool) override {}
    void invalidate() override {}
};

class FakeTaps final : public engine::EventTapService {
public:
    std::unique_ptr<engine::EventTap> createTap(std::uint64_t, engine::EventTapCallback,
                                                void*) override {
        return std::make_unique<FakeTap>();
    }
};

// Timers that fire only when the test says so.
class FakeTimers final : public engine::TimerService {
public:
    struct Timer final : engine::RepeatingTimer {
        void invalidate() override { valid = false; }
        bool valid = true;
    };
    std::unique_ptr<engine::RepeatingTimer>
    scheduleRepeating(std::chrono::milliseconds,
                      std::function<void(engine::RepeatingTimer&)> block) override {
        auto timer = std::make_unique<Timer>();
        scheduled.push_back({timer.get(), std::move(block)});
        return timer;
    }
    // Fires every timer still valid once.
    void fire() {
        const auto now = scheduled;
        for (const auto& [timer, block] : now) {
            if (timer->valid) {
                block(*timer);
            }
        }
    }
    std::vector<std::pair<Timer*, std::function<void(engine::RepeatingTimer&)>>> scheduled;
};

class FakeKeyMapping final : public engine::KeyMappingUtility {
public:
    bool run(const std::vector<std::string>&) override { return true; }
};

class FakeLockState final : public engine::LockStateService {
public:
    std::unique_ptr<engine::LockStateConnection> open() override { return nullptr; }
};

class FakeWorkspace final : public engine::Workspace {
public:
    std::optional<std::string> applicationIdentifierAt(std::string_view) override {
        return std::nullopt;
    }
    std::optional<engine::RunningApplication> frontmostApplication() override {
        return std::nullopt;
    }
    void hide(const engine::RunningApplication&) override {}
    void openApplication(std::string_view) override {}
};

// A monitor over fake services. Its trust follows `trust.trusted` once started, at
// once or at the next fired poll.
struct MonitorHarness {
    explicit MonitorHarness(std::shared_ptr<BindingStore> store)
        : monitor(engine::HyperKeyMonitor::create(
              std::move(store), {trust, taps, timers, keyMapping, lockState, workspace})) {}
    ~MonitorHarness() { monitor->stop(); }
    MonitorHarness(const MonitorHarness&) = delete;
    MonitorHarness& operator=(const MonitorHarness&) = delete;

    FakeTrust trust;
    FakeTaps taps;
    FakeTimers timers;
    FakeKeyMapping keyMapping;
    FakeLockState lockState;
    FakeWorkspace workspace;
    std::shared_ptr<engine::HyperKeyMonitor> monitor;
};

} // namespace tarnell::test
