#include "platform/linux/input/KeyRouter.h"

#include "platform/linux/input/KeyCodes.h"

namespace tarnell::input {
namespace {

struct ModifierKey {
    std::uint16_t code;
    std::uint64_t flag;
};

// Bit i of the modifier masks stands for kModifierKeys[i]; the left key of each
// pair comes first and is the one Tarnell presses.
constexpr std::array<ModifierKey, 8> kModifierKeys{{
    {KEY_LEFTSHIFT, engine::kFlagShift},
    {KEY_RIGHTSHIFT, engine::kFlagShift},
    {KEY_LEFTCTRL, engine::kFlagControl},
    {KEY_RIGHTCTRL, engine::kFlagControl},
    {KEY_LEFTALT, engine::kFlagAlt},
    {KEY_RIGHTALT, engine::kFlagAlt},
    {KEY_LEFTMETA, engine::kFlagSuper},
    {KEY_RIGHTMETA, engine::kFlagSuper},
}};

int modifierIndex(std::uint16_t code) {
    for (std::size_t i = 0; i < kModifierKeys.size(); ++i) {
        if (kModifierKeys[i].code == code) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::uint8_t bit(std::size_t index) {
    return static_cast<std::uint8_t>(1U << index);
}

std::uint8_t pairBits(std::size_t left) {
    return static_cast<std::uint8_t>(bit(left) | bit(left + 1));
}

// Mouse and other buttons of combined devices: not keys for the engine.
bool isButton(std::uint16_t code) {
    return (code >= BTN_MISC && code < KEY_OK) || (code >= BTN_DPAD_UP && code <= BTN_DPAD_RIGHT) ||
           code >= BTN_TRIGGER_HAPPY;
}

// Keys that reach the engine; the rest pass straight through.
bool isEngineKey(std::uint16_t code) {
    return !isModifierKey(code) && code != KEY_CAPSLOCK && !isButton(code);
}

} // namespace

void KeyRouter::route(const input_event& event) {
    switch (event.type) {
    case EV_KEY:
        routeKey(map_.apply(event.code), event.value);
        break;
    case EV_SYN:
        if (event.code == SYN_REPORT) {
            if (unsynced_) {
                emitSync();
            }
            flush();
        } else if (event.code != SYN_DROPPED) {
            emitEvent(event.type, event.code, event.value);
        }
        break;
    case EV_LED:
        // The keyboard reporting the LEDs it was told to show: not input. Passed
        // on, it would come back as a change of the desktop's LEDs.
        break;
    default:
        emitEvent(event.type, event.code, event.value);
        break;
    }
}

void KeyRouter::routeKey(std::uint16_t code, std::int32_t value) {
    if (value < 0 || value > 2 || code >= KEY_CNT) {
        return;
    }
    if (!isEngineKey(code)) {
        passThroughModifier(code, value);
        return;
    }
    RoutedKeyEvent event(virtualKeyCode(code), value == 2, physicalFlags_, code, &text_);
    engine::KeyEvent* result = &event;
    if (callback_ != nullptr) {
        result = callback_(nullptr, value == 0 ? engine::kEventKeyUp : engine::kEventKeyDown,
                           &event, userInfo_);
    }
    const bool held = held_.test(code);
    if (result == nullptr) {
        // A key that went down through Tarnell always comes up, or it would stick.
        if (value == 0 && held) {
            emitKey(code, 0);
            endChordKey(code);
        }
        return;
    }
    // Repeats and releases of a key the output never pressed would only move
    // modifiers around for nothing.
    if (value != 1 && !held) {
        return;
    }
    realiseFlags(result->flags());
    emitKey(code, value);
    feedText(code, value);
    if (value == 0) {
        endChordKey(code);
    } else if (added_ != 0) {
        // Out with Tarnell's modifiers, whatever its key-down carried: a key held
        // from before the Hyper key went down counts once it repeats with them.
        chord_.set(code);
    }
}

void KeyRouter::passThroughModifier(std::uint16_t code, std::int32_t value) {
    const int index = modifierIndex(code);
    if (index >= 0) {
        const std::uint8_t mask = bit(static_cast<std::size_t>(index));
        if (value == 1) {
            physical_ |= mask;
            physicalFlags_ = flagsOf(physical_);
            if ((added_ & mask) != 0) {
                // Already down on the output: from now on it is the user's.
                added_ = static_cast<std::uint8_t>(added_ & ~mask);
                if (added_ == 0) {
                    chord_.reset();
                }
                feedText(code, value);
                return;
            }
        } else if (value == 0) {
            physical_ = static_cast<std::uint8_t>(physical_ & ~mask);
            physicalFlags_ = flagsOf(physical_);
        }
    }
    if (value == 2 && !held_.test(code)) {
        return;
    }
    emitKey(code, value);
    feedText(code, value);
}

void KeyRouter::realiseFlags(std::uint64_t flags) {
    const std::uint64_t wanted = flags & engine::kHyperModifierMask;
    if (added_ == 0 && (wanted & ~physicalFlags_) == 0) {
        return; // the usual case: what the event holds is what the user holds
    }
    bool changed = false;
    for (std::size_t left = 0; left < kModifierKeys.size(); left += 2) {
        const std::uint8_t pair = pairBits(left);
        if ((wanted & kModifierKeys[left].flag) != 0) {
            if (((physical_ | added_) & pair) == 0) {
                emitKey(kModifierKeys[left].code, 1);
                added_ |= bit(left);
                changed = true;
            }
        } else if ((added_ & pair) != 0) {
            for (std::size_t i = left; i < left + 2; ++i) {
                if ((added_ & bit(i)) != 0) {
                    emitKey(kModifierKeys[i].code, 0);
                }
            }
            added_ = static_cast<std::uint8_t>(added_ & ~pair);
            changed = true;
        }
    }
    if (added_ == 0) {
        chord_.reset();
    }
    if (changed) {
        emitSync();
    }
}

// Tarnell's modifiers stay while a key that came out with them is held (so the
// desktop's repeat of the chord keeps them) and go with the last such key, or
// with the key-up they were pressed for.
void KeyRouter::endChordKey(std::uint16_t code) {
    if (added_ == 0) {
        return; // the usual case; no key counts then
    }
    chord_.reset(code);
    if (chord_.none()) {
        releaseAddedModifiers();
    }
}

void KeyRouter::releaseAddedModifiers() {
    if (added_ == 0) {
        return;
    }
    // The key's release is reported before the modifiers go, never with them.
    if (unsynced_) {
        emitSync();
    }
    for (std::size_t i = 0; i < kModifierKeys.size(); ++i) {
        if ((added_ & bit(i)) != 0) {
            emitKey(kModifierKeys[i].code, 0);
        }
    }
    added_ = 0;
    chord_.reset();
    emitSync();
}

std::uint64_t KeyRouter::flagsOf(std::uint8_t physical) {
    std::uint64_t flags = 0;
    for (std::size_t left = 0; left < kModifierKeys.size(); left += 2) {
        if ((physical & pairBits(left)) != 0) {
            flags |= kModifierKeys[left].flag;
        }
    }
    return flags;
}

void KeyRouter::report(std::uint32_t type) {
    if (callback_ == nullptr) {
        return;
    }
    RoutedKeyEvent event(0, false, 0, 0, nullptr);
    callback_(nullptr, type, &event, userInfo_);
}

void KeyRouter::releaseAll() {
    if (unsynced_) {
        emitSync();
    }
    bool any = false;
    for (std::uint16_t code = 0; code < KEY_CNT; ++code) {
        if (held_.test(code)) {
            emitKey(code, 0);
            if (modifierIndex(code) >= 0) {
                feedText(code, 0);
            }
            any = true;
        }
    }
    if (any) {
        emitSync();
    }
    flush();
    physical_ = 0;
    physicalFlags_ = 0;
    added_ = 0;
    chord_.reset();
    forwarded_ = 0;
}

void KeyRouter::tapCapsLock() {
    if (unsynced_) {
        emitSync();
    }
    if (held_.test(KEY_CAPSLOCK)) {
        emitKey(KEY_CAPSLOCK, 0);
        emitSync();
    }
    emitKey(KEY_CAPSLOCK, 1);
    feedText(KEY_CAPSLOCK, 1);
    emitSync();
    emitKey(KEY_CAPSLOCK, 0);
    feedText(KEY_CAPSLOCK, 0);
    emitSync();
    flush();
}

void KeyRouter::emitEvent(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    if (buffered_ == buffer_.size()) {
        flush();
    }
    input_event& out = buffer_[buffered_++];
    out.type = type;
    out.code = code;
    out.value = value;
    unsynced_ = true;
}

void KeyRouter::emitKey(std::uint16_t code, std::int32_t value) {
    if (value == 1 && !held_.test(code)) {
        held_.set(code);
        if (isEngineKey(code)) {
            ++forwarded_;
        }
    } else if (value == 0 && held_.test(code)) {
        held_.reset(code);
        if (isEngineKey(code)) {
            --forwarded_;
        }
    }
    emitEvent(EV_KEY, code, value);
}

void KeyRouter::emitSync() {
    emitEvent(EV_SYN, SYN_REPORT, 0);
    unsynced_ = false;
}

void KeyRouter::flush() {
    if (buffered_ == 0) {
        return;
    }
    sink_.write(std::span<const input_event>(buffer_.data(), buffered_));
    buffered_ = 0;
}

void KeyRouter::feedText(std::uint16_t code, std::int32_t value) {
    if (value != 2 && text_.affectsState(code)) {
        text_.updateKey(code, value == 1);
    }
}

} // namespace tarnell::input
