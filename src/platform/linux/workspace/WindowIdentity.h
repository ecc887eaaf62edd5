#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// How a window is traced back to the desktop entry of its application: first the
// hint the window carries, then its class names, then the process that owns it.
namespace tarnell::platform {

// What is known of the installed desktop entries, for matching names against them.
class DesktopCatalog {
public:
    // Entries in precedence order; an ID already present is not replaced.
    void add(const std::string& desktopId, const std::string& startupWmClass);
    bool contains(const std::string& desktopId) const { return ids_.contains(desktopId); }
    bool empty() const { return ids_.empty(); }

    // The entry a window name (an application ID, a class name or a desktop file
    // name) stands for: exact matches first, then ignoring letter case.
    std::optional<std::string> match(std::string_view name) const;

private:
    std::unordered_set<std::string> ids_;
    std::unordered_map<std::string, std::string> byWmClass_;
    std::unordered_map<std::string, std::string> byFoldedWmClass_;
    std::unordered_map<std::string, std::string> byFoldedStem_;
};

// What a window tells about itself.
struct WindowHints {
    std::string desktopHint; // _GTK_APPLICATION_ID, _KDE_NET_WM_DESKTOP_FILE or app_id
    std::string wmInstance;
    std::string wmClass;
    pid_t pid = 0;
};

// The two process files the identity may come from, read by the caller.
struct ProcessFiles {
    std::string environ; // /proc/PID/environ
    std::string cgroup;  // /proc/PID/cgroup
};

// The desktop file ID of the file at `path`: its path below the first of
// `applicationDirs` that holds it, with '/' turned into '-'; the file name when no
// application directory holds it.
std::string desktopIdForPath(std::string_view path,
                             const std::vector<std::string>& applicationDirs);

// The desktop file the process was launched from, when the launcher recorded it for
// this very process (and not for an ancestor that handed down its environment).
std::optional<std::string> launchedDesktopFile(std::string_view environ, pid_t pid);

// The desktop ID encoded in the application unit of a cgroup listing
// ("app[-launcher]-ID-random.scope" or "app[-launcher]-ID[@random].service").
std::optional<std::string> desktopIdFromCgroup(std::string_view cgroup);

// The unit-name form of one name part: everything but [A-Za-z0-9:_.] as \xNN,
// a leading '.' too.
std::string escapeUnitNamePart(std::string_view part);

class WindowIdentifier {
public:
    WindowIdentifier(const DesktopCatalog& catalog, std::vector<std::string> applicationDirs);

    // The desktop ID of the window's application, or nullopt when it has no identity.
    // `readProcess` is asked only when the hints are not enough.
    template <typename ReadProcess>
    std::optional<std::string> identify(const WindowHints& hints, ReadProcess&& readProcess) const {
        if (auto id = identifyFromHints(hints)) {
            return id;
        }
        if (hints.pid <= 0) {
            return std::nullopt;
        }
        return identifyFromProcess(hints.pid, readProcess(hints.pid));
    }

    std::optional<std::string> identifyFromHints(const WindowHints& hints) const;
    std::optional<std::string> identifyFromProcess(pid_t pid, const ProcessFiles& files) const;

private:
    const DesktopCatalog& catalog_;
    std::vector<std::string> applicationDirs_;
};

} // namespace tarnell::platform
