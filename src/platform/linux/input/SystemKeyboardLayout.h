#pragma once

#include "platform/linux/input/XkbKeymap.h"

#include <optional>
#include <string_view>

namespace tarnell::input {

// The system's keyboard configuration: org.freedesktop.locale1 when the system
// bus answers, else /etc/default/keyboard. nullopt when neither names a layout.
std::optional<XkbNames> systemKeyboardLayout();

// Reads the XKBMODEL, XKBLAYOUT, XKBVARIANT and XKBOPTIONS assignments of a
// /etc/default/keyboard text. nullopt when it names no layout.
std::optional<XkbNames> parseDefaultKeyboard(std::string_view text);

} // namespace tarnell::input
