#include "Latency.h"

#include <algorithm>
#include <cstdio>
#include <linux/input-event-codes.h>

namespace tarnell::vm {
namespace {

// Letters only, none of them bound, so that no remapping or binding changes them.
constexpr unsigned kLetters[] = {KEY_Q, KEY_W, KEY_E, KEY_R, KEY_T, KEY_Y, KEY_U,
                                 KEY_I, KEY_O, KEY_P, KEY_A, KEY_S, KEY_D, KEY_F};
// Keys typed under one press of Caps Lock: well within its repeat delay.
constexpr int kChordKeysPerTrigger = 8;

double percentile(std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) {
        return 0;
    }
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1));
    return sorted[index];
}

// Writes one key event and waits for it at the output; false when it did not come.
bool timeKey(UinputKeyboard& keyboard, KeyReader& output, unsigned code, int value,
             LatencySamples& samples) {
    const auto sent = Clock::now();
    keyboard.send(code, value);
    while (auto stroke = output.next(1000ms)) {
        if (stroke->code == code && stroke->value == value) {
            samples.microseconds.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
            return true;
        }
    }
    // Each loss costs a second: a broken path is not worth timing.
    return ++samples.lost < 10;
}

} // namespace

LatencySamples measureLatency(UinputKeyboard& keyboard, KeyReader& output, int keys) {
    LatencySamples samples;
    output.drain(50ms);
    for (int i = 0; i < keys; ++i) {
        const unsigned code = kLetters[static_cast<std::size_t>(i) % std::size(kLetters)];
        if (!timeKey(keyboard, output, code, 1, samples) ||
            !timeKey(keyboard, output, code, 0, samples)) {
            break;
        }
    }
    return samples;
}

LatencySamples measureChordLatency(UinputKeyboard& keyboard, KeyReader& output, int keys) {
    LatencySamples samples;
    output.drain(50ms);
    for (int i = 0; i < keys; ++i) {
        if (i % kChordKeysPerTrigger == 0) {
            if (i > 0) {
                keyboard.release(KEY_CAPSLOCK);
            }
            keyboard.press(KEY_CAPSLOCK);
            output.drain(5ms); // whatever the trigger made comes out untimed
        }
        const unsigned code = kLetters[static_cast<std::size_t>(i) % std::size(kLetters)];
        if (!timeKey(keyboard, output, code, 1, samples) ||
            !timeKey(keyboard, output, code, 0, samples)) {
            break;
        }
    }
    keyboard.release(KEY_CAPSLOCK);
    output.drain(50ms);
    return samples;
}

LatencySummary summarize(LatencySamples samples) {
    auto& sorted = samples.microseconds;
    std::sort(sorted.begin(), sorted.end());
    LatencySummary summary;
    summary.samples = sorted.size();
    summary.lost = samples.lost;
    summary.medianMicroseconds = percentile(sorted, 0.5);
    summary.p99Microseconds = percentile(sorted, 0.99);
    if (!sorted.empty()) {
        double sum = 0;
        for (const double value : sorted) {
            sum += value;
        }
        summary.meanMicroseconds = sum / static_cast<double>(sorted.size());
    }
    return summary;
}

std::string describe(const LatencySummary& summary) {
    char text[160];
    std::snprintf(text, sizeof(text),
                  "median %.1f us, p99 %.1f us, mean %.1f us over %zu events (%zu lost)",
                  summary.medianMicroseconds, summary.p99Microseconds, summary.meanMicroseconds,
                  summary.samples, summary.lost);
    return text;
}

} // namespace tarnell::vm
