#pragma once

#include "platform/linux/gnome/GnomeShellClient.h"
#include "platform/linux/workspace/WindowBackend.h"

#include <memory>
#include <set>
#include <string>

namespace tarnell::platform {

// Windows of a GNOME Shell session, through Tarnell's GNOME Shell extension: the
// shell names each window's application by its desktop file ID, reports the focus
// and the running applications as they change, and brings applications forward and
// hides them on request. While the extension does not run (not yet loaded, turned
// off, the screen locked), whatever else the session offers stands in: the X11
// backend in a GNOME on X11 session, launching only on Wayland. It takes over again
// the moment the extension's name appears.
class GnomeShellBackend final : public WindowBackend {
public:
    // Whether the session is GNOME Shell's: as XDG_CURRENT_DESKTOP says, else (when
    // it names no desktop) whether the shell's name is on the session bus.
    static bool runsInSession();

    // `fallback` (may be nullptr) serves while the extension does not run.
    explicit GnomeShellBackend(std::unique_ptr<WindowBackend> fallback);
    ~GnomeShellBackend() override;
    GnomeShellBackend(const GnomeShellBackend&) = delete;
    GnomeShellBackend& operator=(const GnomeShellBackend&) = delete;

    // The extension runs and serves the requests.
    [[nodiscard]] bool extensionActive() const { return client_->active(); }

    std::optional<engine::RunningApplication> frontmost() const override;
    void hide(const engine::RunningApplication& application) override;
    bool raise(const std::string& desktopId) override;
    void prepareLaunch(std::function<void(Environment)> ready) override;
    void reidentifyWindows() override;

private:
    void onExtensionChanged();
    void reportNewlyRunning();

    std::unique_ptr<WindowBackend> fallback_;
    std::unique_ptr<gnome::GnomeShellClient> client_;
    std::set<std::string, std::less<>> reported_; // running, as last reported
    bool wasActive_ = false;
};

} // namespace tarnell::platform
