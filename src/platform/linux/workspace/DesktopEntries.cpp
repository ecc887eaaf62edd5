#include "platform/linux/workspace/DesktopEntries.h"

#include <gio/gdesktopappinfo.h>
#include <memory>

namespace tarnell::platform {
namespace {

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T> using GObjectPtr = std::unique_ptr<T, ObjectUnref>;

std::string readWholeFile(const std::string& path) {
    gchar* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr)) {
        return {};
    }
    std::string text(contents, length);
    g_free(contents);
    return text;
}

} // namespace

std::vector<std::string> applicationDirectories() {
    std::vector<std::string> dirs;
    dirs.push_back(std::string(g_get_user_data_dir()) + "/applications");
    for (auto dir = g_get_system_data_dirs(); *dir != nullptr; ++dir) {
        dirs.push_back(std::string(*dir) + "/applications");
    }
    return dirs;
}

DesktopCatalog loadDesktopCatalog() {
    DesktopCatalog catalog;
    GList* all = g_app_info_get_all();
    for (GList* item = all; item != nullptr; item = item->next) {
        auto* info = G_APP_INFO(item->data);
        const char* id = g_app_info_get_id(info);
        if (id != nullptr && G_IS_DESKTOP_APP_INFO(info)) {
            const char* wmClass = g_desktop_app_info_get_startup_wm_class(G_DESKTOP_APP_INFO(info));
            catalog.add(id, wmClass != nullptr ? wmClass : "");
        }
    }
    g_list_free_full(all, g_object_unref);
    return catalog;
}

std::optional<std::string> desktopIdOfEntryAt(const std::string& path,
                                              const std::vector<std::string>& applicationDirs) {
    if (!path.ends_with(".desktop")) {
        return std::nullopt;
    }
    GObjectPtr<GDesktopAppInfo> entry(g_desktop_app_info_new_from_filename(path.c_str()));
    if (!entry) {
        return std::nullopt;
    }
    return desktopIdForPath(path, applicationDirs);
}

ProcessFiles readProcessFiles(pid_t pid) {
    const auto base = "/proc/" + std::to_string(pid);
    return {readWholeFile(base + "/environ"), readWholeFile(base + "/cgroup")};
}

} // namespace tarnell::platform
