#pragma once

#include "engine/KeyEvent.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace tarnell {
class BindingStore;
struct AppBinding;
} // namespace tarnell

namespace tarnell::engine {

enum class EventOutcome : std::uint8_t { pass, passWithHyperFlags, swallow };

struct HyperAction {
    enum class Kind : std::uint8_t { none, reenableTap, toggleCapsLock, openSettings, activateApp };
    Kind kind = Kind::none;
    // For activateApp: the bound application's URL. Points into the store's
    // binding and is valid until the store next changes.
    std::string_view appURL;

    friend bool operator==(const HyperAction&, const HyperAction&) = default;
};

struct Decision {
    EventOutcome outcome = EventOutcome::pass;
    HyperAction action;
};

// The Hyper key state, both false when the monitor is made.
struct HyperState {
    bool isHyperDown = false;
    bool wasHyperUsed = false;
};

// The lowercased text a key types, at most 4 UTF-16 code units before
// lowercasing, held without heap memory.
class KeyText {
public:
    static constexpr int kMaxUnits = 4;
    [[nodiscard]] bool empty() const { return length_ == 0; }
    [[nodiscard]] std::string_view utf8() const { return {bytes_.data(), length_}; }

private:
    friend KeyText keyCharacter(const KeyEvent& event);
    // 4 code units lowercase to at most 12 code points of at most 4 bytes each.
    std::array<char, 64> bytes_{};
    std::size_t length_ = 0;
};

// The key's text lowercased with the locale-independent full Unicode mapping;
// empty when the key types nothing.
KeyText keyCharacter(const KeyEvent& event);

inline constexpr std::string_view kSettingsKey = ",";

// What the decision needs besides the event and the state.
struct DecisionContext {
    const BindingStore& store;
    bool hasOnOpenSettings;
};

// Decides one event: updates the state, sets the hyper flags on the event in place
// for passWithHyperFlags, and names at most one action for the caller to carry out.
Decision decideEvent(HyperState& state, std::uint32_t type, KeyEvent& event,
                     const DecisionContext& context);

} // namespace tarnell::engine
