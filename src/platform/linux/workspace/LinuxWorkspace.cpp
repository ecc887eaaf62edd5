#include "platform/linux/workspace/LinuxWorkspace.h"

#include "bindings/FileUrl.h"
#include "platform/linux/diagnostics/Diagnostics.h"
#include "platform/linux/workspace/AppLauncher.h"
#include "platform/linux/workspace/DesktopEntries.h"
#include "platform/linux/workspace/GnomeShellBackend.h"
#include "platform/linux/workspace/KWinBackend.h"
#include "platform/linux/workspace/PendingLaunches.h"
#include "platform/linux/workspace/WindowBackend.h"
#include "platform/linux/workspace/WindowIdentity.h"
#include "platform/linux/workspace/WlrootsBackend.h"
#include "platform/linux/workspace/X11Backend.h"

#include <cstdlib>
#include <gio/gio.h>

namespace tarnell::platform {
namespace {

// A launch is known by its startup ID or activation token.
std::string launchIdIn(const WindowBackend::Environment& environment) {
    for (const auto& [name, value] : environment) {
        if (name == "DESKTOP_STARTUP_ID" || name == "XDG_ACTIVATION_TOKEN") {
            return value;
        }
    }
    return {};
}

const char* nameOf(LinuxWorkspace::Backend backend) {
    switch (backend) {
    case LinuxWorkspace::Backend::X11:
        return "X11 (EWMH)";
    case LinuxWorkspace::Backend::Wlroots:
        return "the Wayland foreign-toplevel protocol";
    case LinuxWorkspace::Backend::KWin:
        return "a KWin script";
    case LinuxWorkspace::Backend::GnomeShell:
        return "Tarnell's GNOME Shell extension, once it runs";
    case LinuxWorkspace::Backend::LaunchOnly:
        break;
    }
    return "nothing: applications are launched, never raised or hidden";
}

const char* environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : "(unset)";
}

} // namespace

LinuxWorkspace::LinuxWorkspace()
    : applicationDirs_(applicationDirectories()),
      catalog_(std::make_unique<DesktopCatalog>(loadDesktopCatalog())),
      identifier_(std::make_unique<WindowIdentifier>(*catalog_, applicationDirs_)),
      launcher_(std::make_unique<AppLauncher>()),
      pendingLaunches_(std::make_unique<PendingLaunches>()) {
    applicationsMonitor_ = g_app_info_monitor_get();
    applicationsChanged_ = g_signal_connect(
        applicationsMonitor_, "changed", G_CALLBACK(&LinuxWorkspace::onApplicationsChanged), this);
    const char* waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    const char* x11Display = std::getenv("DISPLAY");
    if (waylandDisplay != nullptr && *waylandDisplay != '\0') {
        // A Wayland session without the protocol gives X11 clients no real picture
        // of the focus either, so there is no falling back to X11 here.
        if (auto kwin = KWinBackend::connect(*identifier_)) {
            windows_ = std::move(kwin);
            backendKind_ = Backend::KWin;
        } else if (auto backend = WlrootsBackend::connect(waylandDisplay, *identifier_)) {
            windows_ = std::move(backend);
            backendKind_ = Backend::Wlroots;
        }
    } else if (x11Display != nullptr && *x11Display != '\0') {
        if (auto backend = X11Backend::connect(x11Display, *identifier_)) {
            windows_ = std::move(backend);
            backendKind_ = Backend::X11;
        }
    }
    // GNOME Shell lets only its own extensions handle windows: Tarnell's serves once
    // it runs, and what was found above until then.
    if (GnomeShellBackend::runsInSession()) {
        windows_ = std::make_unique<GnomeShellBackend>(std::move(windows_));
        backendKind_ = Backend::GnomeShell;
    }
    diagnose("workspace: desktop %s, session %s; windows through %s",
             environmentValue("XDG_CURRENT_DESKTOP"), environmentValue("XDG_SESSION_TYPE"),
             nameOf(backendKind_));
    if (windows_) {
        auto* pending = pendingLaunches_.get();
        windows_->setEvents(
            {[pending](const std::string& desktopId) { pending->windowShown(desktopId); },
             [pending](const std::string& launchId) { pending->completed(launchId); }});
    }
}

LinuxWorkspace::~LinuxWorkspace() {
    g_signal_handler_disconnect(applicationsMonitor_, applicationsChanged_);
    g_object_unref(applicationsMonitor_);
}

void LinuxWorkspace::onApplicationsChanged(void*, void* self) {
    static_cast<LinuxWorkspace*>(self)->reloadDesktopEntries();
}

std::optional<std::string> LinuxWorkspace::applicationIdentifierAt(std::string_view appURL) {
    const auto path = pathFromFileUrl(appURL);
    if (!path) {
        return std::nullopt;
    }
    return desktopIdOfEntryAt(*path, applicationDirs_);
}

std::optional<engine::RunningApplication> LinuxWorkspace::frontmostApplication() {
    return windows_ ? windows_->frontmost() : std::nullopt;
}

void LinuxWorkspace::hide(const engine::RunningApplication& application) {
    diagnose("hide %s: %s", application.identifier ? application.identifier->c_str() : "(no ID)",
             windows_ ? "asked to hide" : "not possible on this desktop");
    if (windows_) {
        windows_->hide(application);
    }
}

void LinuxWorkspace::openApplication(std::string_view appURL) {
    const auto path = pathFromFileUrl(appURL);
    if (!path) {
        diagnose("open: %.*s is not a file URL", static_cast<int>(appURL.size()), appURL.data());
        return;
    }
    const auto desktopId = desktopIdOfEntryAt(*path, applicationDirs_);
    if (!desktopId) {
        diagnose("open: %s is not a readable application entry", path->c_str());
        return;
    }
    if (windows_ && windows_->raise(*desktopId)) {
        diagnose("raise %s: asked to come to the front", desktopId->c_str());
        return;
    }
    // Until its window shows, a launch under way stands for the running application.
    const auto launch = pendingLaunches_->start(*desktopId, PendingLaunches::Clock::now());
    if (launch == 0) {
        diagnose("launch %s: already launching, waiting for its window", desktopId->c_str());
        return;
    }
    if (!windows_) {
        launcher_->launch(*path, *desktopId, {});
        return;
    }
    windows_->prepareLaunch([launcher = launcher_.get(), pending = pendingLaunches_.get(), launch,
                             path = *path,
                             desktopId = *desktopId](WindowBackend::Environment environment) {
        pending->identify(launch, launchIdIn(environment));
        launcher->launch(path, desktopId, std::move(environment));
    });
}

void LinuxWorkspace::reloadDesktopEntries() {
    *catalog_ = loadDesktopCatalog();
    if (windows_) {
        windows_->reidentifyWindows();
    }
}

} // namespace tarnell::platform
