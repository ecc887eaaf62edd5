#pragma once

#include "platform/linux/input/KeyRouter.h"

#include <bitset>
#include <memory>
#include <string>

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace tarnell::input {

// Rules, model, layout, variant and options of a keyboard layout; empty fields
// take the XKB defaults.
struct XkbNames {
    std::string rules;
    std::string model;
    std::string layout;
    std::string variant;
    std::string options;
};

// Key text through libxkbcommon, with a keyboard state that follows the keys fed.
class XkbKeyText final : public KeyTextSource {
public:
    // The layout the user types with: the X server's keymap when a display is
    // reachable, else the system keyboard configuration, else the XKB defaults.
    static std::unique_ptr<XkbKeyText> forUserLayout();
    // nullptr when the names make no keymap.
    static std::unique_ptr<XkbKeyText> fromNames(const XkbNames& names);
    // nullptr when there is no reachable X server or it has no keyboard.
    static std::unique_ptr<XkbKeyText> fromX11Display();

    ~XkbKeyText() override;
    XkbKeyText(const XkbKeyText&) = delete;
    XkbKeyText& operator=(const XkbKeyText&) = delete;

    [[nodiscard]] bool affectsState(std::uint16_t code) const override {
        return code < affects_.size() && affects_.test(code);
    }
    void updateKey(std::uint16_t code, bool down) override;
    int text(std::uint16_t code, char16_t* buffer, int maxLength) const override;

    // Sets or clears the Caps Lock lock as the desktop's LED shows it.
    void setCapsLocked(bool locked) override;

private:
    XkbKeyText(xkb_context* context, xkb_keymap* keymap);

    xkb_context* context_;
    xkb_keymap* keymap_;
    xkb_state* state_;
    std::bitset<KEY_CNT> affects_;
};

} // namespace tarnell::input
