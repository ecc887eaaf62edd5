#include "platform/linux/input/KeyboardTap.h"

#include "platform/linux/input/StallWatchdog.h"
#include "platform/linux/input/UdevKeyboards.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tarnell::input {
namespace {

constexpr int kTickMs = 50;

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
      devicePaths_(std::move(parts.devicePaths)), stall_(parts.stallTimeout) {
    if (!text_) {
        text_ = std::make_unique<NoKeyText>();
    }
    if (!output_ || parts.opener == nullptr) {
        output_.reset();
        return;
    }
    router_ = std::make_unique<KeyRouter>(*output_, *text_, map);
    router_->setCallback(callback, userInfo);
    keyboards_ =
        std::make_unique<KeyboardSet>(*parts.opener, *router_, stall_, parts.keyboardOptions);
    keyboards_->setListener(this);
    stallEvent_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    tickTimer_.setSingleShot(true);
    QObject::connect(&tickTimer_, &QTimer::timeout, &context_, [this] {
        if (keyboards_) {
            keyboards_->tick(now());
            scheduleTick();
        }
    });

    const auto start = now();
    if (udev_) {
        for (const auto& device : udev_->present()) {
            keyboards_->add(device.devnode, start, device.knownKeyboard);
        }
    }
    for (const auto& path : devicePaths_) {
        keyboards_->add(path, start, true);
    }
}

KeyboardTap::~KeyboardTap() {
    invalidate();
    if (stallEvent_ >= 0) {
        ::close(stallEvent_);
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
    watchFixed(stallEvent_, [this] { takeStall(); });
    for (auto& [device, notifier] : deviceNotifiers_) {
        if (notifier == nullptr) {
            watch(*device);
        }
    }
    const int stallEvent = stallEvent_;
    OutputKeyboard* output = output_.get();
    watchdog_ = std::make_unique<StallWatchdog>(*keyboards_, stall_, [stallEvent, output] {
        // No key may go on repeating on the desktop while the loop is stuck.
        output->releaseAllKeys();
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(stallEvent, &one, sizeof(one));
    });
    scheduleTick();
}

void KeyboardTap::removeFromMainLoop() {
    watchdog_.reset();
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
    if (!keyboards_) {
        return;
    }
    keyboards_->setGrabbing(enabled, now());
    scheduleTick();
}

void KeyboardTap::invalidate() {
    if (!keyboards_) {
        return;
    }
    removeFromMainLoop();
    keyboards_->setGrabbing(false, now()); // lets go and releases every key held
    keyboards_->removeAll();
    keyboards_.reset();
    router_.reset();
    udev_.reset();
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
        watch(device);
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

void KeyboardTap::watch(InputDevice& device) {
    auto* notifier = new QSocketNotifier(device.fd(), QSocketNotifier::Read, &context_);
    QObject::connect(notifier, &QSocketNotifier::activated, &context_, [this, &device] {
        if (keyboards_) {
            keyboards_->readable(device, now());
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
        if (change.added) {
            keyboards_->add(change.device.devnode, now(), change.device.knownKeyboard);
        } else {
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

void KeyboardTap::takeStall() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(stallEvent_, &count, sizeof(count));
    if (keyboards_ && keyboards_->takeStall()) {
        // The engine answers by enabling the tap again, which grabs anew.
        router_->report(engine::kEventTapDisabledByTimeout);
        scheduleTick();
    }
}

} // namespace tarnell::input
