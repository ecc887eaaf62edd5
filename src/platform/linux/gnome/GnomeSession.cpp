#include "platform/linux/gnome/GnomeSession.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace tarnell::platform::gnome {
namespace {

// No longer than a session can afford to wait once, at start.
constexpr int kAskTimeoutMs = 1000;

// Whether XDG_CURRENT_DESKTOP names GNOME; nullopt when the session names no desktop.
std::optional<bool> currentDesktopNamesGnome() {
    const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
    if (desktops == nullptr || *desktops == '\0') {
        return std::nullopt;
    }
    // A list such as "ubuntu:GNOME".
    std::string_view rest = desktops;
    while (!rest.empty()) {
        const auto end = rest.find(':');
        if (rest.substr(0, end) == "GNOME") {
            return true;
        }
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return false;
}

} // namespace

GDBusConnection* knownSessionBus() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    const bool known =
        (address != nullptr && *address != '\0') ||
        (runtimeDir != nullptr &&
         g_file_test((std::string(runtimeDir) + "/bus").c_str(), G_FILE_TEST_EXISTS));
    return known ? g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr) : nullptr;
}

bool isGnomeShellSession(GDBusConnection* bus) {
    // A session that names its desktop is believed.
    if (const auto named = currentDesktopNamesGnome()) {
        return *named;
    }
    if (bus == nullptr) {
        return false;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", "org.gnome.Shell"), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, kAskTimeoutMs, nullptr, nullptr);
    if (reply == nullptr) {
        return false;
    }
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned != FALSE;
}

} // namespace tarnell::platform::gnome
