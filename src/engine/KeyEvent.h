#pragma once

#include <cstdint>

namespace tarnell::engine {

// Event types as the tap reports them.
inline constexpr std::uint32_t kEventKeyDown = 10;
inline constexpr std::uint32_t kEventKeyUp = 11;
inline constexpr std::uint32_t kEventTapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr std::uint32_t kEventTapDisabledByUserInput = 0xFFFFFFFF;

// Keyboard integer fields of an event.
inline constexpr int kFieldAutorepeat = 8;
inline constexpr int kFieldKeycode = 9;

// Modifier flags of an event.
inline constexpr std::uint64_t kFlagShift = 0x20000;
inline constexpr std::uint64_t kFlagControl = 0x40000;
inline constexpr std::uint64_t kFlagAlt = 0x80000;
inline constexpr std::uint64_t kFlagSuper = 0x100000;
inline constexpr std::uint64_t kHyperModifierMask =
    kFlagShift | kFlagControl | kFlagAlt | kFlagSuper;

// The Hyper trigger: virtual key code 79, the F18 key, which Caps Lock is mapped to.
inline constexpr std::int64_t kHyperTriggerKeyCode = 79;

// Key-down and key-up only: (1 << 10) | (1 << 11).
inline constexpr std::uint64_t kKeyEventMask = (1ULL << kEventKeyDown) | (1ULL << kEventKeyUp);

// One key event as the tap delivers it. Implemented by the input layer; the
// engine reads two integer fields, the flags and, only while Hyper is held, the text.
class KeyEvent {
public:
    // kFieldAutorepeat: non-zero for an automatic repeat; kFieldKeycode: the
    // virtual key code. Other fields read as 0.
    [[nodiscard]] virtual std::int64_t integerValueField(int field) const = 0;
    [[nodiscard]] virtual std::uint64_t flags() const = 0;
    virtual void setFlags(std::uint64_t flags) = 0;
    // Writes at most maxLength UTF-16 code units of the text the key types into
    // buffer and returns how many it wrote (0 or less: no text).
    virtual int unicodeString(char16_t* buffer, int maxLength) const = 0;

protected:
    ~KeyEvent() = default;
};

} // namespace tarnell::engine
