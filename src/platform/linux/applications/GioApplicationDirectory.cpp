#include "platform/linux/applications/GioApplicationDirectory.h"

#include "bindings/FileUrl.h"

#include <algorithm>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <vector>

namespace tarnell::platform {
namespace {

constexpr std::string_view kDesktopSuffix = ".desktop";

// The desktop entry at this path, when it is one GIO can read.
GDesktopAppInfo* desktopEntryAt(std::string_view path) {
    if (!path.ends_with(kDesktopSuffix)) {
        return nullptr;
    }
    const std::string file(path);
    return g_desktop_app_info_new_from_filename(file.c_str());
}

std::string lastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.ends_with('/')) {
        path.remove_suffix(1);
    }
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos || path.size() == 1) {
        return std::string(path);
    }
    return std::string(path.substr(slash + 1));
}

std::vector<std::string> dataDirectories() {
    std::vector<std::string> directories{g_get_user_data_dir()};
    for (const gchar* const* system = g_get_system_data_dirs(); *system != nullptr; ++system) {
        directories.emplace_back(*system);
    }
    return directories;
}

} // namespace

std::optional<std::string> GioApplicationDirectory::urlForApplication(std::string_view desktopId) {
    const std::string id(desktopId);
    g_autoptr(GDesktopAppInfo) info = g_desktop_app_info_new(id.c_str());
    if (info == nullptr) {
        return std::nullopt;
    }
    const char* filename = g_desktop_app_info_get_filename(info);
    if (filename == nullptr || filename[0] != '/') {
        return std::nullopt;
    }
    return fileUrlFromPath(filename);
}

std::optional<std::string>
GioApplicationDirectory::defaultApplicationFor(std::string_view contentType) {
    const std::string type(contentType);
    g_autoptr(GAppInfo) info = g_app_info_get_default_for_type(type.c_str(), FALSE);
    if (info == nullptr) {
        return std::nullopt;
    }
    const char* id = g_app_info_get_id(info);
    if (id == nullptr) {
        return std::nullopt;
    }
    return std::string(id);
}

std::string GioApplicationDirectory::displayNameAtPath(std::string_view path) {
    g_autoptr(GDesktopAppInfo) info = desktopEntryAt(path);
    if (info != nullptr) {
        if (const char* name = g_app_info_get_name(G_APP_INFO(info));
            name != nullptr && name[0] != '\0') {
            return name;
        }
    }
    return lastPathComponent(path);
}

std::optional<std::string> GioApplicationDirectory::desktopFileIdForPath(std::string_view path) {
    if (!path.ends_with(kDesktopSuffix)) {
        return std::nullopt;
    }
    for (const auto& directory : dataDirectories()) {
        std::string prefix = directory;
        while (prefix.size() > 1 && prefix.ends_with('/')) {
            prefix.pop_back();
        }
        prefix += "/applications/";
        if (path.size() > prefix.size() && path.starts_with(prefix)) {
            std::string id(path.substr(prefix.size()));
            std::replace(id.begin(), id.end(), '/', '-');
            return id;
        }
    }
    return std::nullopt;
}

std::optional<std::string> GioApplicationDirectory::iconForDesktopFile(std::string_view path) {
    g_autoptr(GDesktopAppInfo) info = desktopEntryAt(path);
    if (info == nullptr) {
        return std::nullopt;
    }
    GIcon* icon = g_app_info_get_icon(G_APP_INFO(info)); // owned by info
    if (icon == nullptr) {
        return std::nullopt;
    }
    if (G_IS_THEMED_ICON(icon)) {
        const gchar* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
        if (names != nullptr && names[0] != nullptr) {
            return std::string(names[0]);
        }
        return std::nullopt;
    }
    if (G_IS_FILE_ICON(icon)) {
        g_autofree char* file = g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon)));
        if (file != nullptr) {
            return std::string(file);
        }
    }
    return std::nullopt;
}

} // namespace tarnell::platform
