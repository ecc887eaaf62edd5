#include "platform/linux/workspace/PendingLaunches.h"

#include <utility>

namespace tarnell::platform {

std::uint64_t PendingLaunches::start(const std::string& desktopId, Clock::time_point now) {
    std::erase_if(launches_,
                  [now](const auto& entry) { return now - entry.second.started >= patience; });
    const auto [it, added] = launches_.try_emplace(desktopId);
    if (!added) {
        return 0;
    }
    it->second.number = ++count_;
    it->second.started = now;
    return count_;
}

void PendingLaunches::identify(std::uint64_t launch, std::string launchId) {
    // The launch may be over already, and a later one of the same application under way.
    for (auto& [desktopId, pending] : launches_) {
        if (pending.number == launch) {
            pending.launchId = std::move(launchId);
            return;
        }
    }
}

void PendingLaunches::windowShown(const std::string& desktopId) {
    launches_.erase(desktopId);
}

void PendingLaunches::completed(const std::string& launchId) {
    if (launchId.empty()) {
        return;
    }
    std::erase_if(launches_,
                  [&launchId](const auto& entry) { return entry.second.launchId == launchId; });
}

} // namespace tarnell::platform
