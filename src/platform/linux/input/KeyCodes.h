#pragma once

#include <cstdint>
#include <linux/input-event-codes.h>

namespace tarnell::input {

// Key codes of the kernel (linux/input-event-codes.h) and the engine's virtual key
// codes: the numbers the Hyper key decision sees, fixed by the table in KeyCodes.cpp
// (F18, the Hyper trigger that Caps Lock is mapped to, is 79).

// Every kernel key has a virtual code. Keys without one in the real table get
// kUnknownKeyBase + their kernel code, which lies outside that table.
inline constexpr std::int64_t kUnknownKeyBase = 0x1000;
std::int64_t virtualKeyCode(std::uint16_t kernelCode);

// The kernel key code of a HID usage of the keyboard page (page 7, written as
// 0x7000000XX), or -1 when the usage is not a keyboard key.
int kernelCodeForHidUsage(std::uint64_t usage);

// Shift, Control, Alt, AltGr and Super on either side.
[[nodiscard]] constexpr bool isModifierKey(std::uint16_t code) {
    switch (code) {
    case KEY_LEFTSHIFT:
    case KEY_RIGHTSHIFT:
    case KEY_LEFTCTRL:
    case KEY_RIGHTCTRL:
    case KEY_LEFTALT:
    case KEY_RIGHTALT:
    case KEY_LEFTMETA:
    case KEY_RIGHTMETA:
        return true;
    default:
        return false;
    }
}

} // namespace tarnell::input
