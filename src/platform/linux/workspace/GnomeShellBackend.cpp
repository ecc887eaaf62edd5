#include "platform/linux/workspace/GnomeShellBackend.h"

#include "platform/linux/diagnostics/Diagnostics.h"
#include "platform/linux/gnome/GnomeSession.h"
#include "platform/linux/session/SessionEnvironment.h"

namespace tarnell::platform {

bool GnomeShellBackend::runsInSession() {
    GDBusConnection* bus = session::knownSessionBus();
    const bool gnome = gnome::isGnomeShellSession(bus);
    if (bus != nullptr) {
        g_object_unref(bus);
    }
    return gnome;
}

GnomeShellBackend::GnomeShellBackend(std::unique_ptr<WindowBackend> fallback)
    : fallback_(std::move(fallback)) {
    // What the fallback learns goes to the workspace as ours, whether or not the
    // extension runs.
    if (fallback_) {
        fallback_->setEvents({[this](const std::string& id) { reportWindowShown(id); },
                              [this](const std::string& id) { reportLaunchCompleted(id); }});
    }
    GDBusConnection* bus = session::knownSessionBus();
    client_ = std::make_unique<gnome::GnomeShellClient>(bus);
    if (bus != nullptr) {
        g_object_unref(bus);
    }
    client_->setOnChange([this] { onExtensionChanged(); });
}

GnomeShellBackend::~GnomeShellBackend() = default;

std::optional<engine::RunningApplication> GnomeShellBackend::frontmost() const {
    if (!client_->active()) {
        return fallback_ ? fallback_->frontmost() : std::nullopt;
    }
    const auto& focus = client_->focus();
    if (!focus.focused) {
        return std::nullopt;
    }
    // The shell knows applications by ID alone; there is no handle to keep.
    return engine::RunningApplication{focus.desktopId, 0};
}

void GnomeShellBackend::hide(const engine::RunningApplication& application) {
    if (!client_->active()) {
        if (fallback_) {
            fallback_->hide(application);
        }
        return;
    }
    // Without an ID the extension hides the focused application without one,
    // which is the one this stands for.
    client_->hide(application.identifier.value_or(std::string()));
}

bool GnomeShellBackend::raise(const std::string& desktopId) {
    if (!client_->active()) {
        return fallback_ && fallback_->raise(desktopId);
    }
    if (!client_->isRunning(desktopId)) {
        return false;
    }
    client_->activate(desktopId);
    return true;
}

void GnomeShellBackend::prepareLaunch(std::function<void(Environment)> ready) {
    // The X11 backend's startup notification serves GNOME on X11; on Wayland the
    // shell gives a newly launched application's window the focus by itself.
    if (fallback_) {
        fallback_->prepareLaunch(std::move(ready));
    } else {
        ready({});
    }
}

void GnomeShellBackend::reidentifyWindows() {
    // The shell follows installed entries itself.
    if (fallback_) {
        fallback_->reidentifyWindows();
    }
}

void GnomeShellBackend::onExtensionChanged() {
    if (client_->active() != wasActive_) {
        wasActive_ = client_->active();
        if (wasActive_) {
            diagnose("GNOME Shell: Tarnell's extension runs; it raises and hides");
        } else {
            diagnose("GNOME Shell: Tarnell's extension does not run; %s meanwhile",
                     fallback_ ? "X11 raises and hides" : "applications are only launched");
        }
    }
    reportNewlyRunning();
}

void GnomeShellBackend::reportNewlyRunning() {
    // An application that has a window now and had none before showed one.
    const auto& running = client_->running();
    for (const auto& desktopId : running) {
        if (!reported_.contains(desktopId)) {
            reportWindowShown(desktopId);
        }
    }
    reported_ = running;
}

} // namespace tarnell::platform
