#pragma once

#include <gio/gio.h>
#include <string_view>

namespace tarnell::platform::session {

// Whether the session names its desktop at all (XDG_CURRENT_DESKTOP set).
bool currentDesktopNamed();
// Whether XDG_CURRENT_DESKTOP, a list such as "ubuntu:GNOME", names `desktop`.
bool currentDesktopIncludes(std::string_view desktop);

// Whether the session has a bus at a known address: DBUS_SESSION_BUS_ADDRESS, or
// the bus socket in XDG_RUNTIME_DIR. Without one, no bus is to be started (as GIO
// may on X11).
bool sessionBusKnown();
// The session bus when sessionBusKnown(), else nullptr; a new reference.
GDBusConnection* knownSessionBus();

// Whether `name` has an owner on `bus`; false when the bus does not answer within
// `timeoutMs`.
bool busNameHasOwner(GDBusConnection* bus, const char* name, int timeoutMs);

} // namespace tarnell::platform::session
