#include "platform/linux/input/StallWatchdog.h"

namespace tarnell::input {

StallWatchdog::StallWatchdog(KeyboardSet& keyboards, StallDetector& detector,
                             std::function<void()> stalled)
    : keyboards_(keyboards), detector_(detector), stalled_(std::move(stalled)),
      thread_([this] { run(); }) {}

StallWatchdog::~StallWatchdog() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void StallWatchdog::run() {
    // Four looks per timeout: a stall is acted on within 1.25 timeouts.
    const auto interval = detector_.timeout() / 4;
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, interval, [this] { return stopping_; })) {
        const bool pending = keyboards_.grabbedInputPending();
        if (detector_.check(StallDetector::Clock::now(), pending)) {
            keyboards_.releaseForStall();
            detector_.reset();
            if (stalled_) {
                stalled_();
            }
        }
    }
}

} // namespace tarnell::input
