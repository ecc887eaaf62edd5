#pragma once

#include "platform/linux/input/KeyboardLayoutSource.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <utility>

// For desktops that tell their layout by XKB names (sway, KDE Plasma, GNOME): the
// keymaps of the names seen lately are kept, so that switching between a user's
// layouts compiles nothing once each was seen.
namespace tarnell::layout {

class NamedKeyboardLayout : public input::KeyboardLayoutSource {
protected:
    // Names that make no keymap change nothing.
    void publishNames(const input::XkbNames& names, std::uint32_t group);

private:
    std::shared_ptr<const input::XkbKeymap> keymapOf(const input::XkbNames& names);

    std::deque<std::pair<input::XkbNames, std::shared_ptr<const input::XkbKeymap>>> recent_;
};

} // namespace tarnell::layout
