#include "platform/linux/layout/SessionKeyboardLayout.h"

#include "platform/linux/diagnostics/Diagnostics.h"
#include "platform/linux/layout/GnomeKeyboardLayout.h"
#include "platform/linux/layout/KdeKeyboardLayout.h"
#include "platform/linux/layout/SwayKeyboardLayout.h"
#include "platform/linux/layout/X11KeyboardLayout.h"
#include "platform/linux/session/SessionEnvironment.h"

#include <cstdlib>
#include <gio/gio.h>
#include <string_view>

namespace tarnell::layout {
namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

bool sessionBusHas(const char* name) {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) {
        return false;
    }
    const bool owned = platform::session::busNameHasOwner(bus, name, 500);
    g_object_unref(bus);
    return owned;
}

std::unique_ptr<input::KeyboardLayoutSource> chooseSource(const char*& through) {
    if (!isSet("WAYLAND_DISPLAY")) {
        through = "the X server";
        return isSet("DISPLAY") ? X11KeyboardLayout::connect() : nullptr;
    }
    if (platform::session::currentDesktopIncludes("KDE") || sessionBusHas("org.kde.KWin")) {
        through = "KDE Plasma's keyboard settings and KWin";
        if (auto kde = KdeKeyboardLayout::connect()) {
            return kde;
        }
    }
    if (platform::session::currentDesktopIncludes("sway") || isSet("SWAYSOCK")) {
        through = "sway's IPC";
        const char* socket = std::getenv("SWAYSOCK");
        if (auto sway = SwayKeyboardLayout::connect(socket != nullptr ? socket : "")) {
            return sway;
        }
    }
    // GNOME Shell starts Xwayland only for X11 clients and stops it when they are
    // gone; a connection kept open would keep it running. Its input sources are
    // followed through Tarnell's extension instead.
    if (platform::session::currentDesktopIncludes("GNOME")) {
        through = "GNOME Shell's input sources and Tarnell's extension";
        return GnomeKeyboardLayout::connect();
    }
    // Xwayland is handed the compositor's keymap whenever it changes.
    through = "Xwayland";
    return isSet("DISPLAY") ? X11KeyboardLayout::connect() : nullptr;
}

} // namespace

std::unique_ptr<input::KeyboardLayoutSource> sessionKeyboardLayout() {
    const char* through = nullptr;
    auto source = chooseSource(through);
    if (source) {
        platform::diagnose("key text: follows the keyboard layout through %s", through);
    } else {
        platform::diagnose("key text: the keyboard layout is read when the keyboards are taken%s%s",
                           through != nullptr ? "; not reached: " : "",
                           through != nullptr ? through : "");
    }
    return source;
}

} // namespace tarnell::layout
