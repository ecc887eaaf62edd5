#pragma once

#include "engine/PlatformServices.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnell::testing {

// Fakes for every service the monitor uses, recording what it asked of them.
struct FakeTrust : engine::TrustService {
    bool trusted = true;
    int prompts = 0;
    int silentChecks = 0;
    bool isProcessTrusted() override {
        ++silentChecks;
        return trusted;
    }
    bool isProcessTrustedWithPrompt() override {
        ++prompts;
        return trusted;
    }
};

struct FakeTap : engine::EventTap {
    struct Log {
        int created = 0;
        int live = 0;
        std::vector<std::string> calls;
    };
    explicit FakeTap(std::shared_ptr<Log> log) : log_(std::move(log)) { ++log_->live; }
    ~FakeTap() override { --log_->live; }
    void addToMainLoop() override { log_->calls.emplace_back("add"); }
    void removeFromMainLoop() override { log_->calls.emplace_back("remove"); }
    void enable(bool enabled) override { log_->calls.emplace_back(enabled ? "enable" : "disable"); }
    void invalidate() override { log_->calls.emplace_back("invalidate"); }

private:
    std::shared_ptr<Log> log_;
};

struct FakeTapService : engine::EventTapService {
    bool canCreate = true;
    std::shared_ptr<FakeTap::Log> log = std::make_shared<FakeTap::Log>();
    engine::EventTapCallback callback = nullptr;
    void* userInfo = nullptr;
    std::uint64_t mask = 0;
    std::unique_ptr<engine::EventTap> createTap(std::uint64_t eventMask,
                                                engine::EventTapCallback cb, void* info) override {
        if (!canCreate) {
            return nullptr;
        }
        ++log->created;
        mask = eventMask;
        callback = cb;
        userInfo = info;
        return std::make_unique<FakeTap>(log);
    }
};

// Timers fire only when the test says so.
struct FakeTimerService : engine::TimerService {
    struct Timer : engine::RepeatingTimer {
        std::function<void(RepeatingTimer&)> block;
        bool valid = true;
        // Outlives the timer, so a timer dropped without invalidate() is still seen.
        std::shared_ptr<bool> invalidated = std::make_shared<bool>(false);
        void invalidate() override {
            valid = false;
            *invalidated = true;
        }
    };
    struct Record {
        std::weak_ptr<Timer> timer;
        std::chrono::milliseconds interval{};
        std::shared_ptr<const bool> invalidated;
    };
    std::vector<Record> scheduled;

    std::unique_ptr<engine::RepeatingTimer>
    scheduleRepeating(std::chrono::milliseconds interval,
                      std::function<void(engine::RepeatingTimer&)> block) override {
        auto shared = std::make_shared<Timer>();
        shared->block = std::move(block);
        scheduled.push_back({shared, interval, shared->invalidated});
        // The monitor owns the timer; the fake keeps a weak view to fire it.
        struct Owner : engine::RepeatingTimer {
            std::shared_ptr<Timer> timer;
            void invalidate() override { timer->invalidate(); }
        };
        auto owner = std::make_unique<Owner>();
        owner->timer = std::move(shared);
        return owner;
    }
    // Fires every live, valid timer once, as the event loop would after a second.
    void tick() {
        for (auto& record : scheduled) {
            if (auto timer = record.timer.lock(); timer && timer->valid) {
                auto block = timer->block; // the block may release its timer
                block(*timer);
            }
        }
    }
    int liveValidTimers() const {
        int n = 0;
        for (const auto& record : scheduled) {
            if (auto timer = record.timer.lock(); timer && timer->valid) {
                ++n;
            }
        }
        return n;
    }
    // Timers never invalidated, whether or not their owner still holds them: the
    // service keeps firing a timer until it is invalidated.
    int neverInvalidatedTimers() const {
        int n = 0;
        for (const auto& record : scheduled) {
            n += *record.invalidated ? 0 : 1;
        }
        return n;
    }
};

struct FakeKeyMapping : engine::KeyMappingUtility {
    std::vector<std::vector<std::string>> runs;
    bool launches = true;
    bool run(const std::vector<std::string>& arguments) override {
        runs.push_back(arguments);
        return launches;
    }
};

struct FakeLockState : engine::LockStateService {
    bool available = true;
    bool readable = true;
    bool locked = false;
    int opens = 0;
    int openConnections = 0;
    std::vector<std::string> calls;

    struct Connection : engine::LockStateConnection {
        FakeLockState& owner;
        explicit Connection(FakeLockState& o) : owner(o) { ++owner.openConnections; }
        ~Connection() override {
            --owner.openConnections;
            owner.calls.emplace_back("close");
        }
        bool getCapsLockState(bool& value) override {
            owner.calls.emplace_back("get");
            if (!owner.readable) {
                return false;
            }
            value = owner.locked;
            return true;
        }
        bool setCapsLockState(bool value) override {
            owner.calls.emplace_back(value ? "set on" : "set off");
            owner.locked = value;
            return true;
        }
    };
    std::unique_ptr<engine::LockStateConnection> open() override {
        ++opens;
        if (!available) {
            return nullptr;
        }
        calls.emplace_back("open");
        return std::make_unique<Connection>(*this);
    }
};

struct FakeWorkspace : engine::Workspace {
    std::map<std::string, std::optional<std::string>> identifiers; // URL -> identifier
    std::optional<engine::RunningApplication> frontmost;
    std::vector<std::string> opened;
    std::vector<std::uint64_t> hidden;

    std::optional<std::string> applicationIdentifierAt(std::string_view appURL) override {
        const auto it = identifiers.find(std::string(appURL));
        return it == identifiers.end() ? std::nullopt : it->second;
    }
    std::optional<engine::RunningApplication> frontmostApplication() override { return frontmost; }
    void hide(const engine::RunningApplication& application) override {
        hidden.push_back(application.handle);
    }
    void openApplication(std::string_view appURL) override { opened.emplace_back(appURL); }
};

struct FakePlatform {
    FakeTrust trust;
    FakeTapService taps;
    FakeTimerService timers;
    FakeKeyMapping keyMapping;
    FakeLockState lockState;
    FakeWorkspace workspace;
    engine::PlatformServices services() {
        return {trust, taps, timers, keyMapping, lockState, workspace};
    }
};

} // namespace tarnell::testing
