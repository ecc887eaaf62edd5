#pragma once

#include <string>

// The script Tarnell runs inside KWin (Plasma 5.27 and 6): it reports the windows and
// the focus to Tarnell's D-Bus object, and fetches and carries out Tarnell's requests
// to activate and minimise windows. A KWin script cannot be called over D-Bus, so it
// asks: each call of NextCommands is answered when there is something to do.
namespace tarnell::platform {

// The D-Bus names the script and Tarnell's object agree on.
inline constexpr const char* kwinScriptObjectPath = "/io/github/tarnell/Tarnell/KWinScript";
inline constexpr const char* kwinScriptInterface = "io.github.tarnell.Tarnell.KWinScript";

struct KWinScriptParameters {
    std::string service;    // Tarnell's unique name on the session bus
    std::string pluginName; // the name KWin knows the script by
    std::string token;      // says which load of the script is reporting
};

// The script's text. The parameters go in as JSON data, whatever they hold.
std::string kwinScriptSource(const KWinScriptParameters& parameters);

} // namespace tarnell::platform
