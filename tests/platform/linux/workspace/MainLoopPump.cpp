#include "platform/linux/workspace/MainLoopPump.h"

#include <chrono>
#include <glib.h>
#include <thread>

namespace tarnell::platform::testing {

bool runUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void runFor(int milliseconds) {
    runUntil([] { return false; }, milliseconds);
}

} // namespace tarnell::platform::testing
