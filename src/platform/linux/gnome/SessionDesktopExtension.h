#pragma once

#include "app/DesktopExtension.h"

#include <memory>

namespace tarnell::platform::gnome {

// Tarnell's GNOME Shell extension when the session is GNOME Shell's (as
// GnomeSession.h tells), else nullptr: no other desktop needs one.
std::unique_ptr<app::DesktopExtension> desktopExtensionForSession();

} // namespace tarnell::platform::gnome
