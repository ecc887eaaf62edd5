#pragma once

#include "app/DesktopExtension.h"

#include <gio/gio.h>
#include <optional>

// Whether Tarnell's GNOME Shell extension runs, and if not, why: from its bus name
// and from what the shell reports about it through org.gnome.Shell.Extensions.
// Turning it on goes through the same interface. Works on the default GLib main
// context, which Qt's event loop runs.
namespace tarnell::platform::gnome {

class GnomeShellExtensionStatus final : public app::DesktopExtension {
public:
    // Follows the shell and the extension on `bus`, a session bus connection.
    explicit GnomeShellExtensionStatus(GDBusConnection* bus);
    ~GnomeShellExtensionStatus() override;
    GnomeShellExtensionStatus(const GnomeShellExtensionStatus&) = delete;
    GnomeShellExtensionStatus& operator=(const GnomeShellExtensionStatus&) = delete;

    [[nodiscard]] Status status() const override;
    void enable() override;
    void setOnStatusChanged(std::function<void()> changed) override {
        changed_ = std::move(changed);
    }

private:
    static void onExtensionAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer self);
    static void onExtensionVanished(GDBusConnection*, const gchar*, gpointer self);
    static void onShellAppeared(GDBusConnection*, const gchar*, const gchar* owner, gpointer self);
    static void onShellVanished(GDBusConnection*, const gchar*, gpointer self);
    static void onStateChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                               const gchar*, GVariant* parameters, gpointer self);
    static void onInfo(GObject* bus, GAsyncResult* result, gpointer self);
    static gboolean onRetry(gpointer self);
    void askShell();
    void forgetShell();
    void takeInfo(GVariant* info);
    void announce() const;

    GDBusConnection* bus_;
    guint extensionWatch_ = 0;
    guint shellWatch_ = 0;
    guint subscription_ = 0;
    guint retry_ = 0;
    unsigned retries_ = 0;
    GCancellable* cancellable_ = nullptr;
    bool extensionRunning_ = false;
    bool shellPresent_ = false;
    // What the shell said of the extension: its state, or none when it does not
    // know it; not yet known before the shell answered.
    std::optional<std::optional<double>> shellState_;
    std::function<void()> changed_;
};

} // namespace tarnell::platform::gnome
