#include "app/AppDelegate.h"

#include "app/LoginItemService.h"
#include "app/SettingsWindow.h"
#include "bindings/BindingStore.h"
#include "engine/HyperKeyMonitor.h"

#include <QGuiApplication>
#include <QScreen>
#include <utility>

namespace tarnell::app {

namespace {

// The window manager's own way to bring a window of ours forward on Wayland: a
// one-time token from the launcher, handed to the compositor with the activation
// request. Qt's Wayland shell integration reads it from this variable when the
// window asks to be activated, and clears it.
constexpr const char* kActivationTokenVariable = "XDG_ACTIVATION_TOKEN";

} // namespace

AppDelegate::AppDelegate(Dependencies dependencies, QObject* parent)
    : QObject(parent), dependencies_(std::move(dependencies)),
      store_(std::make_shared<BindingStore>(dependencies_.settings, dependencies_.applications)) {}

AppDelegate::~AppDelegate() = default;

engine::HyperKeyMonitor& AppDelegate::monitor() {
    if (!monitor_) {
        monitor_ = engine::HyperKeyMonitor::create(store_, dependencies_.engine);
    }
    return *monitor_;
}

void AppDelegate::applicationDidFinishLaunching() {
    auto& engine = monitor();
    engine.setOnOpenSettings([delegate = QPointer<AppDelegate>(this)] {
        if (delegate) {
            delegate->showSettingsWindow();
        }
    });
    engine.start();
}

void AppDelegate::applicationWillTerminate() {
    monitor().stop();
}

void AppDelegate::applicationShouldHandleReopen(const QString& activationToken) {
    pendingActivationToken_ = activationToken;
    showSettingsWindow();
}

void AppDelegate::showSettingsWindow() {
    if (!settingsWindow_) {
        makeSettingsWindow();
    }
    const QString activationToken = std::exchange(pendingActivationToken_, QString());
    if (!settingsWindow_) {
        return;
    }
    if (!activationToken.isEmpty() &&
        QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        qputenv(kActivationTokenVariable, activationToken.toUtf8());
    }
    QWidget& window = *settingsWindow_;
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.show();
    window.raise();
    window.activateWindow();
}

void AppDelegate::makeSettingsWindow() {
    const bool launchesAtLogin = dependencies_.loginItems.status() == LoginItemStatus::enabled;
    std::unique_ptr<QWidget> content =
        dependencies_.makeSettingsContent(*store_, monitor(), launchesAtLogin);
    if (!content) {
        return;
    }

    auto window = std::make_unique<SettingsWindow>(std::move(content));
    window->adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    settingsWindow_ = std::move(window);
}

} // namespace tarnell::app
