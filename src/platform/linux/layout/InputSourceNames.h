#pragma once

#include "platform/linux/input/XkbKeymap.h"

#include <optional>
#include <string_view>

namespace tarnell::layout {

// The XKB layout and variant of an "xkb" input source as GNOME names it: "de",
// "us+intl" (layout, then variant after a plus). nullopt for an id that names no
// single layout: empty, too long, or holding anything but letters, digits, "-" and
// "_" around one "+".
std::optional<input::XkbNames> xkbNamesOfInputSource(std::string_view id);

} // namespace tarnell::layout
