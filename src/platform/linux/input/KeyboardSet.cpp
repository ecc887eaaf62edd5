#include "platform/linux/input/KeyboardSet.h"

#include "platform/linux/diagnostics/Diagnostics.h"
#include "platform/linux/input/VirtualKeyboardIdentity.h"

#include <cerrno>
#include <cstring>

namespace tarnell::input {
namespace {

constexpr std::size_t kReadBatch = 64;
using ReadBuffer = std::array<input_event, kReadBatch>;

} // namespace

KeyboardSet::KeyboardSet(DeviceOpener& opener, KeyRouter& router, StallGuardPage& guard,
                         Options options)
    : opener_(opener), router_(router), guard_(guard), options_(options) {}

KeyboardSet::~KeyboardSet() {
    removeAll();
}

void KeyboardSet::add(const std::string& path, Clock::time_point now, bool knownKeyboard) {
    for (const auto& entry : entries_) {
        if (entry->path == path) {
            return;
        }
    }
    retries_.erase(path);
    tryOpen(path, now, knownKeyboard);
}

void KeyboardSet::tryOpen(const std::string& path, Clock::time_point now, bool knownKeyboard) {
    auto device = opener_.open(path);
    if (!device) {
        const int error = errno;
        // A new node is often readable only once its permissions are set.
        Retry& retry = retries_[path];
        retry.knownKeyboard = knownKeyboard;
        if (++retry.attempts >= options_.openAttempts) {
            platform::diagnose("keyboards: %s cannot be opened: %s; left alone", path.c_str(),
                               std::strerror(error));
            retries_.erase(path);
        } else {
            retry.next = now + options_.openRetryInterval;
        }
        return;
    }
    retries_.erase(path);
    if (!(knownKeyboard || device->isKeyboard()) || isTarnellVirtualDevice(device->identity())) {
        return;
    }
    platform::diagnose("keyboards: %s (%s) found", path.c_str(), device->identity().name.c_str());
    auto entry = std::make_unique<Entry>();
    entry->path = path;
    entry->device = std::move(device);
    for (const auto& [code, on] : leds_) {
        entry->device->setLed(code, on);
    }
    Entry& added = *entry;
    entries_.push_back(std::move(entry));
    if (listener_ != nullptr) {
        listener_->keyboardAdded(*added.device);
    }
    added.watched = watcher_ == nullptr || watcher_->watch(*added.device);
    if (grabbing_) {
        added.grabWaitSince = now;
        tryGrab(added, now);
    }
}

void KeyboardSet::remove(const std::string& path) {
    retries_.erase(path);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i]->path == path) {
            erase(i);
            return;
        }
    }
}

void KeyboardSet::removeAll() {
    retries_.clear();
    while (!entries_.empty()) {
        erase(entries_.size() - 1);
    }
}

void KeyboardSet::erase(std::size_t index) {
    Entry& entry = *entries_[index];
    if (entry.grabbed) {
        releaseKeysOf(entry);
        entry.device->grab(false);
        entry.grabbed = false;
    }
    if (watcher_ != nullptr && entry.watched) {
        watcher_->forget(*entry.device);
    }
    if (listener_ != nullptr) {
        listener_->keyboardRemoved(*entry.device);
    }
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
}

// A keyboard that goes away with keys down must not leave them down on the output.
void KeyboardSet::releaseKeysOf(Entry& entry) {
    bool any = false;
    for (std::uint16_t code = 0; code < KEY_CNT; ++code) {
        if (entry.device->keyDown(code)) {
            input_event up{};
            up.type = EV_KEY;
            up.code = code;
            up.value = 0;
            router_.route(up);
            any = true;
        }
    }
    if (any) {
        input_event sync{};
        sync.type = EV_SYN;
        sync.code = SYN_REPORT;
        router_.route(sync);
    }
}

void KeyboardSet::setGrabbing(bool enabled, Clock::time_point now) {
    grabbing_ = enabled;
    guard_.armed.store(enabled ? 1 : 0, std::memory_order_relaxed);
    if (enabled) {
        for (auto& entry : entries_) {
            if (!entry->grabbed) {
                entry->grabWaitSince = now;
                tryGrab(*entry, now);
            }
        }
        return;
    }
    for (auto& entry : entries_) {
        entry->grabWaitSince.reset();
        if (entry->grabbed) {
            entry->device->grab(false);
            entry->grabbed = false;
        }
    }
    router_.releaseAll();
}

void KeyboardSet::watchAll(Clock::time_point now) {
    for (auto& entry : entries_) {
        entry->watched = watcher_ == nullptr || watcher_->watch(*entry->device);
        if (!entry->watched && entry->grabbed) {
            releaseKeysOf(*entry);
            entry->device->grab(false);
            entry->grabbed = false;
        } else if (entry->watched && grabbing_ && !entry->grabbed) {
            entry->grabWaitSince = now;
            tryGrab(*entry, now);
        }
    }
}

void KeyboardSet::tryGrab(Entry& entry, Clock::time_point now) {
    if (!grabbing_ || entry.grabbed || !entry.grabWaitSince) {
        return;
    }
    // A keyboard nothing would let go of when this process hangs stays free.
    if (!entry.watched) {
        platform::diagnose("keyboards: %s not taken: the stall guard does not watch it",
                           entry.path.c_str());
        entry.grabWaitSince.reset();
        return;
    }
    // Grabbing while a key is down would leave the desktop waiting for its release.
    const bool waitedEnough = now - *entry.grabWaitSince >= options_.grabWait;
    if (entry.device->anyKeyDown() && !waitedEnough) {
        return;
    }
    if (entry.device->grab(true)) {
        platform::diagnose("keyboards: %s taken", entry.path.c_str());
        entry.grabbed = true;
        entry.grabWaitSince.reset();
    } else if (waitedEnough) {
        platform::diagnose("keyboards: %s not taken: %s", entry.path.c_str(),
                           errno == EBUSY ? "another program holds it" : std::strerror(errno));
        entry.grabWaitSince.reset(); // someone else holds it: leave it alone
    }
}

bool KeyboardSet::readableAt(InputDevice& device, std::optional<Clock::time_point> now) {
    Entry* entry = find(device);
    if (entry == nullptr) {
        return false;
    }
    // Filled by each read, so not cleared first. Local, as the engine may run
    // a nested event loop that reads another keyboard.
    ReadBuffer events;
    for (;;) {
        const int count = device.read(events);
        if (count < 0) {
            remove(std::string(entry->path));
            return true;
        }
        guard_.markServiced();
        // Read first, then look: whatever is read after the guard let go has
        // reached the desktop already.
        if (entry->grabbed && !guard_.guardLetGo()) {
            for (int i = 0; i < count; ++i) {
                router_.route(events[static_cast<std::size_t>(i)]);
            }
        }
        if (static_cast<std::size_t>(count) < events.size()) {
            break;
        }
    }
    if (entry->grabbed) {
        return false; // the usual case: nothing else to do
    }
    tryGrab(*entry, now ? *now : Clock::now());
    return true;
}

bool KeyboardSet::tick(Clock::time_point now) {
    std::vector<std::pair<std::string, bool>> due;
    for (const auto& [path, retry] : retries_) {
        if (retry.next <= now) {
            due.emplace_back(path, retry.knownKeyboard);
        }
    }
    for (const auto& [path, knownKeyboard] : due) {
        tryOpen(path, now, knownKeyboard);
    }
    for (auto& entry : entries_) {
        tryGrab(*entry, now);
    }
    return hasPendingWork();
}

bool KeyboardSet::hasPendingWork() const {
    if (!retries_.empty()) {
        return true;
    }
    for (const auto& entry : entries_) {
        if (grabbing_ && !entry->grabbed && entry->grabWaitSince) {
            return true;
        }
    }
    return false;
}

void KeyboardSet::mirrorLed(std::uint16_t code, bool on) {
    leds_[code] = on;
    for (auto& entry : entries_) {
        entry->device->setLed(code, on);
    }
}

bool KeyboardSet::capsLockLed() const {
    if (const auto it = leds_.find(LED_CAPSL); it != leds_.end()) {
        return it->second;
    }
    // Before the desktop wrote anything: what the keyboards show.
    for (const auto& entry : entries_) {
        if (entry->device->ledOn(LED_CAPSL)) {
            return true;
        }
    }
    return false;
}

bool KeyboardSet::isGrabbed(const std::string& path) const {
    for (const auto& entry : entries_) {
        if (entry->path == path) {
            return entry->grabbed;
        }
    }
    return false;
}

bool KeyboardSet::takeStall() {
    if (guard_.state.load(std::memory_order_acquire) != StallGuardPage::kLetGo) {
        return false;
    }
    grabbing_ = false;
    for (auto& entry : entries_) {
        entry->grabWaitSince.reset();
        if (entry->grabbed) {
            // The guard let go of the same open device already; this only
            // brings the device's own view in line.
            entry->device->grab(false);
            entry->grabbed = false;
        }
        discardPending(*entry);
    }
    router_.releaseAll();
    guard_.armed.store(0, std::memory_order_relaxed);
    guard_.state.store(StallGuardPage::kHolding, std::memory_order_release);
    return true;
}

// What waited on a keyboard while the guard had let it go reached the desktop
// when it was typed; forwarding it once grabbed again would type it twice.
void KeyboardSet::discardPending(Entry& entry) {
    ReadBuffer events;
    while (entry.device->read(events) == static_cast<int>(events.size())) {
    }
}

KeyboardSet::Entry* KeyboardSet::find(const InputDevice& device) {
    for (auto& entry : entries_) {
        if (entry->device.get() == &device) {
            return entry.get();
        }
    }
    return nullptr;
}

} // namespace tarnell::input
