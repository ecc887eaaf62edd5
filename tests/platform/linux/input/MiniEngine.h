#pragma once

#include "engine/KeyEvent.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarnell::input::testing {

// A stand-in for the engine's decision, enough to drive the layer: 79 is the
// Hyper key and is swallowed; while it is held, a key typing "s" is swallowed and
// every other key gains the hyper mask. Records what it was shown.
struct MiniEngine {
    struct Seen {
        std::uint32_t type;
        std::int64_t keycode;
        std::int64_t autorepeat;
        std::uint64_t flags;
        std::string text;
    };

    static engine::KeyEvent* callback(void* /*proxy*/, std::uint32_t type, engine::KeyEvent* event,
                                      void* userInfo) {
        return static_cast<MiniEngine*>(userInfo)->handle(type, *event);
    }

    engine::KeyEvent* handle(std::uint32_t type, engine::KeyEvent& event) {
        if (type != engine::kEventKeyDown && type != engine::kEventKeyUp) {
            notifications.push_back(type);
            if (onNotification) {
                onNotification(type);
            }
            return &event;
        }
        char16_t buffer[4] = {};
        const int length = event.unicodeString(buffer, 4);
        std::string text;
        for (int i = 0; i < length; ++i) {
            text.push_back(static_cast<char>(buffer[i]));
        }
        const auto keycode = event.integerValueField(engine::kFieldKeycode);
        seen.push_back({type, keycode, event.integerValueField(engine::kFieldAutorepeat),
                        event.flags(), text});
        if (keycode == engine::kHyperTriggerKeyCode) {
            hyperDown = type == engine::kEventKeyDown;
            return nullptr;
        }
        if (!hyperDown) {
            return &event;
        }
        if (text == "s" || text == "S") {
            return nullptr;
        }
        event.setFlags(event.flags() | engine::kHyperModifierMask);
        return &event;
    }

    bool hyperDown = false;
    std::vector<Seen> seen;
    std::vector<std::uint32_t> notifications;
    std::function<void(std::uint32_t)> onNotification;
};

} // namespace tarnell::input::testing
