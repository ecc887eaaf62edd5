#pragma once

#include "VmDevices.h"

#include <string>
#include <vector>

namespace tarnell::vm {

// Times from writing a key event to the keyboard to reading it at the output.
struct LatencySamples {
    std::vector<double> microseconds;
    std::size_t lost = 0;

    void add(const LatencySamples& other);
};

struct LatencySummary {
    double medianMicroseconds = 0;
    double p99Microseconds = 0;
    std::size_t samples = 0;
    std::size_t lost = 0;
};

// Types `keys` key presses and releases on `keyboard`, one at a time, and times
// each from the write to its arrival at `output`.
LatencySamples measureLatency(UinputKeyboard& keyboard, KeyReader& output, int keys);

LatencySummary summarize(LatencySamples samples);
std::string describe(const LatencySummary& summary);

} // namespace tarnell::vm
