#include "platform/linux/workspace/AppLauncher.h"

#include "platform/linux/diagnostics/Diagnostics.h"
#include "platform/linux/session/SessionEnvironment.h"
#include "platform/linux/workspace/WindowIdentity.h"

#include <cstdlib>
#include <gio/gdesktopappinfo.h>
#include <memory>

namespace tarnell::platform {

struct AppLauncher::Request {
    std::weak_ptr<AppLauncher*> launcher;
    std::string path;
    std::string desktopId;
    Environment environment;
};

std::string launchScopeName(const std::string& desktopId, int pid) {
    std::string stem = desktopId;
    if (constexpr std::string_view suffix = ".desktop"; stem.ends_with(suffix)) {
        stem.resize(stem.size() - suffix.size());
    }
    return "app-tarnell-" + escapeUnitNamePart(stem) + "-" + std::to_string(pid) + ".scope";
}

AppLauncher::AppLauncher()
    : cancellable_(g_cancellable_new()), self_(std::make_shared<AppLauncher*>(this)) {
    // A user service manager comes with a session bus at a known address; without
    // one there is nobody to make scopes, and no bus is to be started for it.
    if (session::sessionBusKnown()) {
        // Connecting happens in the event loop.
        g_bus_get(G_BUS_TYPE_SESSION, cancellable_, &AppLauncher::onBus,
                  new std::weak_ptr<AppLauncher*>(self_));
    }
}

AppLauncher::~AppLauncher() {
    g_cancellable_cancel(cancellable_);
    g_object_unref(cancellable_);
    if (bus_ != nullptr) {
        g_object_unref(bus_);
    }
}

void AppLauncher::onBus(GObject*, GAsyncResult* result, gpointer data) {
    const std::unique_ptr<std::weak_ptr<AppLauncher*>> self(
        static_cast<std::weak_ptr<AppLauncher*>*>(data));
    GDBusConnection* bus = g_bus_get_finish(result, nullptr);
    if (bus == nullptr) {
        return; // no session bus: programs stay in our own group
    }
    if (const auto launcher = self->lock()) {
        (*launcher)->bus_ = bus;
    } else {
        g_object_unref(bus);
    }
}

void AppLauncher::launch(const std::string& path, const std::string& desktopId,
                         Environment environment) {
    // Launching spawns a process or calls D-Bus; neither belongs on the key path.
    auto* request = new Request{self_, path, desktopId, std::move(environment)};
    g_idle_add_full(G_PRIORITY_DEFAULT, &AppLauncher::launchNow, request, nullptr);
}

gboolean AppLauncher::launchNow(gpointer data) {
    std::unique_ptr<Request> request(static_cast<Request*>(data));
    if (request->launcher.expired()) {
        return G_SOURCE_REMOVE; // we are shutting down
    }
    GDesktopAppInfo* entry = g_desktop_app_info_new_from_filename(request->path.c_str());
    if (entry == nullptr) {
        diagnose("launch %s: %s is not a readable application entry", request->desktopId.c_str(),
                 request->path.c_str());
        return G_SOURCE_REMOVE;
    }
    GAppLaunchContext* context = g_app_launch_context_new();
    for (const auto& [name, value] : request->environment) {
        g_app_launch_context_setenv(context, name.c_str(), value.c_str());
    }
    // GIO handles the field codes, Terminal=true and D-Bus activation itself.
    GError* error = nullptr;
    if (g_desktop_app_info_launch_uris_as_manager(entry, nullptr, context, G_SPAWN_SEARCH_PATH,
                                                  nullptr, nullptr, &AppLauncher::onLaunched,
                                                  request.get(), &error) == FALSE) {
        diagnose("launch %s: failed: %s", request->desktopId.c_str(),
                 error != nullptr ? error->message : "no reason given");
        g_clear_error(&error);
    }
    g_object_unref(context);
    g_object_unref(entry);
    return G_SOURCE_REMOVE;
}

void AppLauncher::onLaunched(GDesktopAppInfo*, GPid pid, gpointer data) {
    auto* request = static_cast<Request*>(data);
    diagnose("launch %s: started, process %d", request->desktopId.c_str(), static_cast<int>(pid));
    if (const auto launcher = request->launcher.lock()) {
        (*launcher)->moveIntoScope(request->desktopId, pid);
    }
}

void AppLauncher::moveIntoScope(const std::string& desktopId, GPid pid) {
    if (bus_ == nullptr || pid <= 0) {
        return;
    }
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a(sv)"));
    const auto processId = static_cast<guint32>(pid);
    g_variant_builder_add(
        &properties, "(sv)", "PIDs",
        g_variant_new_fixed_array(G_VARIANT_TYPE_UINT32, &processId, 1, sizeof(processId)));
    g_variant_builder_add(&properties, "(sv)", "CollectMode",
                          g_variant_new_string("inactive-or-failed"));
    const auto name = launchScopeName(desktopId, pid);
    // No reply is awaited: a scope that cannot be made leaves the program where it is.
    g_dbus_connection_call(
        bus_, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
        "org.freedesktop.systemd1.Manager", "StartTransientUnit",
        g_variant_new("(ssa(sv)a(sa(sv)))", name.c_str(), "fail", &properties, nullptr),
        G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
}

} // namespace tarnell::platform
