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
    // about to be launched needs so that its first window may take the focus
    // (startup notification, activation token).
    virtual void prepareLaunch(std::function<void(Environment)> ready) { ready({}); }

    // Identities depend on the installed entries; called after they were reloaded.
    virtual void reidentifyWindows() = 0;
};

} // namespace tarnell::platform
