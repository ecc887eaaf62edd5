#pragma once

#include "platform/linux/input/KeyboardSet.h"
#include "platform/linux/input/StallDetector.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tarnell::input {

// A thread that keeps the keyboards usable when the main loop stops taking their
// input: after the detector's timeout it lets every keyboard go and calls
// `stalled` (from this thread) so the main loop learns of it on its next turn.
class StallWatchdog {
public:
    StallWatchdog(KeyboardSet& keyboards, StallDetector& detector, std::function<void()> stalled);
    ~StallWatchdog();
    StallWatchdog(const StallWatchdog&) = delete;
    StallWatchdog& operator=(const StallWatchdog&) = delete;

private:
    void run();

    KeyboardSet& keyboards_;
    StallDetector& detector_;
    std::function<void()> stalled_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace tarnell::input
