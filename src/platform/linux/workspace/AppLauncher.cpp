#include "platform/linux/workspace/AppLauncher.h"

#include "platform/linux/workspace/WindowIdentity.h"

#include <gio/gdesktopappinfo.h>
#include <memory>

namespace tarnell::platform {

struct AppLauncher::Request {
    AppLauncher* launcher;
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

AppLauncher::AppLauncher() : cancellable_(g_cancellable_new()) {
    // Only the address is looked up here; connecting happens in the event loop.
    g_bus_get(G_BUS_TYPE_SESSION, cancellable_, &AppLauncher::onBus, this);
}

AppLauncher::~AppLauncher() {
    g_cancellable_cancel(cancellable_);
    g_object_unref(cancellable_);
    if (bus_ != nullptr) {
        g_object_unref(bus_);
    }
}

void AppLauncher::onBus(GObject*, GAsyncResult* result, gpointer self) {
    GDBusConnection* bus = g_bus_get_finish(result, nullptr);
    if (bus == nullptr) {
        return; // no session bus (or cancelled): programs stay in our own group
    }
    static_cast<AppLauncher*>(self)->bus_ = bus;
}

void AppLauncher::launch(const std::string& path, const std::string& desktopId,
                         Environment environment) {
    // Launching spawns a process or calls D-Bus; neither belongs on the key path.
    auto* request = new Request{this, path, desktopId, std::move(environment)};
    g_idle_add_full(G_PRIORITY_DEFAULT, &AppLauncher::launchNow, request, nullptr);
}

gboolean AppLauncher::launchNow(gpointer data) {
    std::unique_ptr<Request> request(static_cast<Request*>(data));
    GDesktopAppInfo* entry = g_desktop_app_info_new_from_filename(request->path.c_str());
    if (entry == nullptr) {
        return G_SOURCE_REMOVE;
    }
    GAppLaunchContext* context = g_app_launch_context_new();
    for (const auto& [name, value] : request->environment) {
        g_app_launch_context_setenv(context, name.c_str(), value.c_str());
    }
    // GIO handles the field codes, Terminal=true and D-Bus activation itself.
    g_desktop_app_info_launch_uris_as_manager(entry, nullptr, context, G_SPAWN_SEARCH_PATH, nullptr,
                                              nullptr, &AppLauncher::onLaunched, request.get(),
                                              nullptr);
    g_object_unref(context);
    g_object_unref(entry);
    return G_SOURCE_REMOVE;
}

void AppLauncher::onLaunched(GDesktopAppInfo*, GPid pid, gpointer data) {
    auto* request = static_cast<Request*>(data);
    request->launcher->moveIntoScope(request->desktopId, pid);
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
