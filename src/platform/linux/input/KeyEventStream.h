#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <linux/input.h>
#include <span>
#include <vector>

namespace tarnell::input {

// The events of one keyboard as they are read in bulk: keeps the keyboard's key
// state and, after the kernel dropped events (SYN_DROPPED), leaves out the
// incomplete part and stands in the differences to the kernel's key state, so
// that no key stays down or comes up twice. Knows no device: the kernel's state
// comes from a KernelKeys.
class KeyEventStream {
public:
    using KeyState = std::bitset<KEY_CNT>;

    class KernelKeys {
    public:
        virtual ~KernelKeys() = default;
        // The keys down now; false when that cannot be known.
        virtual bool keysDown(KeyState& down) = 0;
    };

    explicit KeyEventStream(const KeyState& down = {}) : down_(down) {}

    // Filters `count` events just read into `events`, in place; returns how
    // many stay there. Events due after them wait in takeMadeUp().
    std::size_t filter(input_event* events, std::size_t count, KernelKeys& kernel);
    // Events due before anything read next; returns how many went into `out`.
    std::size_t takeMadeUp(std::span<input_event> out);

    [[nodiscard]] bool keyDown(std::uint16_t code) const {
        return code < KEY_CNT && down_.test(code);
    }

private:
    void resynchronise(KernelKeys& kernel);

    KeyState down_;
    // After SYN_DROPPED the kernel's events up to the next SYN_REPORT are partial.
    bool dropping_ = false;
    std::vector<input_event> madeUp_;
};

} // namespace tarnell::input
