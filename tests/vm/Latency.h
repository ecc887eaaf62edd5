#pragma once

#include "VmDevices.h"

#include <string>
#include <vector>

namespace tarnell::vm {

// Times from writing a key event to the keyboard to reading it at the output.
struct LatencySamples {
    std::vector<double> microseconds;
    std::size_t lost = 0;
};

struct LatencySummary {
    double medianMicroseconds = 0;
    double p99Microseconds = 0;
    double meanMicroseconds = 0;
    std::size_t samples = 0;
    std::size_t lost = 0;
};

// One program's figures: ordinary typing, and chords typed while Caps Lock is held.
struct LatencyRun {
    LatencySamples typing;
    LatencySamples chords;
};

// Types `keys` key presses and releases on `keyboard`, one at a time, and times
// each from the write to its arrival at `output`.
LatencySamples measureLatency(UinputKeyboard& keyboard, KeyReader& output, int keys);
// The same with Caps Lock held around the keys (pressed anew every few keys, untimed,
// so that it never repeats): through Tarnell, each key comes out as a chord with
// Ctrl, Alt, Shift and Super.
LatencySamples measureChordLatency(UinputKeyboard& keyboard, KeyReader& output, int keys);

LatencySummary summarize(LatencySamples samples);
std::string describe(const LatencySummary& summary);

} // namespace tarnell::vm
