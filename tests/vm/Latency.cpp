#include "Latency.h"

#include <algorithm>
#include <cstdio>
#include <linux/input-event-codes.h>

namespace tarnell::vm {
namespace {

double percentile(std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) {
        return 0;
    }
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1));
    return sorted[index];
}

} // namespace

void LatencySamples::add(const LatencySamples& other) {
    microseconds.insert(microseconds.end(), other.microseconds.begin(), other.microseconds.end());
    lost += other.lost;
}

LatencySamples measureLatency(UinputKeyboard& keyboard, KeyReader& output, int keys) {
    // Letters only, so that no remapping or modifier logic changes them.
    static constexpr unsigned letters[] = {KEY_Q, KEY_W, KEY_E, KEY_R, KEY_T, KEY_Y, KEY_U,
                                           KEY_I, KEY_O, KEY_P, KEY_A, KEY_S, KEY_D, KEY_F};
    LatencySamples samples;
    output.drain(50ms);
    for (int i = 0; i < keys; ++i) {
        const unsigned code = letters[static_cast<std::size_t>(i) % std::size(letters)];
        for (const int value : {1, 0}) {
            const auto sent = Clock::now();
            keyboard.send(code, value);
            bool arrived = false;
            while (auto stroke = output.next(1000ms)) {
                if (stroke->code == code && stroke->value == value) {
                    arrived = true;
                    break;
                }
            }
            if (!arrived) {
                // Each loss costs a second: a broken path is not worth timing.
                if (++samples.lost == 10) {
                    i = keys;
                    break;
                }
                continue;
            }
            samples.microseconds.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        }
    }
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
    return summary;
}

std::string describe(const LatencySummary& summary) {
    char text[160];
    std::snprintf(text, sizeof(text), "median %.0f us, p99 %.0f us over %zu events (%zu lost)",
                  summary.medianMicroseconds, summary.p99Microseconds, summary.samples,
                  summary.lost);
    return text;
}

} // namespace tarnell::vm
