#pragma once

#include "app/LoginItemService.h"

#include <string>

namespace tarnell::platform {

// Starts Tarnell at login with an XDG autostart entry in the user's
// $XDG_CONFIG_HOME/autostart. A system-wide entry of the same name (in
// $XDG_CONFIG_DIRS/autostart) is switched off for the user by a hidden user entry.
// The directories are read from the environment at each call.
class XdgAutostart final : public app::LoginItemService {
public:
    static constexpr const char* kDesktopId = "io.github.tarnell.Tarnell.desktop";

    // Tarnell's own entry, starting the program that is running now.
    XdgAutostart();
    // `desktopId`: the entry's file name, e.g. kDesktopId.
    // `executablePath`: the absolute path of the program to start.
    XdgAutostart(std::string desktopId, std::string executablePath);

    // The absolute path of the running program, or "tarnell" (found through PATH)
    // when it cannot be read.
    static std::string runningProgram();

    app::LoginItemStatus status() override;
    bool registerItem() override;
    bool unregisterItem() override;

    // Where the user's entry lives, and the system entry it overrides, if any.
    [[nodiscard]] std::string userEntryPath() const;
    [[nodiscard]] std::string systemEntryPath() const;

    // The Exec value that starts `path` with no arguments, quoted as desktop
    // entries require.
    static std::string execValue(const std::string& path);

private:
    bool writeUserEntry(bool hidden);

    std::string desktopId_;
    std::string executablePath_;
};

} // namespace tarnell::platform
