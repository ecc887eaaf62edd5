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
    // The device's descriptor: readable when LED changes wait, and where the
    // stall guard writes its key releases. -1 when there is none.
    [[nodiscard]] virtual int fd() const = 0;
    // The LED changes written to the device since the last call.
    virtual std::vector<LedChange> readLedChanges() = 0;
    // The device's event node, where the desktop reads it; empty when there is
    // none to wait for.
    [[nodiscard]] virtual std::string devnode() const { return {}; }
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

    // The event node of the device, e.g. /dev/input/event7 (empty if unknown).
    [[nodiscard]] std::string devnode() const override;

private:
    VirtualKeyboard(int fd, libevdev_uinput* device) : fd_(fd), device_(device) {}

    int fd_;
    libevdev_uinput* device_;
};

} // namespace tarnell::input
