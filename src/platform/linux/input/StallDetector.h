#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace tarnell::input {

// Tells when the main loop has left keyboard input waiting too long. The main
// loop counts every batch it takes; a watchdog checks now and then whether input
// is waiting and whether the count moved since it first saw that input wait.
class StallDetector {
public:
    using Clock = std::chrono::steady_clock;

    explicit StallDetector(Clock::duration timeout) : timeout_(timeout) {}

    // Main thread: input was taken. One relaxed increment, nothing more.
    void serviced() { serviced_.fetch_add(1, std::memory_order_relaxed); }

    // Watchdog thread: true once input has been waiting for the timeout with the
    // main loop taking none of it.
    bool check(Clock::time_point now, bool inputPending) {
        if (!inputPending) {
            waiting_ = false;
            return false;
        }
        const std::uint64_t count = serviced_.load(std::memory_order_relaxed);
        if (!waiting_ || count != seenCount_) {
            waiting_ = true;
            since_ = now;
            seenCount_ = count;
            return false;
        }
        return now - since_ >= timeout_;
    }

    void reset() { waiting_ = false; }
    [[nodiscard]] Clock::duration timeout() const { return timeout_; }

private:
    const Clock::duration timeout_;
    std::atomic<std::uint64_t> serviced_{0};
    bool waiting_ = false;
    std::uint64_t seenCount_ = 0;
    Clock::time_point since_{};
};

} // namespace tarnell::input
