#pragma once

#include "engine/PlatformServices.h"

namespace tarnell::platform {

// Repeating timers on the Qt event loop of the thread that schedules them.
// A timer's block may invalidate it and even destroy the timer object it came
// from while it runs: the reference the block receives stays valid until the
// block returns.
class QtTimerService final : public engine::TimerService {
public:
    std::unique_ptr<engine::RepeatingTimer>
    scheduleRepeating(std::chrono::milliseconds interval,
                      std::function<void(engine::RepeatingTimer&)> block) override;
};

} // namespace tarnell::platform
