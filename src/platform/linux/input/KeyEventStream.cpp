#include "platform/linux/input/KeyEventStream.h"

#include <algorithm>

namespace tarnell::input {

std::size_t KeyEventStream::filter(input_event* events, std::size_t count, KernelKeys& kernel) {
    std::size_t kept = 0;
    bool afterDifferences = false; // what follows them in this read queues up behind
    for (std::size_t i = 0; i < count; ++i) {
        const input_event event = events[i];
        if (event.type == EV_SYN && event.code == SYN_DROPPED) {
            dropping_ = true;
            continue;
        }
        if (dropping_) {
            if (event.type == EV_SYN && event.code == SYN_REPORT) {
                dropping_ = false;
                resynchronise(kernel);
                afterDifferences = true;
            }
            continue;
        }
        if (event.type == EV_KEY && event.code < KEY_CNT) {
            down_[event.code] = event.value != 0;
        }
        if (afterDifferences) {
            madeUp_.push_back(event);
        } else {
            events[kept++] = event;
        }
    }
    return kept;
}

void KeyEventStream::resynchronise(KernelKeys& kernel) {
    KeyState now;
    if (!kernel.keysDown(now)) {
        return;
    }
    bool changed = false;
    for (std::uint16_t code = 0; code < KEY_CNT; ++code) {
        if (down_.test(code) != now.test(code)) {
            down_[code] = now.test(code);
            input_event event{};
            event.type = EV_KEY;
            event.code = code;
            event.value = now.test(code) ? 1 : 0;
            madeUp_.push_back(event);
            changed = true;
        }
    }
    if (changed) {
        input_event sync{};
        sync.type = EV_SYN;
        sync.code = SYN_REPORT;
        madeUp_.push_back(sync);
    }
}

std::size_t KeyEventStream::takeMadeUp(std::span<input_event> out) {
    if (madeUp_.empty()) {
        return 0;
    }
    const std::size_t count = std::min(out.size(), madeUp_.size());
    std::copy_n(madeUp_.begin(), count, out.begin());
    madeUp_.erase(madeUp_.begin(), madeUp_.begin() + static_cast<std::ptrdiff_t>(count));
    return count;
}

} // namespace tarnell::input
