#include "platform/linux/input/XkbKeyText.h"

#include "platform/linux/input/SystemKeyboardLayout.h"

#include <algorithm>
#include <array>
#include <utility>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

namespace tarnell::input {
namespace {

// Kernel key codes are XKB key codes less 8.
constexpr xkb_keycode_t kXkbOffset = 8;

// Decodes UTF-8 into at most maxLength UTF-16 units; returns the units written.
int utf8ToUtf16(const char* text, std::size_t length, char16_t* out, int maxLength) {
    int written = 0;
    std::size_t i = 0;
    while (i < length && written < maxLength) {
        const auto lead = static_cast<unsigned char>(text[i]);
        char32_t cp = 0;
        std::size_t extra = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            cp = lead & 0x1FU, extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            cp = lead & 0x0FU, extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            cp = lead & 0x07U, extra = 3;
        } else {
            break;
        }
        if (i + extra >= length) {
            break; // a sequence cut short
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3FU);
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            if (written + 2 > maxLength) {
                break;
            }
            cp -= 0x10000;
            out[written++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            out[written++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out[written++] = static_cast<char16_t>(cp);
        }
    }
    return written;
}

// A fresh state of the keymap with the group locked, and the locks of `previous`
// (Caps Lock, Num Lock) carried over by name.
xkb_state* newState(const XkbKeymap& keymap, std::uint32_t group, xkb_state* previous) {
    xkb_state* state = xkb_state_new(keymap.get());
    if (state == nullptr) {
        return nullptr;
    }
    xkb_mod_mask_t locked = 0;
    if (previous != nullptr) {
        for (const char* name : {XKB_MOD_NAME_CAPS, XKB_MOD_NAME_NUM}) {
            const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap.get(), name);
            if (index != XKB_MOD_INVALID &&
                xkb_state_mod_name_is_active(previous, name, XKB_STATE_MODS_LOCKED) > 0) {
                locked |= xkb_mod_mask_t{1} << index;
            }
        }
    }
    xkb_state_update_mask(state, 0, 0, locked, 0, 0, group);
    return state;
}

} // namespace

XkbKeyText::XkbKeyText(std::shared_ptr<const XkbKeymap> keymap, xkb_state* state)
    : keymap_(std::move(keymap)), state_(state) {}

XkbKeyText::~XkbKeyText() {
    xkb_state_unref(state_);
}

std::unique_ptr<XkbKeyText> XkbKeyText::forLayout(const KeyboardLayout& layout) {
    if (!layout.keymap) {
        return nullptr;
    }
    xkb_state* state = newState(*layout.keymap, layout.group, nullptr);
    if (state == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<XkbKeyText>(new XkbKeyText(layout.keymap, state));
}

std::unique_ptr<XkbKeyText> XkbKeyText::fromNames(const XkbNames& names) {
    return forLayout({XkbKeymap::fromNames(names), 0});
}

std::unique_ptr<XkbKeyText> XkbKeyText::fromX11Display() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (connection == nullptr || xcb_connection_has_error(connection) != 0) {
        if (connection != nullptr) {
            xcb_disconnect(connection);
        }
        return nullptr;
    }
    std::unique_ptr<XkbKeyText> result;
    if (xkb_x11_setup_xkb_extension(
            connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr) != 0) {
        result = forLayout(
            {XkbKeymap::fromX11Device(connection, xkb_x11_get_core_keyboard_device_id(connection)),
             0});
    }
    xcb_disconnect(connection);
    return result;
}

std::unique_ptr<XkbKeyText> XkbKeyText::forUserLayout() {
    if (auto fromDisplay = fromX11Display()) {
        return fromDisplay;
    }
    if (const auto names = systemKeyboardLayout()) {
        if (auto fromSystem = fromNames(*names)) {
            return fromSystem;
        }
    }
    return fromNames({});
}

void XkbKeyText::install(const KeyboardLayout& layout) {
    if (!layout.keymap) {
        return;
    }
    if (layout.keymap == keymap_) {
        // The same keymap, another group: the keys held and their modifiers stay.
        xkb_state_update_mask(state_, xkb_state_serialize_mods(state_, XKB_STATE_MODS_DEPRESSED),
                              xkb_state_serialize_mods(state_, XKB_STATE_MODS_LATCHED),
                              xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED), 0, 0,
                              layout.group);
        return;
    }
    xkb_state* state = newState(*layout.keymap, layout.group, state_);
    if (state == nullptr) {
        return;
    }
    xkb_state_unref(std::exchange(state_, state));
    keymap_ = layout.keymap;
}

void XkbKeyText::updateKey(std::uint16_t code, bool down) {
    xkb_state_update_key(state_, code + kXkbOffset, down ? XKB_KEY_DOWN : XKB_KEY_UP);
}

void XkbKeyText::setCapsLocked(bool locked) {
    const xkb_mod_index_t lock = xkb_keymap_mod_get_index(keymap_->get(), XKB_MOD_NAME_CAPS);
    if (lock == XKB_MOD_INVALID) {
        return;
    }
    const auto depressed = xkb_state_serialize_mods(state_, XKB_STATE_MODS_DEPRESSED);
    const auto latched = xkb_state_serialize_mods(state_, XKB_STATE_MODS_LATCHED);
    auto locked_mods = xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED);
    const xkb_mod_mask_t mask = xkb_mod_mask_t{1} << lock;
    locked_mods = locked ? (locked_mods | mask) : (locked_mods & ~mask);
    xkb_state_update_mask(state_, depressed, latched, locked_mods,
                          xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_DEPRESSED),
                          xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_LATCHED),
                          xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_LOCKED));
}

int XkbKeyText::text(std::uint16_t code, char16_t* buffer, int maxLength) const {
    std::array<char, 64> utf8{};
    const int needed = xkb_state_key_get_utf8(state_, code + kXkbOffset, utf8.data(), utf8.size());
    if (needed <= 0) {
        return 0;
    }
    const auto length = std::min(static_cast<std::size_t>(needed), utf8.size() - 1);
    return utf8ToUtf16(utf8.data(), length, buffer, maxLength);
}

} // namespace tarnell::input
