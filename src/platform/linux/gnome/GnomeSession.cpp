#include "platform/linux/gnome/GnomeSession.h"

#include "platform/linux/session/SessionEnvironment.h"

namespace tarnell::platform::gnome {
namespace {

// No longer than a session can afford to wait once, at start.
constexpr int kAskTimeoutMs = 1000;

} // namespace

bool isGnomeShellSession(GDBusConnection* bus) {
    // A session that names its desktop is believed.
    if (session::currentDesktopNamed()) {
        return session::currentDesktopIncludes("GNOME");
    }
    return bus != nullptr && session::busNameHasOwner(bus, "org.gnome.Shell", kAskTimeoutMs);
}

} // namespace tarnell::platform::gnome
