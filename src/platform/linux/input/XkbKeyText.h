#pragma once

#include "platform/linux/input/KeyRouter.h"
#include "platform/linux/input/KeyboardLayoutSource.h"
#include "platform/linux/input/XkbKeymap.h"

#include <memory>

struct xkb_state;

namespace tarnell::input {

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
    // nullptr when the layout has no keymap.
    static std::unique_ptr<XkbKeyText> forLayout(const KeyboardLayout& layout);

    ~XkbKeyText() override;
    XkbKeyText(const XkbKeyText&) = delete;
    XkbKeyText& operator=(const XkbKeyText&) = delete;

    // The one way the layout changes: from the next key on, text comes from this
    // keymap with this group locked. The keymap itself is shared and never changed;
    // a new keyboard state is made for it and replaces the old one whole. Caps Lock
    // and Num Lock stay as they were; with another keymap, keys held meanwhile count
    // as released. Called between keys; a layout without a keymap changes nothing.
    void install(const KeyboardLayout& layout);

    [[nodiscard]] bool affectsState(std::uint16_t code) const override {
        return keymap_->affectsState(code);
    }
    void updateKey(std::uint16_t code, bool down) override;
    int text(std::uint16_t code, char16_t* buffer, int maxLength) const override;

    // Sets or clears the Caps Lock lock as the desktop's LED shows it.
    void setCapsLocked(bool locked) override;

private:
    XkbKeyText(std::shared_ptr<const XkbKeymap> keymap, xkb_state* state);

    std::shared_ptr<const XkbKeymap> keymap_;
    xkb_state* state_;
};

} // namespace tarnell::input
