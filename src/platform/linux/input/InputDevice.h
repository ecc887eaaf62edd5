#pragma once

#include <cstdint>
#include <linux/input.h>
#include <memory>
#include <span>
#include <string>

namespace tarnell::input {

struct DeviceIdentity {
    std::string name;
    std::uint16_t bustype = 0;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
};

// One input event device as the keyboard set needs it.
class InputDevice {
public:
    virtual ~InputDevice() = default;
    [[nodiscard]] virtual int fd() const = 0;
    [[nodiscard]] virtual const DeviceIdentity& identity() const = 0;
    // Has the keys of a keyboard (letters).
    [[nodiscard]] virtual bool isKeyboard() const = 0;
    // Takes the device for this process alone (true) or lets it go (false).
    virtual bool grab(bool exclusive) = 0;
    // Any key held right now, as the kernel sees it.
    [[nodiscard]] virtual bool anyKeyDown() const = 0;
    // Whether the key was down after the events read so far.
    [[nodiscard]] virtual bool keyDown(std::uint16_t code) const = 0;
    [[nodiscard]] virtual bool ledOn(std::uint16_t code) const = 0;
    virtual void setLed(std::uint16_t code, bool on) = 0;
    // Reads pending events into out, resynchronising after dropped events.
    // Returns how many were read, or -1 once the device is gone.
    virtual int read(std::span<input_event> out) = 0;
};

class DeviceOpener {
public:
    virtual ~DeviceOpener() = default;
    // nullptr when the device cannot be opened (yet).
    virtual std::unique_ptr<InputDevice> open(const std::string& path) = 0;
};

} // namespace tarnell::input
