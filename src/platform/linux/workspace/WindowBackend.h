#pragma once

#include "engine/PlatformServices.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What each window system offers the workspace. Everything a decision needs is kept
// current from the window system's events; requests are sent without waiting.
namespace tarnell::platform {

class WindowBackend {
public:
    virtual ~WindowBackend() = default;

    // The application of the focused window, from the state kept current.
    virtual std::optional<engine::RunningApplication> frontmost() const = 0;

    // Hides every window of the application.
    virtual void hide(const engine::RunningApplication& application) = 0;

    // Brings the most recent window of the application to the front. false when it
    // has no window.
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
