#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct libevdev;
struct libevdev_uinput;

namespace tarnell::vm {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A key event as read from or written to an event device.
struct KeyStroke {
    unsigned code;
    int value; // 1 down, 0 up, 2 repeat
    bool operator==(const KeyStroke&) const = default;
};

std::string describe(const std::vector<KeyStroke>& strokes);

// A keyboard made through uinput: what the machine sees as a physical keyboard.
class UinputKeyboard {
public:
    explicit UinputKeyboard(const std::string& name);
    ~UinputKeyboard();
    UinputKeyboard(const UinputKeyboard&) = delete;
    UinputKeyboard& operator=(const UinputKeyboard&) = delete;

    void press(unsigned code) { send(code, 1); }
    void release(unsigned code) { send(code, 0); }
    void tap(unsigned code);
    void send(unsigned code, int value);
    [[nodiscard]] std::string devnode() const;
    [[nodiscard]] bool capsLockLed() const;
    // How often the Caps Lock LED changed since the last call, as the device was
    // told to show it.
    int takeCapsLockLedChanges();

private:
    libevdev* description_ = nullptr;
    libevdev_uinput* device_ = nullptr;
};

// The Caps Lock state of the console's keyboard (not its LED); nullopt when
// it cannot be read.
std::optional<bool> consoleCapsLock();

// The event node of the input device with this name, waiting up to `limit` for it.
std::optional<std::string> findDevice(const std::string& name,
                                      std::chrono::milliseconds limit = 0ms);

// Reads key events from one event node, without grabbing it.
class KeyReader {
public:
    explicit KeyReader(const std::string& devnode);
    ~KeyReader();
    KeyReader(const KeyReader&) = delete;
    KeyReader& operator=(const KeyReader&) = delete;

    // The next key event within `limit` (repeats skipped), or nullopt.
    std::optional<KeyStroke> next(std::chrono::milliseconds limit);
    // Every key event that arrives within `limit` of quiet.
    std::vector<KeyStroke> drain(std::chrono::milliseconds quiet = 150ms);
    // Keys the device reports as held now.
    [[nodiscard]] std::set<unsigned> heldKeys() const;
    // Whether the device went away (read failed with ENODEV).
    [[nodiscard]] bool gone() const { return gone_; }
    // Whether another client holds a grab on the device (tried and let go at once).
    [[nodiscard]] bool grabbedElsewhere() const;

private:
    int fd_ = -1;
    bool gone_ = false;
};

} // namespace tarnell::vm
