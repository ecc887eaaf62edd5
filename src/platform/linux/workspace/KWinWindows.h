#pragma once

#include "engine/PlatformServices.h"
#include "platform/linux/workspace/WindowIdentity.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnell::platform {

// KWin's windows as our script reports them, and the requests the script carries out
// for us, written as JSON objects. Every report is checked before it counts: KWin
// passes on what applications call themselves, and any KWin script may call us.
class KWinWindows {
public:
    using Identify = std::function<std::optional<std::string>(const WindowHints&)>;
    // `shown` hears of each window that appears or is newly found to belong to an
    // application.
    using Shown = std::function<void(const std::string& desktopId)>;
    KWinWindows(Identify identify, Shown shown)
        : identify_(std::move(identify)), shown_(std::move(shown)) {}

    struct Report {
        std::string_view id; // KWin's own, a UUID in braces
        std::string_view desktopFileName;
        std::string_view resourceClass;
        std::string_view resourceName;
        std::string_view pid; // decimal; "0" when unknown
        bool normal = true;
        bool background = false; // the desktop or a panel
        bool minimized = false;
    };
    // Each returns false, changing nothing, when the report is refused.
    bool changed(const Report& report);
    bool removed(std::string_view id);
    bool activated(std::string_view id); // "" when no window has the focus

    void clear();
    // Identities depend on the installed entries; called after they were reloaded.
    void reidentify();

    std::optional<engine::RunningApplication> frontmost() const;
    // Minimises every window of the application; nullopt when there is nothing to do.
    std::optional<std::string> hide(const engine::RunningApplication& application);
    // Activates the most recent window of the application and brings back what our
    // hide minimised; nullopt when it has no window.
    std::optional<std::string> raise(const std::string& desktopId);

    struct State {
        std::uint64_t handle = 0;
        std::optional<std::string> identity;
        bool minimized = false;
    };
    // Oldest first.
    std::vector<State> states() const;

private:
    struct Window {
        std::string id;
        WindowHints hints;
        std::optional<std::string> identity;
        std::uint64_t handle = 0;
        std::uint64_t lastUsed = 0; // added or activated, in one count
        bool normal = true;
        bool background = false;
        bool minimized = false;
        bool hideRequested = false; // we asked KWin to minimise it
        bool hiddenByUs = false;    // and KWin did
    };

    std::vector<Window*> windowsOf(const engine::RunningApplication& application);

    Identify identify_;
    Shown shown_;
    std::map<std::string, Window, std::less<>> windows_; // by KWin's window ID
    std::string active_;
    std::uint64_t nextHandle_ = 1;
    std::uint64_t useCount_ = 0;
};

} // namespace tarnell::platform
