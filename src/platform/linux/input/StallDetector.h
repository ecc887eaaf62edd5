#pragma once

#include <chrono>
#include <cstdint>

namespace tarnell::input {

// Tells when the main loop has left keyboard input waiting too long. The main
// loop counts every batch it takes; the guard looks now and then whether input
// is waiting and whether the count moved since it first saw that input wait.
// Plain arithmetic only: the guard runs it where nothing else may be called.
class StallDetector {
public:
    using Clock = std::chrono::steady_clock;

    explicit StallDetector(Clock::duration timeout) : timeout_(timeout) {}

    // True once input has been waiting for the timeout with the main loop
    // taking none of it (`servicedCount` unchanged).
    bool check(Clock::time_point now, bool inputPending, std::uint64_t servicedCount) {
        if (!inputPending) {
            waiting_ = false;
            return false;
        }
        if (!waiting_ || servicedCount != seenCount_) {
            waiting_ = true;
            since_ = now;
            seenCount_ = servicedCount;
            return false;
        }
        return now - since_ >= timeout_;
    }

    void reset() { waiting_ = false; }

private:
    const Clock::duration timeout_;
    bool waiting_ = false;
    std::uint64_t seenCount_ = 0;
    Clock::time_point since_{};
};

} // namespace tarnell::input
