#include "platform/linux/gnome/GnomeShellClient.h"

#include "platform/linux/gnome/ShellExtensionInterface.h"

#include <cstring>

namespace tarnell::platform::gnome {

GnomeShellClient::GnomeShellClient(GDBusConnection* bus)
    : bus_(bus != nullptr ? G_DBUS_CONNECTION(g_object_ref(bus)) : nullptr) {
    if (bus_ != nullptr) {
        watch_ = g_bus_watch_name_on_connection(bus_, kBusName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                                &GnomeShellClient::onAppeared,
                                                &GnomeShellClient::onVanished, this, nullptr);
    }
}

GnomeShellClient::~GnomeShellClient() {
    if (watch_ != 0) {
        g_bus_unwatch_name(watch_);
    }
    forget();
    if (bus_ != nullptr) {
        g_object_unref(bus_);
    }
}

bool GnomeShellClient::isRunning(std::string_view desktopId) const {
    return running_.find(desktopId) != running_.end();
}

void GnomeShellClient::activate(const std::string& desktopId) {
    send("Activate", desktopId);
}

void GnomeShellClient::hide(const std::string& desktopId) {
    send("Hide", desktopId);
}

void GnomeShellClient::send(const char* method, const std::string& desktopId) {
    if (!active_) {
        return;
    }
    // No callback: sent without asking for a reply, so nothing waits for the shell.
    g_dbus_connection_call(bus_, owner_.c_str(), kObjectPath, kInterface, method,
                           g_variant_new("(s)", desktopId.c_str()), nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
}

void GnomeShellClient::onAppeared(GDBusConnection* bus, const gchar*, const gchar* owner,
                                  gpointer data) {
    auto* self = static_cast<GnomeShellClient*>(data);
    self->forget();
    self->owner_ = owner;
    // Signals from the owner alone: the bus vouches for the sender, so no other
    // connection can speak for the extension. Subscribed before the query, so that
    // nothing between its answer and the first signal is missed.
    self->subscription_ = g_dbus_connection_signal_subscribe(
        bus, owner, kInterface, nullptr, kObjectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        &GnomeShellClient::onSignal, self, nullptr);
    self->cancellable_ = g_cancellable_new();
    g_dbus_connection_call(bus, owner, kObjectPath, kInterface, "GetState", nullptr,
                           G_VARIANT_TYPE("(bsasss)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, -1,
                           self->cancellable_, &GnomeShellClient::onState, self);
}

void GnomeShellClient::onVanished(GDBusConnection*, const gchar*, gpointer data) {
    auto* self = static_cast<GnomeShellClient*>(data);
    const bool wasActive = self->active_;
    self->forget();
    if (wasActive) {
        self->announce();
    }
}

void GnomeShellClient::forget() {
    if (cancellable_ != nullptr) {
        g_cancellable_cancel(cancellable_);
        g_clear_object(&cancellable_);
    }
    if (subscription_ != 0) {
        g_dbus_connection_signal_unsubscribe(bus_, subscription_);
        subscription_ = 0;
    }
    owner_.clear();
    active_ = false;
    focus_ = {};
    running_.clear();
    inputSource_ = {};
}

void GnomeShellClient::onState(GObject* bus, GAsyncResult* result, gpointer data) {
    GError* error = nullptr;
    GVariant* state = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &error);
    if (state == nullptr) {
        // Cancelled: the client may be gone, so it is not touched. Any other failure
        // leaves it inactive until the name appears again.
        g_error_free(error);
        return;
    }
    auto* self = static_cast<GnomeShellClient*>(data);
    g_clear_object(&self->cancellable_);
    gboolean focused = FALSE;
    const gchar* focusedApp = nullptr;
    GVariantIter* running = nullptr;
    const gchar* sourceType = nullptr;
    const gchar* sourceId = nullptr;
    // The reply's type was checked against the one asked for.
    g_variant_get(state, "(b&sas&s&s)", &focused, &focusedApp, &running, &sourceType, &sourceId);
    self->setFocus(focused, focusedApp);
    self->setRunning(running);
    self->setInputSource(sourceType, sourceId);
    g_variant_iter_free(running);
    g_variant_unref(state);
    self->active_ = true;
    self->announce();
}

void GnomeShellClient::onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                const gchar* signal, GVariant* parameters, gpointer data) {
    auto* self = static_cast<GnomeShellClient*>(data);
    // Before the state is known a signal changes nothing the answer will not.
    if (!self->active_) {
        return;
    }
    if (std::strcmp(signal, "FocusChanged") == 0 &&
        g_variant_is_of_type(parameters, G_VARIANT_TYPE("(bs)"))) {
        gboolean focused = FALSE;
        const gchar* desktopId = nullptr;
        g_variant_get(parameters, "(b&s)", &focused, &desktopId);
        self->setFocus(focused, desktopId);
    } else if (std::strcmp(signal, "RunningAppsChanged") == 0 &&
               g_variant_is_of_type(parameters, G_VARIANT_TYPE("(as)"))) {
        GVariantIter* running = nullptr;
        g_variant_get(parameters, "(as)", &running);
        self->setRunning(running);
        g_variant_iter_free(running);
    } else if (std::strcmp(signal, "InputSourceChanged") == 0 &&
               g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ss)"))) {
        const gchar* type = nullptr;
        const gchar* id = nullptr;
        g_variant_get(parameters, "(&s&s)", &type, &id);
        self->setInputSource(type, id);
    } else {
        return;
    }
    self->announce();
}

void GnomeShellClient::setFocus(gboolean focused, const gchar* desktopId) {
    focus_.focused = focused != FALSE;
    // A focused window whose application has no acceptable ID is an application
    // without identifier, not none.
    focus_.desktopId = focus_.focused ? acceptedDesktopId(desktopId) : std::nullopt;
}

void GnomeShellClient::setRunning(GVariantIter* desktopIds) {
    running_.clear();
    const gchar* desktopId = nullptr;
    while (running_.size() < kMaxRunningApps && g_variant_iter_next(desktopIds, "&s", &desktopId)) {
        if (auto accepted = acceptedDesktopId(desktopId)) {
            running_.insert(std::move(*accepted));
        }
    }
}

void GnomeShellClient::setInputSource(const gchar* type, const gchar* id) {
    inputSource_ = {boundedText(type), boundedText(id)};
}

void GnomeShellClient::announce() const {
    if (changed_) {
        changed_();
    }
}

} // namespace tarnell::platform::gnome
