#pragma once

#include <bitset>
#include <cstdint>
#include <linux/input.h>
#include <memory>
#include <string>

struct xkb_keymap;
struct xcb_connection_t;

namespace tarnell::input {

// Rules, model, layout, variant and options of a keyboard layout; empty fields
// take the XKB defaults.
struct XkbNames {
    std::string rules;
    std::string model;
    std::string layout;
    std::string variant;
    std::string options;
    friend bool operator==(const XkbNames&, const XkbNames&) = default;
};

// A compiled keymap. It never changes once made, so one keymap may serve any number
// of keyboard states, and a new layout is taken by swapping the keymap whole.
class XkbKeymap {
public:
    // nullptr when the names make no keymap.
    static std::shared_ptr<const XkbKeymap> fromNames(const XkbNames& names);
    // The keymap of an X server's keyboard device, on a connection set up for XKB;
    // nullptr when the server sends none.
    static std::shared_ptr<const XkbKeymap> fromX11Device(xcb_connection_t* connection,
                                                          std::int32_t device);

    ~XkbKeymap();
    XkbKeymap(const XkbKeymap&) = delete;
    XkbKeymap& operator=(const XkbKeymap&) = delete;

    [[nodiscard]] xkb_keymap* get() const { return keymap_; }
    // Whether pressing or releasing the key can change a keyboard state (modifiers,
    // locks, groups).
    [[nodiscard]] bool affectsState(std::uint16_t code) const {
        return code < affects_.size() && affects_.test(code);
    }
    // How many layouts (groups) the keymap holds.
    [[nodiscard]] std::uint32_t layoutCount() const { return layoutCount_; }
    // The name the keymap gives a layout ("German"); empty when it gives none.
    [[nodiscard]] std::string layoutName(std::uint32_t group) const;

private:
    // Takes over the reference.
    explicit XkbKeymap(xkb_keymap* keymap);
    static std::shared_ptr<const XkbKeymap> adopt(xkb_keymap* keymap);

    xkb_keymap* keymap_;
    std::bitset<KEY_CNT> affects_;
    std::uint32_t layoutCount_;
};

} // namespace tarnell::input
