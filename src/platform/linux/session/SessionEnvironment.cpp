#include "platform/linux/session/SessionEnvironment.h"

#include <cstdlib>
#include <string>

namespace tarnell::platform::session {
namespace {

bool isSet(const char* value) {
    return value != nullptr && *value != '\0';
}

} // namespace

bool currentDesktopNamed() {
    return isSet(std::getenv("XDG_CURRENT_DESKTOP"));
}

bool currentDesktopIncludes(std::string_view desktop) {
    const char* value = std::getenv("XDG_CURRENT_DESKTOP");
    std::string_view rest = value != nullptr ? value : "";
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        if (rest.substr(0, colon) == desktop) {
            return true;
        }
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    return false;
}

bool sessionBusKnown() {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    return isSet(std::getenv("DBUS_SESSION_BUS_ADDRESS")) ||
           (runtimeDir != nullptr &&
            g_file_test((std::string(runtimeDir) + "/bus").c_str(), G_FILE_TEST_EXISTS));
}

GDBusConnection* knownSessionBus() {
    return sessionBusKnown() ? g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr) : nullptr;
}

bool busNameHasOwner(GDBusConnection* bus, const char* name, int timeoutMs) {
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs, nullptr, nullptr);
    if (reply == nullptr) {
        return false;
    }
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned != FALSE;
}

} // namespace tarnell::platform::session
