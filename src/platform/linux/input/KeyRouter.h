#pragma once

#include "engine/KeyEvent.h"
#include "engine/PlatformServices.h"
#include "platform/linux/input/KeyMap.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <linux/input.h>
#include <span>

namespace tarnell::input {

// Where the routed events go: the virtual keyboard, or a test's recorder.
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void write(std::span<const input_event> events) = 0;
};

// The text keys type, with a keyboard state fed by the keys the user passes on.
class KeyTextSource {
public:
    virtual ~KeyTextSource() = default;
    // Whether pressing or releasing the key can change the keyboard state
    // (modifiers, locks, groups); only those keys need to be fed.
    [[nodiscard]] virtual bool affectsState(std::uint16_t code) const = 0;
    virtual void updateKey(std::uint16_t code, bool down) = 0;
    // UTF-16 text of the key in the current state; returns the units written.
    virtual int text(std::uint16_t code, char16_t* buffer, int maxLength) const = 0;
    // The desktop's Caps Lock state, when it is known.
    virtual void setCapsLocked(bool /*locked*/) {}
};

// One key event of a grabbed keyboard as the engine sees it.
class RoutedKeyEvent final : public engine::KeyEvent {
public:
    RoutedKeyEvent(std::int64_t virtualCode, bool autorepeat, std::uint64_t flags,
                   std::uint16_t kernelCode, const KeyTextSource* text)
        : virtualCode_(virtualCode), autorepeat_(autorepeat), flags_(flags),
          kernelCode_(kernelCode), text_(text) {}

    [[nodiscard]] std::int64_t integerValueField(int field) const override {
        if (field == engine::kFieldKeycode) {
            return virtualCode_;
        }
        if (field == engine::kFieldAutorepeat) {
            return autorepeat_ ? 1 : 0;
        }
        return 0;
    }
    [[nodiscard]] std::uint64_t flags() const override { return flags_; }
    void setFlags(std::uint64_t flags) override { flags_ = flags; }
    int unicodeString(char16_t* buffer, int maxLength) const override {
        return text_ != nullptr ? text_->text(kernelCode_, buffer, maxLength) : 0;
    }
    [[nodiscard]] std::uint16_t kernelCode() const { return kernelCode_; }

private:
    std::int64_t virtualCode_;
    bool autorepeat_;
    std::uint64_t flags_;
    std::uint16_t kernelCode_;
    const KeyTextSource* text_;
};

// Turns the events of grabbed keyboards into what the virtual keyboard emits:
// applies the key mapping, hands each key to the tap's callback, passes modifier
// keys and other input straight through (the keyboards' LED reports are not
// input and stay behind), and makes the flags of every emitted key hold on the
// output by pressing and releasing modifiers around it. Keeps track of every key
// the output holds so that none is ever left down.
// Main thread only; the pass path neither allocates nor locks.
class KeyRouter {
public:
    KeyRouter(EventSink& sink, KeyTextSource& text, const KeyMap& map)
        : sink_(sink), text_(text), map_(map) {}

    void setCallback(engine::EventTapCallback callback, void* userInfo) {
        callback_ = callback;
        userInfo_ = userInfo;
    }

    // One event read from a grabbed keyboard. Output is written at its sync report.
    void route(const input_event& event);
    // Writes what is buffered.
    void flush();

    // Hands a notification such as "tap disabled by timeout" to the callback.
    void report(std::uint32_t type);

    // Releases every key the output holds, Tarnell's modifiers included, and
    // forgets the physical modifiers (the keyboards are let go or re-grabbed).
    void releaseAll();

    // Presses and releases Caps Lock on the output, untouched by the mapping.
    void tapCapsLock();

    // Shift, Control, Alt and Super flags of the modifiers the user holds.
    [[nodiscard]] std::uint64_t modifierFlags() const { return physicalFlags_; }
    [[nodiscard]] bool outputHolds(std::uint16_t code) const { return held_.test(code); }
    [[nodiscard]] int forwardedKeysHeld() const { return forwarded_; }

private:
    void routeKey(std::uint16_t code, std::int32_t value);
    void passThroughModifier(std::uint16_t code, std::int32_t value);
    void realiseFlags(std::uint64_t flags);
    void releaseAddedModifiers();
    void endChordKey(std::uint16_t code);
    void emitEvent(std::uint16_t type, std::uint16_t code, std::int32_t value);
    void emitKey(std::uint16_t code, std::int32_t value);
    void emitSync();
    void feedText(std::uint16_t code, std::int32_t value);
    static std::uint64_t flagsOf(std::uint8_t physical);

    EventSink& sink_;
    KeyTextSource& text_;
    const KeyMap& map_;
    engine::EventTapCallback callback_ = nullptr;
    void* userInfo_ = nullptr;

    std::array<input_event, 64> buffer_{};
    std::size_t buffered_ = 0;
    bool unsynced_ = false; // something was emitted since the last sync report

    std::bitset<KEY_CNT> held_;       // keys the output holds
    int forwarded_ = 0;               // of them, keys handed on through the callback
    std::bitset<KEY_CNT> chord_;      // of those, keys that came out with Tarnell's modifiers
                                      // (none while Tarnell holds none)
    std::uint8_t physical_ = 0;       // modifier keys the user holds (bit per modifier key)
    std::uint8_t added_ = 0;          // modifier keys Tarnell holds on the output
    std::uint64_t physicalFlags_ = 0; // the flags of physical_
};

} // namespace tarnell::input
