#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

// Launches whose application has not shown a window yet. While one is under way its
// application counts as running, so that pressing its key again does not start a
// second copy of a program that is merely slow to appear.
namespace tarnell::platform {

class PendingLaunches {
public:
    using Clock = std::chrono::steady_clock;
    // How long a launch counts as under way without its window. Long enough for a
    // large application on a busy machine; short enough that one whose window is
    // never recognised can still be started again.
    static constexpr std::chrono::seconds patience{5};

    // Records a launch of the application and returns its number; 0 when a launch of
    // it is still under way.
    std::uint64_t start(const std::string& desktopId, Clock::time_point now);
    // The startup ID or activation token launch number `launch` was given.
    void identify(std::uint64_t launch, std::string launchId);
    // The application showed a window: its launch is over.
    void windowShown(const std::string& desktopId);
    // The desktop reported the launch with this ID complete.
    void completed(const std::string& launchId);

private:
    struct Launch {
        std::uint64_t number = 0;
        Clock::time_point started;
        std::string launchId;
    };
    std::map<std::string, Launch, std::less<>> launches_; // by desktop ID
    std::uint64_t count_ = 0;
};

} // namespace tarnell::platform
