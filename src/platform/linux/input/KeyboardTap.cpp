#include "platform/linux/input/KeyboardTap.h"

#include "platform/linux/input/NodeOpenWatch.h"
#include "platform/linux/input/UdevKeyboards.h"

#include <cstdint>

namespace tarnell::input {
namespace {

constexpr int kTickMs = 50;
// How often the guard looks again while input waits: a stall is acted on within
// the timeout plus this.
constexpr auto kGuardTick = std::chrono::milliseconds(100);
// A guard that ends this soon after it started is not started again at once.
constexpr auto kGuardRestartPause = std::chrono::seconds(1);

// For a system without any usable keymap: keys type nothing.
class NoKeyText final : public KeyTextSource {
public:
    [[nodiscard]] bool affectsState(std::uint16_t) const override { return false; }
    void updateKey(std::uint16_t, bool) override {}
    int text(std::uint16_t, char16_t*, int) const override { return 0; }
};

KeyboardSet::Clock::time_point now() {
    return KeyboardSet::Clock::now();
}

} // namespace

KeyboardTap::KeyboardTap(KeyboardTapParts parts, const KeyMap& map,
                         engine::EventTapCallback callback, void* userInfo)
    : output_(std::move(parts.output)), text_(std::move(parts.text)), udev_(std::move(parts.udev)),
      devicePaths_(std::move(parts.devicePaths)), sessionActive_(parts.sessionActive) {
    if (!text_) {
        text_ = std::make_unique<NoKeyText>();
    }
    if (!output_ || parts.opener == nullptr) {
        output_.reset();
        return;
    }
    // Forked before any keyboard is open: each is passed on as it comes.
    guard_ = StallGuard::start(output_->fd(), parts.stallTimeout, kGuardTick);
    guardStarted_ = now();
    router_ = std::make_unique<KeyRouter>(*output_, *text_, map);
    router_->setCallback(callback, userInfo);
    keyboards_ = std::make_unique<KeyboardSet>(
        *parts.opener, *router_, guard_ ? guard_->page() : unguarded_, parts.keyboardOptions);
    keyboards_->setListener(this);
    keyboards_->setWatcher(this);

    // A device without a node (a stand-in) is read by whoever made it.
    outputNode_ = output_->devnode();
    outputOpened_ = outputNode_.empty();
    if (!outputOpened_) {
        outputOpens_ = NodeOpenWatch::create(outputNode_);
        outputOpenTimer_.setSingleShot(true);
        QObject::connect(&outputOpenTimer_, &QTimer::timeout, &context_,
                         [this] { desktopOpenedOutput(); });
        outputOpenTimer_.start(parts.desktopOpenWait);
    }
    tickTimer_.setSingleShot(true);
    QObject::connect(&tickTimer_, &QTimer::timeout, &context_, [this] {
        if (keyboards_) {
            keyboards_->tick(now());
            scheduleTick();
        }
    });
    guardRetryTimer_.setSingleShot(true);
    QObject::connect(&guardRetryTimer_, &QTimer::timeout, &context_, [this] { reviveGuard(); });
    if (guard_ && !guard_->alive()) {
        guardRetryTimer_.start(kGuardRestartPause);
    }
    if (sessionActive_) {
        openKeyboards();
    }
}

KeyboardTap::~KeyboardTap() {
    invalidate();
}

void KeyboardTap::openKeyboards() {
    const auto start = now();
    if (udev_) {
        for (const auto& device : udev_->present()) {
            if (device.devnode != outputNode_) {
                keyboards_->add(device.devnode, start, device.knownKeyboard);
            }
        }
    }
    for (const auto& path : devicePaths_) {
        keyboards_->add(path, start, true);
    }
}

void KeyboardTap::addToMainLoop() {
    if (inMainLoop_ || !keyboards_) {
        return;
    }
    inMainLoop_ = true;
    const auto watchFixed = [this](int fd, auto handler) {
        if (fd < 0) {
            return;
        }
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &context_);
        QObject::connect(notifier, &QSocketNotifier::activated, &context_, handler);
        fixedNotifiers_.push_back(notifier);
    };
    watchFixed(output_->fd(), [this] { takeLedChanges(); });
    watchFixed(udev_ ? udev_->fd() : -1, [this] { takeUdevChanges(); });
    if (outputOpens_) {
        outputOpenNotifier_ =
            new QSocketNotifier(outputOpens_->fd(), QSocketNotifier::Read, &context_);
        QObject::connect(outputOpenNotifier_, &QSocketNotifier::activated, &context_, [this] {
            if (outputOpens_ && outputOpens_->takeOpened()) {
                desktopOpenedOutput();
            }
        });
    }
    listenToGuard();
    for (auto& [device, notifier] : deviceNotifiers_) {
        if (notifier == nullptr) {
            listenTo(*device);
        }
    }
    scheduleTick();
}

void KeyboardTap::removeFromMainLoop() {
    stopListeningToGuard();
    stopWatchingOutputOpens();
    for (auto* notifier : fixedNotifiers_) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    fixedNotifiers_.clear();
    for (auto& entry : deviceNotifiers_) {
        if (entry.second != nullptr) {
            entry.second->setEnabled(false);
            entry.second->deleteLater();
            entry.second = nullptr;
        }
    }
    tickTimer_.stop();
    inMainLoop_ = false;
}

void KeyboardTap::enable(bool enabled) {
    enabled_ = enabled;
    applyGrabbing();
}

void KeyboardTap::setSessionActive(bool active) {
    if (!keyboards_ || active == sessionActive_) {
        return;
    }
    sessionActive_ = active;
    applyGrabbing();
    if (active) {
        openKeyboards(); // grabbed as they come
    } else {
        keyboards_->removeAll(); // nothing more is read from them
    }
    scheduleTick();
}

void KeyboardTap::applyGrabbing() {
    if (!keyboards_) {
        return;
    }
    const bool grab =
        enabled_ && sessionActive_ && outputOpened_ && guard_ != nullptr && guard_->alive();
    if (grab != keyboards_->grabbing()) {
        keyboards_->setGrabbing(grab, now()); // letting go releases every key held
    }
    scheduleTick();
}

void KeyboardTap::invalidate() {
    if (!keyboards_) {
        return;
    }
    removeFromMainLoop();
    outputOpenTimer_.stop();
    guardRetryTimer_.stop();
    keyboards_->setGrabbing(false, now()); // lets go and releases every key held
    keyboards_->removeAll();
    keyboards_.reset();
    router_.reset();
    guard_.reset(); // after the keyboards, which use its page
    udev_.reset();
    outputOpens_.reset();
    output_.reset(); // destroys the virtual keyboard
}

bool KeyboardTap::capsLockLed() const {
    return keyboards_ ? keyboards_->capsLockLed() : false;
}

void KeyboardTap::toggleCapsLockOutput(bool locked) {
    if (!router_) {
        return;
    }
    router_->tapCapsLock();
    keyboards_->assumeCapsLockLed(locked);
    text_->setCapsLocked(locked);
}

void KeyboardTap::keyboardAdded(InputDevice& device) {
    deviceNotifiers_[&device] = nullptr;
    if (inMainLoop_) {
        listenTo(device);
    }
}

void KeyboardTap::keyboardRemoved(InputDevice& device) {
    const auto it = deviceNotifiers_.find(&device);
    if (it == deviceNotifiers_.end()) {
        return;
    }
    if (it->second != nullptr) {
        // Possibly inside this notifier's own signal: delete it later.
        it->second->setEnabled(false);
        it->second->deleteLater();
    }
    deviceNotifiers_.erase(it);
}

bool KeyboardTap::watch(InputDevice& device) {
    if (!guard_ || !guard_->alive()) {
        return false;
    }
    const bool watching = guard_->watch(device.fd());
    guardMayHaveEnded();
    return watching;
}

void KeyboardTap::forget(InputDevice& device) {
    if (guard_ && guard_->alive()) {
        guard_->forget(device.fd());
        guardMayHaveEnded();
    }
}

void KeyboardTap::listenTo(InputDevice& device) {
    auto* notifier = new QSocketNotifier(device.fd(), QSocketNotifier::Read, &context_);
    QObject::connect(notifier, &QSocketNotifier::activated, &context_, [this, &device] {
        if (keyboards_ && keyboards_->readable(device)) {
            scheduleTick();
        }
    });
    deviceNotifiers_[&device] = notifier;
}

void KeyboardTap::scheduleTick() {
    if (inMainLoop_ && keyboards_ && keyboards_->hasPendingWork() && !tickTimer_.isActive()) {
        tickTimer_.start(kTickMs);
    }
}

void KeyboardTap::takeUdevChanges() {
    if (!udev_ || !keyboards_) {
        return;
    }
    for (const auto& change : udev_->receive()) {
        if (!sessionActive_) {
            continue; // taken stock of anew when the session is active again
        }
        if (change.added && change.device.devnode != outputNode_) {
            keyboards_->add(change.device.devnode, now(), change.device.knownKeyboard);
        } else if (!change.added) {
            keyboards_->remove(change.device.devnode);
        }
    }
    scheduleTick();
}

void KeyboardTap::takeLedChanges() {
    if (!output_ || !keyboards_) {
        return;
    }
    for (const auto& change : output_->readLedChanges()) {
        keyboards_->mirrorLed(change.code, change.on);
        if (change.code == LED_CAPSL) {
            text_->setCapsLocked(change.on);
        }
    }
}

void KeyboardTap::desktopOpenedOutput() {
    if (outputOpened_) {
        return;
    }
    outputOpened_ = true;
    outputOpenTimer_.stop();
    stopWatchingOutputOpens();
    outputOpens_.reset();
    applyGrabbing();
}

void KeyboardTap::stopWatchingOutputOpens() {
    if (outputOpenNotifier_ != nullptr) {
        outputOpenNotifier_->setEnabled(false);
        outputOpenNotifier_->deleteLater();
        outputOpenNotifier_ = nullptr;
    }
}

void KeyboardTap::takeGuardNotice() {
    if (!guard_) {
        return;
    }
    if (guard_->takeNotice()) {
        catchUpWithGuard();
    }
    if (!guard_->alive()) {
        stopListeningToGuard();
        // Whatever it did before it ended is taken as done.
        if (guard_->page().state.load() != StallGuardPage::kHolding) {
            guard_->page().state.store(StallGuardPage::kLetGo);
            catchUpWithGuard();
        }
        reviveGuard();
    }
}

void KeyboardTap::catchUpWithGuard() {
    if (keyboards_ && keyboards_->takeStall()) {
        // The engine answers by enabling the tap again, which grabs anew.
        enabled_ = false;
        router_->report(engine::kEventTapDisabledByTimeout);
        scheduleTick();
    }
}

// After a message to the guard: it may have ended (then it is replaced) or have
// let go meanwhile (then its notice may already have been read).
void KeyboardTap::guardMayHaveEnded() {
    if (!guard_->alive()) {
        stopListeningToGuard();
    }
    if (!guard_->alive() || guard_->noticePending()) {
        QMetaObject::invokeMethod(
            &context_, [this] { takeGuardNotice(); }, Qt::QueuedConnection);
    }
}

void KeyboardTap::reviveGuard() {
    if (!guard_ || !keyboards_ || guard_->alive()) {
        return;
    }
    if (now() - guardStarted_ >= kGuardRestartPause) {
        guardStarted_ = now();
        if (guard_->restart()) {
            keyboards_->watchAll(now());
            listenToGuard();
        }
    }
    if (!guard_->alive()) {
        guardRetryTimer_.start(kGuardRestartPause);
    }
    applyGrabbing();
}

void KeyboardTap::listenToGuard() {
    stopListeningToGuard();
    if (!inMainLoop_ || !guard_ || !guard_->alive()) {
        return;
    }
    guardNotifier_ = new QSocketNotifier(guard_->fd(), QSocketNotifier::Read, &context_);
    QObject::connect(guardNotifier_, &QSocketNotifier::activated, &context_,
                     [this] { takeGuardNotice(); });
}

void KeyboardTap::stopListeningToGuard() {
    if (guardNotifier_ != nullptr) {
        guardNotifier_->setEnabled(false);
        guardNotifier_->deleteLater();
        guardNotifier_ = nullptr;
    }
}

} // namespace tarnell::input
