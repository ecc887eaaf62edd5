#pragma once

#include "engine/KeyEvent.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

namespace tarnell {
class BindingStore;
struct AppBinding;
struct BindingSnapshot;
} // namespace tarnell

namespace tarnell::engine {

enum class EventOutcome : std::uint8_t { pass, passWithHyperFlags, swallow };

struct HyperAction {
    enum class Kind : std::uint8_t { none, reenableTap, toggleCapsLock, openSettings, activateApp };
    Kind kind = Kind::none;
    // For activateApp: the bound application's URL. Points into the decision's
    // snapshot of the bindings, valid while that is held.
    std::string_view appURL;

    friend bool operator==(const HyperAction&, const HyperAction&) = default;
};

struct Decision {
    EventOutcome outcome = EventOutcome::pass;
    HyperAction action;
    // The bindings the decision looked at, when it looked at any: holds what the
    // action's URL points into.
    std::shared_ptr<const BindingSnapshot> bindings;
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

// What the decision needs besides the event and the state. The store is read
// through its snapshot, and only when the decision needs it (never on the pass
// path), so the decision may run on any thread.
struct DecisionContext {
    const BindingStore& store;
    bool hasOnOpenSettings;
};

// Decides one event: updates the state, sets the hyper flags on the event in place
// for passWithHyperFlags, and names at most one action for the caller to carry out.
Decision decideEvent(HyperState& state, std::uint32_t type, KeyEvent& event,
                     const DecisionContext& context);

} // namespace tarnell::engine
