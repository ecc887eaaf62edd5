#pragma once

#include "platform/linux/input/XkbKeymap.h"

#include <optional>
#include <string_view>

namespace tarnell::layout {

// The layout and variant that the installed XKB registry describes with these words
// ("German", "English (US, intl., with dead keys)"), as keymaps name their layouts.
// nullopt when none does. Reads the registry on each call.
std::optional<input::XkbNames> xkbNamesDescribedAs(std::string_view description);

} // namespace tarnell::layout
