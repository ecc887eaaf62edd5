#include "platform/linux/input/XkbKeymap.h"

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

} // namespace

XkbKeymap::XkbKeymap(xkb_keymap* keymap)
    : keymap_(keymap), layoutCount_(xkb_keymap_num_layouts(keymap)) {
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

XkbKeymap::~XkbKeymap() {
    xkb_keymap_unref(keymap_);
}

std::string XkbKeymap::layoutName(std::uint32_t group) const {
    const char* name = xkb_keymap_layout_get_name(keymap_, group);
    return name != nullptr ? name : "";
}

std::shared_ptr<const XkbKeymap> XkbKeymap::adopt(xkb_keymap* keymap) {
    if (keymap == nullptr) {
        return nullptr;
    }
    return std::shared_ptr<const XkbKeymap>(new XkbKeymap(keymap));
}

std::shared_ptr<const XkbKeymap> XkbKeymap::fromNames(const XkbNames& names) {
    xkb_context* context = newContext();
    if (context == nullptr) {
        return nullptr;
    }
    const xkb_rule_names ruleNames{orNull(names.rules), orNull(names.model), orNull(names.layout),
                                   orNull(names.variant), orNull(names.options)};
    // The keymap keeps the context as long as it needs it.
    xkb_keymap* keymap =
        xkb_keymap_new_from_names(context, &ruleNames, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    return adopt(keymap);
}

std::shared_ptr<const XkbKeymap> XkbKeymap::fromX11Device(xcb_connection_t* connection,
                                                          std::int32_t device) {
    if (device < 0) {
        return nullptr;
    }
    xkb_context* context = newContext();
    if (context == nullptr) {
        return nullptr;
    }
    xkb_keymap* keymap =
        xkb_x11_keymap_new_from_device(context, connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    return adopt(keymap);
}

} // namespace tarnell::input
