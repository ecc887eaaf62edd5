#include "platform/linux/workspace/KWinWindows.h"

#include <algorithm>
#include <charconv>
#include <nlohmann/json.hpp>

namespace tarnell::platform {
namespace {

constexpr std::size_t longestWindowId = 128;
constexpr std::size_t longestName = 1024;
constexpr std::size_t mostWindows = 4096;

bool isWindowId(std::string_view id) {
    return !id.empty() && id.size() <= longestWindowId &&
           std::all_of(id.begin(), id.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

std::optional<pid_t> parsePid(std::string_view text) {
    int pid = 0;
    const auto* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, pid);
    if (text.empty() || error != std::errc() || last != end || pid < 0) {
        return std::nullopt;
    }
    return pid;
}

// The IDs went through isWindowId; ASCII output all the same.
std::string asJson(const nlohmann::json& command) {
    return command.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

void sortByUse(auto& windows) {
    std::sort(windows.begin(), windows.end(),
              [](const auto* a, const auto* b) { return a->lastUsed < b->lastUsed; });
}

} // namespace

bool KWinWindows::changed(const Report& report) {
    const auto pid = parsePid(report.pid);
    if (!isWindowId(report.id) || !pid || report.desktopFileName.size() > longestName ||
        report.resourceClass.size() > longestName || report.resourceName.size() > longestName) {
        return false;
    }
    auto it = windows_.find(report.id);
    if (it == windows_.end()) {
        if (windows_.size() >= mostWindows) {
            return false;
        }
        it = windows_.emplace(std::string(report.id), Window{}).first;
        it->second.id = report.id;
        it->second.handle = nextHandle_++;
        it->second.lastUsed = ++useCount_;
    }
    Window& window = it->second;
    WindowHints hints{std::string(report.desktopFileName), std::string(report.resourceName),
                      std::string(report.resourceClass), *pid};
    if (!window.identity || hints.desktopHint != window.hints.desktopHint ||
        hints.wmInstance != window.hints.wmInstance || hints.wmClass != window.hints.wmClass ||
        hints.pid != window.hints.pid) {
        const auto known = window.identity;
        window.hints = std::move(hints);
        window.identity = identify_(window.hints);
        if (window.identity && window.identity != known) {
            shown_(*window.identity);
        }
    }
    window.normal = report.normal;
    window.background = report.background;
    if (report.minimized && window.hideRequested) {
        window.hiddenByUs = true;
        window.hideRequested = false;
    } else if (!report.minimized && window.minimized) {
        window.hiddenByUs = false; // brought back by someone else
    }
    window.minimized = report.minimized;
    return true;
}

bool KWinWindows::removed(std::string_view id) {
    if (!isWindowId(id)) {
        return false;
    }
    if (const auto it = windows_.find(id); it != windows_.end()) {
        windows_.erase(it);
    }
    return true;
}

bool KWinWindows::activated(std::string_view id) {
    if (!id.empty() && !isWindowId(id)) {
        return false;
    }
    // Kept even when the window is not known yet: its report may follow.
    active_ = id;
    if (const auto it = windows_.find(id); it != windows_.end()) {
        it->second.lastUsed = ++useCount_;
    }
    return true;
}

void KWinWindows::clear() {
    windows_.clear();
    active_.clear();
}

void KWinWindows::reidentify() {
    for (auto& [id, window] : windows_) {
        window.identity = identify_(window.hints);
    }
}

std::optional<engine::RunningApplication> KWinWindows::frontmost() const {
    const auto it = windows_.find(active_);
    if (it == windows_.end() || it->second.background) {
        return std::nullopt;
    }
    return engine::RunningApplication{it->second.identity, it->second.handle};
}

std::vector<KWinWindows::State> KWinWindows::states() const {
    std::vector<State> result;
    for (const auto& [id, window] : windows_) {
        result.push_back({window.handle, window.identity, window.minimized});
    }
    std::sort(result.begin(), result.end(),
              [](const State& a, const State& b) { return a.handle < b.handle; });
    return result;
}

std::vector<KWinWindows::Window*>
KWinWindows::windowsOf(const engine::RunningApplication& application) {
    Window* chosen = nullptr;
    for (auto& [id, window] : windows_) {
        if (window.handle == application.handle) {
            chosen = &window;
        }
    }
    // Windows without identity belong together only when one process owns them.
    const pid_t ownerPid = chosen != nullptr ? chosen->hints.pid : 0;
    std::vector<Window*> result;
    for (auto& [id, window] : windows_) {
        const bool same = application.identifier
                              ? window.identity == application.identifier
                              : !window.identity && ownerPid > 0 && window.hints.pid == ownerPid;
        if ((same && window.normal) || &window == chosen) {
            result.push_back(&window);
        }
    }
    return result;
}

std::optional<std::string> KWinWindows::hide(const engine::RunningApplication& application) {
    // The least recent first: the focus then never passes through the application's
    // other windows on its way out, which would make one of them the most recent.
    auto windows = windowsOf(application);
    sortByUse(windows);
    nlohmann::json ids = nlohmann::json::array();
    for (auto* window : windows) {
        if (!window->minimized) {
            window->hideRequested = true;
            ids.push_back(window->id);
        }
    }
    if (ids.empty()) {
        return std::nullopt;
    }
    return asJson({{"minimize", ids}});
}

std::optional<std::string> KWinWindows::raise(const std::string& desktopId) {
    std::vector<Window*> windows;
    for (auto& [id, window] : windows_) {
        if (window.normal && window.identity == desktopId) {
            windows.push_back(&window);
        }
    }
    if (windows.empty()) {
        return std::nullopt;
    }
    sortByUse(windows);
    const Window* latest = windows.back();
    // Everything our hide put away comes back, the most recent window in front.
    nlohmann::json unminimize = nlohmann::json::array();
    for (auto* window : windows) {
        if (window != latest && window->minimized &&
            (window->hiddenByUs || window->hideRequested)) {
            unminimize.push_back(window->id);
        }
        window->hiddenByUs = false;
        window->hideRequested = false;
    }
    return asJson({{"unminimize", unminimize}, {"activate", latest->id}});
}

} // namespace tarnell::platform
