#pragma once

#include "platform/linux/input/KeyboardLayoutSource.h"

#include <memory>

namespace tarnell::layout {

// The layout source of the desktop this session runs: on Wayland, KDE Plasma's
// (XDG_CURRENT_DESKTOP, or KWin on the session bus) or sway's (XDG_CURRENT_DESKTOP, or
// SWAYSOCK), else for a compositor other than GNOME Shell the keymap of its Xwayland;
// on X11, the X server's. nullptr where none is followed (GNOME for now): key text
// then comes from the layout read when the keyboards are taken.
std::unique_ptr<input::KeyboardLayoutSource> sessionKeyboardLayout();

} // namespace tarnell::layout
