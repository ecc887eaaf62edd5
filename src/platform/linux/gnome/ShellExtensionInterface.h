#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// How Tarnell's GNOME Shell extension (data/gnome-shell-extension) and Tarnell talk:
// the names of its one D-Bus interface and the bounds both sides hold to. The
// extension's service.js names the same.
namespace tarnell::platform::gnome {

inline constexpr const char* kExtensionUuid = TARNELL_GNOME_EXTENSION_UUID;
inline constexpr const char* kBusName = "io.github.tarnell.Tarnell.GnomeShell";
inline constexpr const char* kObjectPath = "/io/github/tarnell/Tarnell/GnomeShell";
// The version is part of the name: a changed interface gets a new one.
inline constexpr const char* kInterface = "io.github.tarnell.Tarnell.GnomeShell1";

// Longer texts are refused; desktop file IDs and input source names are far shorter.
inline constexpr std::size_t kMaxTextBytes = 255;
// More running applications than anyone runs; the rest of a longer list is dropped.
inline constexpr std::size_t kMaxRunningApps = 512;

// `text` when it may be a desktop file ID ("org.gnome.Calculator.desktop"): at most
// kMaxTextBytes, ending in ".desktop", without '/' or control characters. The
// extension sends only such IDs; anything else came from somewhere else.
std::optional<std::string> acceptedDesktopId(std::string_view text);

// `text` when it is at most kMaxTextBytes without control characters, else empty.
std::string boundedText(std::string_view text);

} // namespace tarnell::platform::gnome
