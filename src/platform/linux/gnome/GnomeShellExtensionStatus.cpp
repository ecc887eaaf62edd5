#include "platform/linux/gnome/GnomeShellExtensionStatus.h"

#include "platform/linux/gnome/GnomeSession.h"
#include "platform/linux/gnome/SessionDesktopExtension.h"
#include "platform/linux/gnome/ShellExtensionInterface.h"
#include "platform/linux/session/SessionEnvironment.h"

#include <cstring>

namespace tarnell::platform::gnome {
namespace {

constexpr const char* kShellName = "org.gnome.Shell";
constexpr const char* kShellPath = "/org/gnome/Shell";
constexpr const char* kExtensionsInterface = "org.gnome.Shell.Extensions";

// The shell's states of an extension (the same numbers since GNOME 3).
constexpr double kEnabled = 1;
constexpr double kError = 3;
constexpr double kOutOfDate = 4;
constexpr double kEnabling = 8;
constexpr double kUninstalled = 99;

// The shell owns its name a few seconds before it answers on it at start.
constexpr guint kRetryMs = 500;
constexpr unsigned kMaxRetries = 120;

} // namespace

GnomeShellExtensionStatus::GnomeShellExtensionStatus(GDBusConnection* bus)
    : bus_(G_DBUS_CONNECTION(g_object_ref(bus))) {
    extensionWatch_ = g_bus_watch_name_on_connection(
        bus_, kBusName, G_BUS_NAME_WATCHER_FLAGS_NONE,
        &GnomeShellExtensionStatus::onExtensionAppeared,
        &GnomeShellExtensionStatus::onExtensionVanished, this, nullptr);
    shellWatch_ =
        g_bus_watch_name_on_connection(bus_, kShellName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                       &GnomeShellExtensionStatus::onShellAppeared,
                                       &GnomeShellExtensionStatus::onShellVanished, this, nullptr);
}

GnomeShellExtensionStatus::~GnomeShellExtensionStatus() {
    g_bus_unwatch_name(extensionWatch_);
    g_bus_unwatch_name(shellWatch_);
    forgetShell();
    g_object_unref(bus_);
}

app::DesktopExtension::Status GnomeShellExtensionStatus::status() const {
    // Without the shell there is nothing to ask for; before it answered, nothing
    // to say yet.
    if (extensionRunning_ || !shellPresent_ || !shellState_) {
        return Status::Running;
    }
    const auto& state = *shellState_;
    if (!state || *state == kUninstalled) {
        return Status::NotLoaded;
    }
    if (*state == kError || *state == kOutOfDate) {
        return Status::Failed;
    }
    // On its way up: its name follows in a moment.
    if (*state == kEnabled || *state == kEnabling) {
        return Status::Running;
    }
    return Status::Off;
}

void GnomeShellExtensionStatus::enable() {
    g_dbus_connection_call(bus_, kShellName, kShellPath, kExtensionsInterface, "EnableExtension",
                           g_variant_new("(s)", kExtensionUuid), nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
}

void GnomeShellExtensionStatus::onExtensionAppeared(GDBusConnection*, const gchar*, const gchar*,
                                                    gpointer data) {
    auto* self = static_cast<GnomeShellExtensionStatus*>(data);
    self->extensionRunning_ = true;
    self->announce();
}

void GnomeShellExtensionStatus::onExtensionVanished(GDBusConnection*, const gchar*, gpointer data) {
    auto* self = static_cast<GnomeShellExtensionStatus*>(data);
    self->extensionRunning_ = false;
    self->announce();
}

void GnomeShellExtensionStatus::onShellAppeared(GDBusConnection* bus, const gchar*,
                                                const gchar* owner, gpointer data) {
    auto* self = static_cast<GnomeShellExtensionStatus*>(data);
    self->forgetShell();
    self->shellPresent_ = true;
    self->subscription_ = g_dbus_connection_signal_subscribe(
        bus, owner, kExtensionsInterface, "ExtensionStateChanged", kShellPath, kExtensionUuid,
        G_DBUS_SIGNAL_FLAGS_NONE, &GnomeShellExtensionStatus::onStateChanged, self, nullptr);
    self->retries_ = 0;
    self->askShell();
}

void GnomeShellExtensionStatus::onShellVanished(GDBusConnection*, const gchar*, gpointer data) {
    auto* self = static_cast<GnomeShellExtensionStatus*>(data);
    self->forgetShell();
    self->announce();
}

void GnomeShellExtensionStatus::forgetShell() {
    if (cancellable_ != nullptr) {
        g_cancellable_cancel(cancellable_);
        g_clear_object(&cancellable_);
    }
    if (subscription_ != 0) {
        g_dbus_connection_signal_unsubscribe(bus_, subscription_);
        subscription_ = 0;
    }
    if (retry_ != 0) {
        g_source_remove(retry_);
        retry_ = 0;
    }
    shellPresent_ = false;
    shellState_.reset();
}

void GnomeShellExtensionStatus::askShell() {
    cancellable_ = g_cancellable_new();
    g_dbus_connection_call(bus_, kShellName, kShellPath, kExtensionsInterface, "GetExtensionInfo",
                           g_variant_new("(s)", kExtensionUuid), G_VARIANT_TYPE("(a{sv})"),
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, cancellable_,
                           &GnomeShellExtensionStatus::onInfo, this);
}

void GnomeShellExtensionStatus::onInfo(GObject* bus, GAsyncResult* result, gpointer data) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &error);
    if (reply == nullptr) {
        const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
        g_error_free(error);
        if (cancelled) {
            return; // the status object may be gone
        }
        // Not answering yet, as at its start: ask again in a moment.
        auto* self = static_cast<GnomeShellExtensionStatus*>(data);
        g_clear_object(&self->cancellable_);
        if (++self->retries_ <= kMaxRetries) {
            self->retry_ = g_timeout_add(kRetryMs, &GnomeShellExtensionStatus::onRetry, self);
        }
        return;
    }
    auto* self = static_cast<GnomeShellExtensionStatus*>(data);
    g_clear_object(&self->cancellable_);
    GVariant* info = g_variant_get_child_value(reply, 0);
    self->takeInfo(info);
    g_variant_unref(info);
    g_variant_unref(reply);
    self->announce();
}

gboolean GnomeShellExtensionStatus::onRetry(gpointer data) {
    auto* self = static_cast<GnomeShellExtensionStatus*>(data);
    self->retry_ = 0;
    self->askShell();
    return G_SOURCE_REMOVE;
}

void GnomeShellExtensionStatus::onStateChanged(GDBusConnection*, const gchar*, const gchar*,
                                               const gchar*, const gchar*, GVariant* parameters,
                                               gpointer data) {
    auto* self = static_cast<GnomeShellExtensionStatus*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv})"))) {
        return;
    }
    GVariant* info = g_variant_get_child_value(parameters, 1);
    self->takeInfo(info);
    g_variant_unref(info);
    self->announce();
}

void GnomeShellExtensionStatus::takeInfo(GVariant* info) {
    // The shell sends its numbers as doubles; a state of another type is no state.
    GVariant* state = g_variant_lookup_value(info, "state", G_VARIANT_TYPE_DOUBLE);
    if (state == nullptr) {
        shellState_.emplace(std::nullopt);
        return;
    }
    shellState_.emplace(g_variant_get_double(state));
    g_variant_unref(state);
}

void GnomeShellExtensionStatus::announce() const {
    if (changed_) {
        changed_();
    }
}

std::unique_ptr<app::DesktopExtension> desktopExtensionForSession() {
    GDBusConnection* bus = session::knownSessionBus();
    if (bus == nullptr) {
        return nullptr;
    }
    std::unique_ptr<app::DesktopExtension> extension;
    if (isGnomeShellSession(bus)) {
        extension = std::make_unique<GnomeShellExtensionStatus>(bus);
    }
    g_object_unref(bus);
    return extension;
}

} // namespace tarnell::platform::gnome
