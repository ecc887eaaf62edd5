#pragma once

#include "engine/PlatformServices.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnell::platform {

class AppLauncher;
class DesktopCatalog;
class PendingLaunches;
class WindowBackend;
class WindowIdentifier;

// The workspace of a Linux desktop session: applications are desktop entries,
// identified by their desktop file ID; windows are watched through X11, on
// wlroots compositors the foreign-toplevel protocol, on KDE Plasma a KWin script, and
// on GNOME Shell Tarnell's extension. Elsewhere (other Wayland sessions) it can only
// launch. A launch under way counts as running until the application shows a window,
// whichever backend watches the windows.
//
// Make it on the main thread once the event loop exists; it does its work on the
// default GLib main context, which Qt's event loop runs.
class LinuxWorkspace final : public engine::Workspace {
public:
    enum class Backend { X11, Wlroots, KWin, GnomeShell, LaunchOnly };

    // Picks the backend from the session: on Wayland, KWin when the session is KDE's
    // or KWin is on the session bus, else the foreign-toplevel protocol; else an X11
    // display; else launching only. In a GNOME Shell session, Tarnell's extension,
    // with what was found serving until it runs.
    LinuxWorkspace();
    ~LinuxWorkspace() override;
    LinuxWorkspace(const LinuxWorkspace&) = delete;
    LinuxWorkspace& operator=(const LinuxWorkspace&) = delete;

    Backend backend() const { return backendKind_; }
    // The window system's side, when there is one.
    WindowBackend* windowBackend() const { return windows_.get(); }

    std::optional<std::string> applicationIdentifierAt(std::string_view appURL) override;
    std::optional<engine::RunningApplication> frontmostApplication() override;
    void hide(const engine::RunningApplication& application) override;
    void openApplication(std::string_view appURL) override;

    // Reads the installed entries again. Happens by itself when GIO reports that
    // applications were installed or removed.
    void reloadDesktopEntries();

private:
    static void onApplicationsChanged(void* monitor, void* self);

    std::vector<std::string> applicationDirs_;
    std::unique_ptr<DesktopCatalog> catalog_;
    std::unique_ptr<WindowIdentifier> identifier_;
    std::unique_ptr<AppLauncher> launcher_;
    std::unique_ptr<PendingLaunches> pendingLaunches_;
    // Goes before the launcher and the launch record it hands launches to.
    std::unique_ptr<WindowBackend> windows_;
    Backend backendKind_ = Backend::LaunchOnly;
    void* applicationsMonitor_ = nullptr; // GAppInfoMonitor
    unsigned long applicationsChanged_ = 0;
};

} // namespace tarnell::platform
