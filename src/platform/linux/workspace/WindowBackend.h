#pragma once

#include "engine/PlatformServices.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What each window system offers the workspace, and what each must do to offer it.
//
// A backend keeps everything a decision needs current from the window system's own
// events, never only from its own requests: the user, the window manager and the
// applications change windows too (they restore, close, float and move them), and a
// record that only our requests update goes stale. Requests are sent without waiting.
//
// Launching is the workspace's: it asks `raise` first and launches only when that
// finds no window. A launch under way counts as running until the application shows a
// window (or a few seconds pass), so that a second press does not launch it again; a
// backend takes part by reporting windows and finished launches (see `Events`).
namespace tarnell::platform {

class WindowBackend {
public:
    virtual ~WindowBackend() = default;

    // The application of the focused window, from the state kept current.
    virtual std::optional<engine::RunningApplication> frontmost() const = 0;

    // Hides every window of the application, and keeps which ones it hid until the
    // window system shows them again, by `raise` or by any other means.
    virtual void hide(const engine::RunningApplication& application) = 0;

    // Brings the application back whole: every window that `hide` hid and that is
    // still hidden is shown again, and its most recently focused window ends up in
    // front and focused. false when it has no window.
    virtual bool raise(const std::string& desktopId) = 0;

    using Environment = std::vector<std::pair<std::string, std::string>>;
    // Calls `ready` (from the event loop, or at once) with the variables a program
    // about to be launched needs so that its first window may take the focus. The
    // value of DESKTOP_STARTUP_ID (startup notification) or XDG_ACTIVATION_TOKEN
    // among them names the launch in `Events::launchCompleted`.
    virtual void prepareLaunch(std::function<void(Environment)> ready) { ready({}); }

    // Identities depend on the installed entries; called after they were reloaded.
    virtual void reidentifyWindows() = 0;

    // What a backend tells the workspace, as it learns it from the window system.
    struct Events {
        // A window of the application appeared, or a window was newly found to
        // belong to it. Every backend must report this.
        std::function<void(const std::string& desktopId)> windowShown;
        // The desktop reports the launch with this startup ID or activation token
        // complete (for instance a startup-notification "remove" message). Report it
        // where the desktop offers it: it ends the wait for applications whose windows
        // cannot be told apart by their names.
        std::function<void(const std::string& launchId)> launchCompleted;
    };
    // Set once by the workspace, before it makes any request.
    void setEvents(Events events) { events_ = std::move(events); }

protected:
    void reportWindowShown(const std::string& desktopId) const {
        if (events_.windowShown) {
            events_.windowShown(desktopId);
        }
    }
    void reportLaunchCompleted(const std::string& launchId) const {
        if (events_.launchCompleted) {
            events_.launchCompleted(launchId);
        }
    }

private:
    Events events_;
};

} // namespace tarnell::platform
