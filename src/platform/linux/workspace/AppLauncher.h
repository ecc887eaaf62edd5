#pragma once

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Launches desktop entries through GIO, each program in a transient systemd scope of
// its own when the user's service manager can be reached, so that it outlives us.
namespace tarnell::platform {

// The name of the scope a launched program is moved into.
std::string launchScopeName(const std::string& desktopId, int pid);

class AppLauncher {
public:
    using Environment = std::vector<std::pair<std::string, std::string>>;

    AppLauncher();
    ~AppLauncher();
    AppLauncher(const AppLauncher&) = delete;
    AppLauncher& operator=(const AppLauncher&) = delete;

    // Launches the entry at `path` from the event loop; returns at once.
    void launch(const std::string& path, const std::string& desktopId, Environment environment);

private:
    struct Request;
    static gboolean launchNow(gpointer request);
    static void onLaunched(GDesktopAppInfo* entry, GPid pid, gpointer request);
    static void onBus(GObject* source, GAsyncResult* result, gpointer self);
    void moveIntoScope(const std::string& desktopId, GPid pid);

    GCancellable* cancellable_;
    GDBusConnection* bus_ = nullptr;
    // Launches still waiting for the event loop hold this weakly.
    std::shared_ptr<AppLauncher*> self_;
};

} // namespace tarnell::platform
