#include "engine/HyperKeyMonitor.h"

#include "engine/AppActivation.h"

#include <chrono>

namespace tarnell::engine {

namespace {
constexpr std::chrono::milliseconds kTrustPollingInterval{1000};
} // namespace

std::shared_ptr<HyperKeyMonitor> HyperKeyMonitor::create(std::shared_ptr<BindingStore> store,
                                                         const PlatformServices& services) {
    return std::shared_ptr<HyperKeyMonitor>(new HyperKeyMonitor(std::move(store), services));
}

HyperKeyMonitor::HyperKeyMonitor(std::shared_ptr<BindingStore> store,
                                 const PlatformServices& services)
    : services_(services), isTrusted_(services.trust.isProcessTrusted()), store_(std::move(store)) {
}

HyperKeyMonitor::~HyperKeyMonitor() = default;

void HyperKeyMonitor::setTrusted(bool value) {
    changes_.notify();
    isTrusted_ = value;
}

void HyperKeyMonitor::setRunning(bool value) {
    changes_.notify();
    isRunning_ = value;
}

void HyperKeyMonitor::start() {
    if (isRunning_) {
        return;
    }
    if (!checkTrust()) {
        startTrustPolling();
        return;
    }
    if (!installEventTap()) {
        return;
    }
    setCapsLockRemapping(true);
    setRunning(true);
}

bool HyperKeyMonitor::checkTrust() {
    const bool trusted = services_.trust.isProcessTrustedWithPrompt();
    setTrusted(trusted);
    return trusted;
}

void HyperKeyMonitor::startTrustPolling() {
    if (trustTimer_) {
        trustTimer_->invalidate();
    }
    // The timer must not keep the monitor alive.
    std::weak_ptr<HyperKeyMonitor> weakSelf = weak_from_this();
    trustTimer_ = services_.timers.scheduleRepeating(
        kTrustPollingInterval, [weakSelf](RepeatingTimer& timer) {
            const auto self = weakSelf.lock();
            if (!self) {
                return;
            }
            if (!self->services_.trust.isProcessTrusted()) {
                return;
            }
            timer.invalidate();
            // Releases the timer (and this block) only after we are done with it.
            auto finished = std::move(self->trustTimer_);
            self->setTrusted(true);
            self->start();
        });
}

bool HyperKeyMonitor::installEventTap() {
    auto tap = services_.taps.createTap(kKeyEventMask, &HyperKeyMonitor::eventTapCallback, this);
    if (!tap) {
        return false;
    }
    tap->addToMainLoop();
    tap->enable(true);
    if (tap_) {
        tap_->invalidate();
    }
    tap_ = std::move(tap);
    runLoopSourceAdded_ = true;
    return true;
}

void HyperKeyMonitor::stop() {
    if (trustTimer_) {
        trustTimer_->invalidate();
        trustTimer_.reset();
    }
    if (tap_) {
        tap_->enable(false);
        tap_->invalidate();
    }
    if (runLoopSourceAdded_ && tap_) {
        tap_->removeFromMainLoop();
    }
    tap_.reset();
    runLoopSourceAdded_ = false;
    state_.isHyperDown = false;
    if (isRunning_) {
        setCapsLockRemapping(false);
    }
    setRunning(false);
}

KeyEvent* HyperKeyMonitor::eventTapCallback(void* /*proxy*/, std::uint32_t type, KeyEvent* event,
                                            void* userInfo) {
    if (userInfo == nullptr || event == nullptr) {
        return event;
    }
    return static_cast<HyperKeyMonitor*>(userInfo)->handleEvent(type, *event);
}

KeyEvent* HyperKeyMonitor::handleEvent(std::uint32_t type, KeyEvent& event) {
    const Decision decision =
        decideEvent(state_, type, event, {*store_, static_cast<bool>(onOpenSettings_)});

    if (decision.action.kind != HyperAction::Kind::none) {
        // An action may reach code that lets the monitor go (a window, a launch):
        // keep it alive until the call returns. The pass path never gets here.
        const auto keepAlive = weak_from_this().lock();
        switch (decision.action.kind) {
        case HyperAction::Kind::reenableTap:
            if (tap_) {
                tap_->enable(true);
            }
            break;
        case HyperAction::Kind::toggleCapsLock:
            toggleCapsLock();
            break;
        case HyperAction::Kind::openSettings:
            if (onOpenSettings_) {
                // A copy: the callback may replace itself.
                const auto callback = onOpenSettings_;
                callback();
            }
            break;
        case HyperAction::Kind::activateApp:
            activateApp(decision.action.appURL);
            break;
        case HyperAction::Kind::none:
            break;
        }
    }
    return decision.outcome == EventOutcome::swallow ? nullptr : &event;
}

void HyperKeyMonitor::activateApp(std::string_view appURL) {
    engine::activateApp(services_.workspace, store_->hidesFrontmostApp(), appURL);
}

} // namespace tarnell::engine
