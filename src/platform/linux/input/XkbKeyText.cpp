#include "platform/linux/input/XkbKeyText.h"

#include "platform/linux/input/SystemKeyboardLayout.h"

#include <algorithm>
#include <array>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

namespace tarnell::input {
namespace {

// Kernel key codes are XKB key codes less 8.
constexpr xkb_keycode_t kXkbOffset = 8;

xkb_context* newContext() {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (context != nullptr) {
        // Tarnell keeps no log; a keymap that cannot be made means keys without text.
        xkb_context_set_log_level(context, XKB_LOG_LEVEL_CRITICAL);
    }
    return context;
}

const char* orNull(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

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

} // namespace

XkbKeyText::XkbKeyText(xkb_context* context, xkb_keymap* keymap)
    : context_(context), keymap_(keymap), state_(xkb_state_new(keymap)) {
    // Keys whose press changes the state: only those need feeding as they pass.
    for (std::size_t code = 0; code < affects_.size(); ++code) {
        xkb_state* scratch = xkb_state_new(keymap_);
        if (scratch == nullptr) {
            continue;
        }
        const auto key = static_cast<xkb_keycode_t>(code) + kXkbOffset;
        if (xkb_state_update_key(scratch, key, XKB_KEY_DOWN) != 0) {
            affects_.set(code);
        }
        xkb_state_unref(scratch);
    }
}

XkbKeyText::~XkbKeyText() {
    xkb_state_unref(state_);
    xkb_keymap_unref(keymap_);
    xkb_context_unref(context_);
}

std::unique_ptr<XkbKeyText> XkbKeyText::fromNames(const XkbNames& names) {
    xkb_context* context = newContext();
    if (context == nullptr) {
        return nullptr;
    }
    const xkb_rule_names ruleNames{orNull(names.rules), orNull(names.model), orNull(names.layout),
                                   orNull(names.variant), orNull(names.options)};
    xkb_keymap* keymap =
        xkb_keymap_new_from_names(context, &ruleNames, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap == nullptr) {
        xkb_context_unref(context);
        return nullptr;
    }
    return std::unique_ptr<XkbKeyText>(new XkbKeyText(context, keymap));
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
        const std::int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
        xkb_context* context = newContext();
        if (device >= 0 && context != nullptr) {
            xkb_keymap* keymap = xkb_x11_keymap_new_from_device(context, connection, device,
                                                                XKB_KEYMAP_COMPILE_NO_FLAGS);
            if (keymap != nullptr) {
                result.reset(new XkbKeyText(context, keymap));
                context = nullptr;
            }
        }
        if (context != nullptr) {
            xkb_context_unref(context);
        }
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

void XkbKeyText::updateKey(std::uint16_t code, bool down) {
    xkb_state_update_key(state_, code + kXkbOffset, down ? XKB_KEY_DOWN : XKB_KEY_UP);
}

void XkbKeyText::setCapsLocked(bool locked) {
    const xkb_mod_index_t lock = xkb_keymap_mod_get_index(keymap_, XKB_MOD_NAME_CAPS);
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
