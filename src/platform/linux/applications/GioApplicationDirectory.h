#pragma once

#include "bindings/ApplicationDirectory.h"

#include <optional>
#include <string>
#include <string_view>

namespace tarnell::platform {

// Installed applications as GIO sees them: an application's identifier is its
// desktop file ID ("org.gnome.Nautilus.desktop") and its location the file URL of
// its .desktop file. GIO reads XDG_DATA_HOME, XDG_DATA_DIRS and XDG_CONFIG_HOME
// (mimeapps.list) once, on first use.
class GioApplicationDirectory final : public ApplicationDirectory {
public:
    std::optional<std::string> urlForApplication(std::string_view desktopId) override;
    // The desktop file ID of the default handler of a MIME type.
    std::optional<std::string> defaultApplicationFor(std::string_view contentType) override;
    // A readable desktop entry's Name in the user's language; for anything else
    // the last component of the path.
    std::string displayNameAtPath(std::string_view path) override;

    // The desktop file ID of the .desktop file at this path: its path below the
    // "applications" directory of the XDG data directory that holds it, with '/'
    // turned into '-' ("kde4/okular.desktop" gives "kde4-okular.desktop"). nullopt
    // when the path is not a .desktop file below one of those directories.
    static std::optional<std::string> desktopFileIdForPath(std::string_view path);

    // The icon of the desktop entry at this path, as an icon theme name
    // ("org.gnome.Nautilus") or an absolute image path; nullopt when the entry is
    // unreadable or has no icon.
    static std::optional<std::string> iconForDesktopFile(std::string_view path);
};

} // namespace tarnell::platform
