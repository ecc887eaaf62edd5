#pragma once

#include "platform/linux/input/KeyRouter.h"

#include <memory>
#include <string>
#include <vector>

struct libevdev_uinput;

namespace tarnell::input {

// Where routed events are written and where the desktop's LED changes come from.
class OutputKeyboard : public EventSink {
public:
    struct LedChange {
        std::uint16_t code;
        bool on;
    };
    // Readable when LED changes wait; -1 when there are none to watch.
    [[nodiscard]] virtual int fd() const = 0;
    // The LED changes written to the device since the last call.
    virtual std::vector<LedChange> readLedChanges() = 0;
    // Lets go of every key, from any thread, whatever the main thread believes is
    // held: the watchdog's way out when the main loop is stuck.
    virtual void releaseAllKeys() = 0;
};

// Tarnell's one output device, a uinput keyboard named and numbered as ours. It
// declares every key, the keyboard LEDs, key repeat and the relative axes of
// combined keyboard-and-pointer devices.
class VirtualKeyboard final : public OutputKeyboard {
public:
    // nullptr when uinput cannot be opened.
    static std::unique_ptr<VirtualKeyboard> create(const std::string& uinputPath = "/dev/uinput");
    ~VirtualKeyboard() override;
    VirtualKeyboard(const VirtualKeyboard&) = delete;
    VirtualKeyboard& operator=(const VirtualKeyboard&) = delete;

    void write(std::span<const input_event> events) override;

    // Readable when the desktop writes LEDs to the device.
    [[nodiscard]] int fd() const override { return fd_; }
    std::vector<LedChange> readLedChanges() override;
    void releaseAllKeys() override;

    // The event node of the device, e.g. /dev/input/event7 (empty if unknown).
    [[nodiscard]] std::string devnode() const;

private:
    VirtualKeyboard(int fd, libevdev_uinput* device) : fd_(fd), device_(device) {}

    int fd_;
    libevdev_uinput* device_;
};

} // namespace tarnell::input
