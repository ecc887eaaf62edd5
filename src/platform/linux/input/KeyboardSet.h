#pragma once

#include "platform/linux/input/InputDevice.h"
#include "platform/linux/input/KeyRouter.h"
#include "platform/linux/input/StallGuardPage.h"

#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnell::input {

// The keyboards Tarnell captures: opens them (retrying a device that is not
// readable yet), grabs each once the stall guard watches it too and no key on it
// is down (or after a bounded wait), routes the events of grabbed ones, discards
// the rest, mirrors the desktop's LED state onto them, and tells the stall guard
// through the shared page whether it grabs and when it takes input. Main thread
// only.
class KeyboardSet {
public:
    using Clock = std::chrono::steady_clock;

    struct Options {
        Clock::duration grabWait = std::chrono::seconds(1);
        Clock::duration openRetryInterval = std::chrono::milliseconds(100);
        int openAttempts = 20;
    };

    // Told when a keyboard joins or leaves, to watch its descriptor.
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void keyboardAdded(InputDevice& device) = 0;
        virtual void keyboardRemoved(InputDevice& device) = 0;
    };

    KeyboardSet(DeviceOpener& opener, KeyRouter& router, StallGuardPage& guard, Options options);
    KeyboardSet(DeviceOpener& opener, KeyRouter& router, StallGuardPage& guard)
        : KeyboardSet(opener, router, guard, Options{}) {}
    ~KeyboardSet();
    KeyboardSet(const KeyboardSet&) = delete;
    KeyboardSet& operator=(const KeyboardSet&) = delete;

    // What has to watch a keyboard before it may be grabbed: the stall guard.
    // Without one, every keyboard may be.
    class Watcher {
    public:
        virtual ~Watcher() = default;
        // True once it watches the keyboard.
        virtual bool watch(InputDevice& device) = 0;
        virtual void forget(InputDevice& device) = 0;
    };

    void setListener(Listener* listener) { listener_ = listener; }
    void setWatcher(Watcher* watcher) { watcher_ = watcher; }
    // A new watcher (the guard was replaced): every keyboard is watched anew;
    // one it does not take is let go, with the keys it holds released.
    void watchAll(Clock::time_point now);

    // A device appeared (or was named). It is taken when udev calls it a keyboard
    // or it has letter keys, and never when it is a virtual device of Tarnell.
    void add(const std::string& path, Clock::time_point now, bool knownKeyboard = false);
    void remove(const std::string& path);
    void removeAll();

    // Grabbing on: every keyboard is grabbed as soon as it may be. Off: all are
    // let go and the output releases every key it holds.
    void setGrabbing(bool enabled, Clock::time_point now);
    [[nodiscard]] bool grabbing() const { return grabbing_; }

    // The device's descriptor is readable. True when that may have left work
    // for tick(); the clock is read only then.
    bool readable(InputDevice& device) { return readableAt(device, std::nullopt); }
    bool readable(InputDevice& device, Clock::time_point now) { return readableAt(device, now); }
    // Retries opens and ends bounded grab waits; true while there is more to do.
    bool tick(Clock::time_point now);
    [[nodiscard]] bool hasPendingWork() const;

    // The desktop set an LED on the virtual keyboard: show it on every keyboard.
    void mirrorLed(std::uint16_t code, bool on);
    // The Caps Lock LED as the desktop last set it; false when unknown.
    [[nodiscard]] bool capsLockLed() const;
    void assumeCapsLockLed(bool on) { leds_[LED_CAPSL] = on; }

    [[nodiscard]] std::size_t size() const { return entries_.size(); }
    [[nodiscard]] bool isGrabbed(const std::string& path) const;

    // Catches up with the stall guard once it let the keyboards go: true then
    // (once), with grabbing off, the output's keys released and the input that
    // waited meanwhile discarded (the desktop had it already).
    bool takeStall();

private:
    struct Entry {
        std::string path;
        std::unique_ptr<InputDevice> device;
        bool grabbed = false;
        bool watched = false;
        std::optional<Clock::time_point> grabWaitSince;
    };
    struct Retry {
        int attempts = 0;
        bool knownKeyboard = false;
        Clock::time_point next;
    };

    bool readableAt(InputDevice& device, std::optional<Clock::time_point> now);
    void tryOpen(const std::string& path, Clock::time_point now, bool knownKeyboard);
    void tryGrab(Entry& entry, Clock::time_point now);
    void releaseKeysOf(Entry& entry);
    void discardPending(Entry& entry);
    Entry* find(const InputDevice& device);
    void erase(std::size_t index);

    DeviceOpener& opener_;
    KeyRouter& router_;
    StallGuardPage& guard_;
    const Options options_;
    Listener* listener_ = nullptr;
    Watcher* watcher_ = nullptr;
    bool grabbing_ = false;
    std::vector<std::unique_ptr<Entry>> entries_;
    std::map<std::string, Retry> retries_;
    std::map<std::uint16_t, bool> leds_;
};

} // namespace tarnell::input
