#pragma once

#include "engine/PlatformServices.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

namespace tarnell {
class ApplicationDirectory;
class BindingStore;
class KeyValueStore;
} // namespace tarnell

namespace tarnell::engine {
class HyperKeyMonitor;
} // namespace tarnell::engine

namespace tarnell::app {

class LoginItemService;

// Makes the content of the settings window: the settings form for the store and the
// monitor, its login toggle starting at `launchesAtLogin`.
using SettingsContentFactory = std::function<std::unique_ptr<QWidget>(
    BindingStore& store, engine::HyperKeyMonitor& monitor, bool launchesAtLogin)>;

// Owns the program's one store, its one engine and its one settings window; starts
// the engine once the event loop runs and stops it when the application ends.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // Everything the delegate uses from the system; each must outlive the delegate.
    struct Dependencies {
        KeyValueStore& settings;
        ApplicationDirectory& applications;
        engine::PlatformServices engine;
        LoginItemService& loginItems;
        SettingsContentFactory makeSettingsContent;
    };

    // Makes the store at once (loading the stored shortcuts and settings); the
    // engine and the window are made when first needed.
    explicit AppDelegate(Dependencies dependencies, QObject* parent = nullptr);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    [[nodiscard]] BindingStore& store() { return *store_; }
    // The one engine, made by whichever reader comes first.
    engine::HyperKeyMonitor& monitor();
    // The settings window once made (it is never destroyed before the delegate).
    [[nodiscard]] QWidget* settingsWindow() const { return settingsWindow_.get(); }

    // The event loop is running: connect Hyper + "," to the settings window and
    // start the engine, which asks for input access itself when it lacks it.
    void applicationDidFinishLaunching();
    // The application is ending: stop the engine (tap removed, Caps Lock mapping
    // cleared), also while it still waits for input access.
    void applicationWillTerminate();
    // Tarnell was started again while running: show the settings window, brought
    // forward with the activation token the new start came with, when it had one.
    void applicationShouldHandleReopen(const QString& activationToken);

    // Makes the window on the first request, then brings it forward and makes it
    // the active window, on every request.
    void showSettingsWindow();

private:
    void makeSettingsWindow();

    Dependencies dependencies_;
    std::shared_ptr<BindingStore> store_;
    std::shared_ptr<engine::HyperKeyMonitor> monitor_;
    std::unique_ptr<QWidget> settingsWindow_;
    QString pendingActivationToken_;
};

} // namespace tarnell::app
