#pragma once

#include <gio/gio.h>

namespace tarnell::platform::gnome {

// Whether GNOME Shell is the session's desktop: as XDG_CURRENT_DESKTOP says (it names
// GNOME), or, when the session names no desktop, whether the shell's name is on the
// bus (asked once, briefly; bus nullptr: not asked).
bool isGnomeShellSession(GDBusConnection* bus);

} // namespace tarnell::platform::gnome
