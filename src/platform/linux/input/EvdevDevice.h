#pragma once

#include "platform/linux/input/InputDevice.h"
#include "platform/linux/input/KeyEventStream.h"

struct libevdev;

namespace tarnell::input {

// An input event device: described through libevdev, read directly (one read
// per wakeup: a short read means nothing more waits), with the key state kept
// here and rebuilt from the kernel after the kernel dropped events.
class EvdevDevice final : public InputDevice, private KeyEventStream::KernelKeys {
public:
    // nullptr when the node cannot be opened or read.
    static std::unique_ptr<EvdevDevice> open(const std::string& path);
    ~EvdevDevice() override;
    EvdevDevice(const EvdevDevice&) = delete;
    EvdevDevice& operator=(const EvdevDevice&) = delete;

    [[nodiscard]] int fd() const override { return fd_; }
    [[nodiscard]] const DeviceIdentity& identity() const override { return identity_; }
    [[nodiscard]] bool isKeyboard() const override;
    bool grab(bool exclusive) override;
    [[nodiscard]] bool anyKeyDown() const override;
    [[nodiscard]] bool keyDown(std::uint16_t code) const override;
    [[nodiscard]] bool ledOn(std::uint16_t code) const override;
    void setLed(std::uint16_t code, bool on) override;
    int read(std::span<input_event> out) override;

private:
    EvdevDevice(int fd, libevdev* device);
    bool keysDown(KeyEventStream::KeyState& down) override;

    int fd_;
    libevdev* device_;
    DeviceIdentity identity_;
    KeyEventStream stream_;
};

class EvdevOpener final : public DeviceOpener {
public:
    std::unique_ptr<InputDevice> open(const std::string& path) override {
        return EvdevDevice::open(path);
    }
};

} // namespace tarnell::input
