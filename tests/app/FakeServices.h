#pragma once

// Stand-ins for the system services, recording what the shell and the engine ask of
// them.
#include "app/LoginItemService.h"
#include "engine/PlatformServices.h"
#include "support/FakeApplicationDirectory.h"
#include "support/InMemoryKeyValueStore.h"

#include <memory>
#include <string>
#include <vector>

namespace tarnell::testing {

class SwitchableTrust : public engine::TrustService {
public:
    bool isProcessTrusted() override {
        ++quietChecks;
        return trusted;
    }
    bool isProcessTrustedWithPrompt() override {
        ++promptingChecks;
        return trusted;
    }
    bool trusted = false;
    int quietChecks = 0;
    int promptingChecks = 0;
};

struct TapRecord {
    bool enabled = false;
    bool inMainLoop = false;
    bool invalidated = false;
    engine::EventTapCallback callback = nullptr;
    void* userInfo = nullptr;
};

class RecordingTaps : public engine::EventTapService {
public:
    class Tap : public engine::EventTap {
    public:
        explicit Tap(std::shared_ptr<TapRecord> record) : record_(std::move(record)) {}
        void addToMainLoop() override { record_->inMainLoop = true; }
        void removeFromMainLoop() override { record_->inMainLoop = false; }
        void enable(bool enabled) override { record_->enabled = enabled; }
        void invalidate() override { record_->invalidated = true; }

    private:
        std::shared_ptr<TapRecord> record_;
    };

    std::unique_ptr<engine::EventTap> createTap(std::uint64_t, engine::EventTapCallback callback,
                                                void* userInfo) override {
        auto record = std::make_shared<TapRecord>();
        record->callback = callback;
        record->userInfo = userInfo;
        taps.push_back(record);
        return std::make_unique<Tap>(record);
    }

    std::vector<std::shared_ptr<TapRecord>> taps;
};

class RecordingTimers : public engine::TimerService {
public:
    struct Record {
        std::function<void(engine::RepeatingTimer&)> block;
        bool invalidated = false;
    };
    class Timer : public engine::RepeatingTimer {
    public:
        explicit Timer(std::shared_ptr<Record> record) : record_(std::move(record)) {}
        void invalidate() override { record_->invalidated = true; }

    private:
        std::shared_ptr<Record> record_;
    };

    std::unique_ptr<engine::RepeatingTimer>
    scheduleRepeating(std::chrono::milliseconds,
                      std::function<void(engine::RepeatingTimer&)> block) override {
        auto record = std::make_shared<Record>();
        record->block = std::move(block);
        timers.push_back(record);
        return std::make_unique<Timer>(record);
    }

    // One tick of the most recently scheduled timer, as the main loop would give it.
    void fireLatest() {
        auto record = timers.back();
        Timer firing(record);
        record->block(firing);
    }

    [[nodiscard]] std::size_t liveCount() const {
        std::size_t n = 0;
        for (const auto& timer : timers) {
            n += timer->invalidated ? 0 : 1;
        }
        return n;
    }

    std::vector<std::shared_ptr<Record>> timers;
};

class RecordingKeyMapping : public engine::KeyMappingUtility {
public:
    bool run(const std::vector<std::string>& arguments) override {
        runs.push_back(arguments);
        return true;
    }
    std::vector<std::vector<std::string>> runs;
};

class NoLockState : public engine::LockStateService {
public:
    std::unique_ptr<engine::LockStateConnection> open() override { return nullptr; }
};

class RecordingWorkspace : public engine::Workspace {
public:
    std::optional<std::string> applicationIdentifierAt(std::string_view) override {
        return std::nullopt;
    }
    std::optional<engine::RunningApplication> frontmostApplication() override {
        return std::nullopt;
    }
    void hide(const engine::RunningApplication&) override {}
    void openApplication(std::string_view appURL) override { opened.emplace_back(appURL); }
    std::vector<std::string> opened;
};

class FixedLoginItems : public app::LoginItemService {
public:
    app::LoginItemStatus status() override {
        ++statusReads;
        return current;
    }
    bool registerItem() override { return false; }
    bool unregisterItem() override { return false; }

    app::LoginItemStatus current = app::LoginItemStatus::notRegistered;
    int statusReads = 0;
};

// Every service the engine uses, recording.
struct EngineFakes {
    SwitchableTrust trust;
    RecordingTaps taps;
    RecordingTimers timers;
    RecordingKeyMapping keyMapping;
    NoLockState lockState;
    RecordingWorkspace workspace;

    engine::PlatformServices services() {
        return {trust, taps, timers, keyMapping, lockState, workspace};
    }
};

} // namespace tarnell::testing
