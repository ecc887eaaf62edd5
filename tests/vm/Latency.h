#pragma once

#include "VmDevices.h"

#include <string>
#include <vector>

namespace tarnell::vm {

struct LatencySummary {
    double medianMicroseconds = 0;
    double p99Microseconds = 0;
    std::size_t samples = 0;
    std::size_t lost = 0;
};

// Types `keys` key presses and releases on `keyboard`, one at a time, and times
// each from the write to its arrival at `output`.
LatencySummary measureLatency(UinputKeyboard& keyboard, KeyReader& output, int keys);

std::string describe(const LatencySummary& summary);

} // namespace tarnell::vm
