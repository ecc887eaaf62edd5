#include "platform/linux/autostart/XdgAutostart.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <glib.h>
#include <glib/gstdio.h>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnell::platform {

namespace {

using app::LoginItemStatus;

constexpr const char* kGroup = G_KEY_FILE_DESKTOP_GROUP;
constexpr const char* kEnabledKey = "X-GNOME-Autostart-enabled";

struct KeyFileDeleter {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileDeleter>;

// The value of an environment variable holding a base directory, or nothing when
// unset, empty or relative (such values are to be ignored).
std::string absoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    return value;
}

std::string userConfigDir() {
    std::string dir = absoluteEnv("XDG_CONFIG_HOME");
    if (dir.empty()) {
        const std::string home = absoluteEnv("HOME");
        dir = (home.empty() ? std::string(g_get_home_dir()) : home) + "/.config";
    }
    return dir;
}

std::vector<std::string> systemConfigDirs() {
    const char* value = std::getenv("XDG_CONFIG_DIRS");
    std::string_view dirs = (value && *value) ? value : "/etc/xdg";
    std::vector<std::string> result;
    while (!dirs.empty()) {
        const std::size_t colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        if (!dir.empty() && dir.front() == '/') {
            result.emplace_back(dir);
        }
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
    }
    return result;
}

bool exists(const std::string& path) {
    return g_file_test(path.c_str(), G_FILE_TEST_EXISTS);
}

// The entry at `path` read as a desktop entry, or nullptr when it does not parse.
KeyFile loadEntry(const std::string& path) {
    KeyFile file(g_key_file_new());
    if (!g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_NONE, nullptr) ||
        !g_key_file_has_group(file.get(), kGroup)) {
        return nullptr;
    }
    return file;
}

// A Boolean key of the entry, or `absent` when missing or unreadable.
bool booleanKey(GKeyFile* file, const char* key, bool absent) {
    GError* error = nullptr;
    const gboolean value = g_key_file_get_boolean(file, kGroup, key, &error);
    if (error != nullptr) {
        g_error_free(error);
        return absent;
    }
    return value != FALSE;
}

LoginItemStatus statusOfEntry(const std::string& path) {
    const KeyFile file = loadEntry(path);
    if (!file) {
        return LoginItemStatus::notFound;
    }
    if (booleanKey(file.get(), G_KEY_FILE_DESKTOP_KEY_HIDDEN, false) ||
        !booleanKey(file.get(), kEnabledKey, true)) {
        return LoginItemStatus::notRegistered;
    }
    return LoginItemStatus::enabled;
}

} // namespace

XdgAutostart::XdgAutostart() : XdgAutostart(kDesktopId, runningProgram()) {}

std::string XdgAutostart::runningProgram() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    // The kernel marks a program replaced on disk (an upgrade) with " (deleted)"; the
    // path still names where the new one is installed.
    std::string path = error ? std::string() : program.string();
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted)) {
        path.erase(path.size() - kDeleted.size());
    }
    return path.empty() || path.front() != '/' ? "tarnell" : path;
}

XdgAutostart::XdgAutostart(std::string desktopId, std::string executablePath)
    : desktopId_(std::move(desktopId)), executablePath_(std::move(executablePath)) {}

std::string XdgAutostart::userEntryPath() const {
    return userConfigDir() + "/autostart/" + desktopId_;
}

std::string XdgAutostart::systemEntryPath() const {
    for (const std::string& dir : systemConfigDirs()) {
        std::string path = dir + "/autostart/" + desktopId_;
        if (exists(path)) {
            return path;
        }
    }
    return {};
}

LoginItemStatus XdgAutostart::status() {
    // The user's entry, when there is one, replaces the system's entirely.
    if (const std::string user = userEntryPath(); exists(user)) {
        return statusOfEntry(user);
    }
    if (const std::string system = systemEntryPath(); !system.empty()) {
        return statusOfEntry(system);
    }
    return LoginItemStatus::notRegistered;
}

bool XdgAutostart::registerItem() {
    return writeUserEntry(false);
}

bool XdgAutostart::unregisterItem() {
    if (!systemEntryPath().empty()) {
        // Removing the user's entry would bring the system's back into force.
        return writeUserEntry(true);
    }
    const std::string user = userEntryPath();
    return g_remove(user.c_str()) == 0 || errno == ENOENT;
}

std::string XdgAutostart::execValue(const std::string& path) {
    // Field codes start with '%'; a literal one is written twice. Inside quotes, '"',
    // '`', '$' and '\\' take a backslash. A path of plain characters goes unquoted;
    // anything else (white space of any kind, shell characters, other bytes) is quoted.
    std::string escaped;
    bool needsQuotes = false;
    for (const char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '/' || c == '.' || c == '_' || c == '-' ||
                           c == '+' || c == ',' || c == ':' || c == '@' || c == '%';
        needsQuotes = needsQuotes || !plain;
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            escaped += '\\';
        }
        escaped += c;
        if (c == '%') {
            escaped += '%';
        }
    }
    return needsQuotes ? '"' + escaped + '"' : escaped;
}

bool XdgAutostart::writeUserEntry(bool hidden) {
    const std::string path = userEntryPath();
    const std::string dir = userConfigDir() + "/autostart";
    if (g_mkdir_with_parents(dir.c_str(), 0700) != 0) {
        return false;
    }

    KeyFile file(g_key_file_new());
    g_key_file_set_string(file.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_TYPE,
                          G_KEY_FILE_DESKTOP_TYPE_APPLICATION);
    g_key_file_set_string(file.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_NAME, "Tarnell");
    // The key file escapes backslashes once more, as desktop entries expect.
    g_key_file_set_string(file.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_EXEC,
                          execValue(executablePath_).c_str());
    if (hidden) {
        g_key_file_set_boolean(file.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_HIDDEN, TRUE);
    } else {
        g_key_file_set_boolean(file.get(), kGroup, kEnabledKey, TRUE);
    }

    gsize length = 0;
    std::unique_ptr<gchar, decltype(&g_free)> data(g_key_file_to_data(file.get(), &length, nullptr),
                                                   &g_free);
    // Written to a temporary file, flushed to disk and renamed over the entry, so a
    // crash leaves either the old entry or the new one.
    GError* error = nullptr;
    const gboolean written =
        g_file_set_contents_full(path.c_str(), data.get(), static_cast<gssize>(length),
                                 G_FILE_SET_CONTENTS_CONSISTENT, 0644, &error);
    if (error != nullptr) {
        g_error_free(error);
    }
    return written != FALSE;
}

} // namespace tarnell::platform
