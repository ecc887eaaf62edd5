#pragma once

#include "bindings/ApplicationDirectory.h"
#include "bindings/KeyValueStore.h"
#include "engine/PlatformServices.h"

#include <memory>

namespace tarnell::app {
class AccessSettingsOpener;
class ApplicationCatalog;
class DesktopExtension;
class LoginItemService;
} // namespace tarnell::app

namespace tarnell::input {
class KeyboardLayoutSource;
class LinuxInput;
} // namespace tarnell::input

namespace tarnell::platform {

class GioApplicationCatalog;
class GioApplicationDirectory;
class InputAccessTrust;
class LinuxWorkspace;
class PkexecAccessSettings;
class QtTimerService;
class SettingsFileStore;
class XdgAutostart;

// Every real Linux service, made once and owned here. Make it on the main thread
// after the Qt application object, and keep it for the life of the process: the
// references it hands out point into it.
//
// The services the engine and the store need are made at once. The four that
// only the user interface uses (login item, access settings, application
// catalogue, desktop extension) are made on first use, so that running without a user interface
// makes no widgets and touches nothing of theirs.
class LinuxPlatform {
public:
    LinuxPlatform();
    ~LinuxPlatform();
    LinuxPlatform(const LinuxPlatform&) = delete;
    LinuxPlatform& operator=(const LinuxPlatform&) = delete;

    // The user's settings ($XDG_CONFIG_HOME/tarnell) and installed applications.
    KeyValueStore& settings();
    ApplicationDirectory& applications();
    // What HyperKeyMonitor::create needs; the references stay valid while this lives.
    engine::PlatformServices services();

    // For the user interface; made on first use (needs a QApplication then). The
    // login item starts this very program, as the desktop entry names it.
    app::LoginItemService& loginItems();
    app::AccessSettingsOpener& accessSettings();
    app::ApplicationCatalog& catalog();
    // Tarnell's extension of the session's desktop (GNOME Shell's); nullptr where
    // the desktop needs none.
    app::DesktopExtension* desktopExtension();

private:
    std::unique_ptr<SettingsFileStore> settings_;
    std::unique_ptr<GioApplicationDirectory> applications_;
    std::unique_ptr<InputAccessTrust> trust_;
    std::unique_ptr<QtTimerService> timers_;
    std::unique_ptr<input::KeyboardLayoutSource> layout_; // before the input that follows it
    std::unique_ptr<input::LinuxInput> input_;
    std::unique_ptr<LinuxWorkspace> workspace_;

    std::unique_ptr<XdgAutostart> loginItems_;
    std::unique_ptr<PkexecAccessSettings> accessSettings_;
    std::unique_ptr<GioApplicationCatalog> catalog_;
    std::unique_ptr<app::DesktopExtension> desktopExtension_;
    bool desktopExtensionLookedFor_ = false;
};

} // namespace tarnell::platform
