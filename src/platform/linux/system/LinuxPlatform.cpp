#include "platform/linux/system/LinuxPlatform.h"

#include "platform/linux/access/InputAccessTrust.h"
#include "platform/linux/access/PkexecAccessSettings.h"
#include "platform/linux/applications/GioApplicationDirectory.h"
#include "platform/linux/autostart/XdgAutostart.h"
#include "platform/linux/desktop/GioApplicationCatalog.h"
#include "platform/linux/gnome/SessionDesktopExtension.h"
#include "platform/linux/input/KeyboardLayoutSource.h"
#include "platform/linux/input/LinuxInput.h"
#include "platform/linux/layout/SessionKeyboardLayout.h"
#include "platform/linux/mainloop/QtTimerService.h"
#include "platform/linux/settings/SettingsFileStore.h"
#include "platform/linux/workspace/LinuxWorkspace.h"

#include <QCoreApplication>

namespace tarnell::platform {
namespace {

// The desktop entry Tarnell installs, whose name the login item takes too.
constexpr const char* kDesktopId = "io.github.tarnell.Tarnell.desktop";

// Key text follows the layout the desktop types with.
input::LinuxInput::Options inputOptions(input::KeyboardLayoutSource* layout) {
    input::LinuxInput::Options options;
    options.layoutSource = layout;
    return options;
}

} // namespace

LinuxPlatform::LinuxPlatform()
    : settings_(std::make_unique<SettingsFileStore>()),
      applications_(std::make_unique<GioApplicationDirectory>()),
      trust_(std::make_unique<InputAccessTrust>()), timers_(std::make_unique<QtTimerService>()),
      layout_(layout::sessionKeyboardLayout()),
      input_(std::make_unique<input::LinuxInput>(inputOptions(layout_.get()))),
      workspace_(std::make_unique<LinuxWorkspace>()) {}

LinuxPlatform::~LinuxPlatform() = default;

KeyValueStore& LinuxPlatform::settings() {
    return *settings_;
}

ApplicationDirectory& LinuxPlatform::applications() {
    return *applications_;
}

engine::PlatformServices LinuxPlatform::services() {
    return engine::PlatformServices{
        .trust = *trust_,
        .taps = input_->tapService(),
        .timers = *timers_,
        .keyMapping = input_->keyMapping(),
        .lockState = input_->lockState(),
        .workspace = *workspace_,
    };
}

app::LoginItemService& LinuxPlatform::loginItems() {
    if (!loginItems_) {
        loginItems_ = std::make_unique<XdgAutostart>(
            kDesktopId, QCoreApplication::applicationFilePath().toStdString());
    }
    return *loginItems_;
}

app::AccessSettingsOpener& LinuxPlatform::accessSettings() {
    if (!accessSettings_) {
        accessSettings_ = std::make_unique<PkexecAccessSettings>();
    }
    return *accessSettings_;
}

app::ApplicationCatalog& LinuxPlatform::catalog() {
    if (!catalog_) {
        catalog_ = std::make_unique<GioApplicationCatalog>();
    }
    return *catalog_;
}

app::DesktopExtension* LinuxPlatform::desktopExtension() {
    if (!desktopExtensionLookedFor_) {
        desktopExtensionLookedFor_ = true;
        desktopExtension_ = gnome::desktopExtensionForSession();
    }
    return desktopExtension_.get();
}

} // namespace tarnell::platform
