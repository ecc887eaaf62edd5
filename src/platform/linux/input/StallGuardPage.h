#pragma once

#include <atomic>
#include <cstdint>

namespace tarnell::input {

// The words the main loop and the stall guard share: a page mapped into both
// processes, or a plain object where no guard runs. Lock-free atomics only, so
// that they work across processes.
struct StallGuardPage {
    enum State : std::uint32_t {
        kHolding = 0,   // the keyboards are ours as the main loop says
        kLettingGo = 1, // the guard is letting them go
        kLetGo = 2,     // the guard let them go; the main loop has to catch up
    };

    // Bumped by the main loop whenever it takes input.
    std::atomic<std::uint64_t> serviced{0};
    // Whether the keyboards are meant to be grabbed: only then is unread input a stall.
    std::atomic<std::uint32_t> armed{0};
    std::atomic<std::uint32_t> state{kHolding};

    // Main loop only, so a plain load and store suffice: no locked instruction
    // on the key path.
    void markServiced() {
        serviced.store(serviced.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    // Input read while this holds has reached the desktop already.
    [[nodiscard]] bool guardLetGo() const {
        return state.load(std::memory_order_acquire) != kHolding;
    }
};

static_assert(std::atomic<std::uint64_t>::is_always_lock_free &&
              std::atomic<std::uint32_t>::is_always_lock_free);

} // namespace tarnell::input
