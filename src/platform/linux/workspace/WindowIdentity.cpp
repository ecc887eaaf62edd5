#include "platform/linux/workspace/WindowIdentity.h"

#include "bindings/TextEncoding.h"

#include <algorithm>
#include <charconv>

namespace tarnell::platform {
namespace {

constexpr std::string_view desktopSuffix = ".desktop";

std::string folded(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return result;
}

// A desktop file name or path reduced to the ID without its suffix.
std::string_view stemOf(std::string_view name) {
    if (const auto slash = name.rfind('/'); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }
    if (name.ends_with(desktopSuffix)) {
        name.remove_suffix(desktopSuffix.size());
    }
    return name;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::optional<std::string> unescapeUnitNamePart(std::string_view part) {
    std::string result;
    for (std::size_t i = 0; i < part.size(); ++i) {
        if (part[i] != '\\') {
            result += part[i];
            continue;
        }
        if (i + 3 >= part.size() || part[i + 1] != 'x' || hexDigitValue(part[i + 2]) < 0 ||
            hexDigitValue(part[i + 3]) < 0) {
            return std::nullopt;
        }
        result += static_cast<char>(hexDigitValue(part[i + 2]) * 16 + hexDigitValue(part[i + 3]));
        i += 3;
    }
    return result;
}

// The application ID inside one unit name, or nullopt when it is no application unit.
std::optional<std::string> applicationIdOfUnit(std::string_view unit) {
    constexpr std::string_view prefix = "app-";
    constexpr std::string_view scope = ".scope";
    constexpr std::string_view service = ".service";
    if (!unit.starts_with(prefix)) {
        return std::nullopt;
    }
    unit.remove_prefix(prefix.size());
    std::vector<std::string_view> parts;
    if (unit.ends_with(scope)) {
        unit.remove_suffix(scope.size());
        parts = split(unit, '-');
        // [launcher-]ID-random
        if (parts.size() < 2 || parts.size() > 3 || parts.back().empty()) {
            return std::nullopt;
        }
        parts.pop_back();
    } else if (unit.ends_with(service)) {
        unit.remove_suffix(service.size());
        unit = unit.substr(0, unit.find('@'));
        parts = split(unit, '-');
        // [launcher-]ID
        if (parts.size() > 2) {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    if (parts.back().empty()) {
        return std::nullopt;
    }
    return unescapeUnitNamePart(parts.back());
}

} // namespace

void DesktopCatalog::add(const std::string& desktopId, const std::string& startupWmClass) {
    if (!ids_.insert(desktopId).second) {
        return;
    }
    byFoldedStem_.try_emplace(folded(stemOf(desktopId)), desktopId);
    if (!startupWmClass.empty()) {
        byWmClass_.try_emplace(startupWmClass, desktopId);
        byFoldedWmClass_.try_emplace(folded(startupWmClass), desktopId);
    }
}

std::optional<std::string> DesktopCatalog::match(std::string_view name) const {
    const auto stem = stemOf(name);
    if (stem.empty()) {
        return std::nullopt;
    }
    if (auto id = std::string(stem) + std::string(desktopSuffix); ids_.contains(id)) {
        return id;
    }
    if (const auto it = byWmClass_.find(std::string(stem)); it != byWmClass_.end()) {
        return it->second;
    }
    const auto key = folded(stem);
    if (const auto it = byFoldedWmClass_.find(key); it != byFoldedWmClass_.end()) {
        return it->second;
    }
    if (const auto it = byFoldedStem_.find(key); it != byFoldedStem_.end()) {
        return it->second;
    }
    return std::nullopt;
}

std::string desktopIdForPath(std::string_view path,
                             const std::vector<std::string>& applicationDirs) {
    for (const auto& dir : applicationDirs) {
        std::string_view base = dir;
        while (base.size() > 1 && base.ends_with('/')) {
            base.remove_suffix(1);
        }
        if (path.size() > base.size() + 1 && path.starts_with(base) && path[base.size()] == '/') {
            std::string id(path.substr(base.size() + 1));
            std::replace(id.begin(), id.end(), '/', '-');
            return id;
        }
    }
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::optional<std::string> launchedDesktopFile(std::string_view environ, pid_t pid) {
    constexpr std::string_view fileKey = "GIO_LAUNCHED_DESKTOP_FILE=";
    constexpr std::string_view pidKey = "GIO_LAUNCHED_DESKTOP_FILE_PID=";
    std::optional<std::string_view> file;
    std::optional<std::string_view> launchedPid;
    for (const auto entry : split(environ, '\0')) {
        if (entry.starts_with(fileKey)) {
            file = entry.substr(fileKey.size());
        } else if (entry.starts_with(pidKey)) {
            launchedPid = entry.substr(pidKey.size());
        }
    }
    if (!file || file->empty() || !launchedPid) {
        return std::nullopt;
    }
    long value = 0;
    const auto [end, error] =
        std::from_chars(launchedPid->data(), launchedPid->data() + launchedPid->size(), value);
    if (error != std::errc{} || end != launchedPid->data() + launchedPid->size() || value != pid) {
        return std::nullopt;
    }
    return std::string(*file);
}

std::optional<std::string> desktopIdFromCgroup(std::string_view cgroup) {
    // The innermost application unit on any hierarchy names the application.
    for (const auto line : split(cgroup, '\n')) {
        // "hierarchy:controllers:path"; the path, and so a unit name, may hold colons.
        const auto first = line.find(':');
        const auto second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) {
            continue;
        }
        const auto components = split(line.substr(second + 1), '/');
        for (auto it = components.rbegin(); it != components.rend(); ++it) {
            if (auto id = applicationIdOfUnit(*it)) {
                return *id + std::string(desktopSuffix);
            }
        }
    }
    return std::nullopt;
}

std::string escapeUnitNamePart(std::string_view part) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string result;
    for (std::size_t i = 0; i < part.size(); ++i) {
        const auto c = static_cast<unsigned char>(part[i]);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == ':' || c == '_' || (c == '.' && i > 0);
        if (plain) {
            result += static_cast<char>(c);
        } else {
            result += "\\x";
            result += digits[c >> 4];
            result += digits[c & 0xf];
        }
    }
    return result;
}

WindowIdentifier::WindowIdentifier(const DesktopCatalog& catalog,
                                   std::vector<std::string> applicationDirs)
    : catalog_(catalog), applicationDirs_(std::move(applicationDirs)) {}

std::optional<std::string> WindowIdentifier::identifyFromHints(const WindowHints& hints) const {
    for (const auto& name : {hints.desktopHint, hints.wmInstance, hints.wmClass}) {
        if (name.empty()) {
            continue;
        }
        if (auto id = catalog_.match(name)) {
            return id;
        }
    }
    return std::nullopt;
}

std::optional<std::string> WindowIdentifier::identifyFromProcess(pid_t pid,
                                                                 const ProcessFiles& files) const {
    if (const auto file = launchedDesktopFile(files.environ, pid)) {
        if (auto id = desktopIdForPath(*file, applicationDirs_); catalog_.contains(id)) {
            return id;
        }
    }
    if (auto id = desktopIdFromCgroup(files.cgroup); id && catalog_.contains(*id)) {
        return id;
    }
    return std::nullopt;
}

} // namespace tarnell::platform
