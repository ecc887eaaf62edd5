#pragma once

#include "platform/linux/input/InputDevice.h"
#include "platform/linux/input/KeyRouter.h"
#include "platform/linux/input/VirtualKeyboard.h"

#include <atomic>
#include <bitset>
#include <deque>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace tarnell::input::testing {

inline input_event ev(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    return event;
}
inline input_event key(std::uint16_t code, std::int32_t value) {
    return ev(EV_KEY, code, value);
}
inline input_event syn() {
    return ev(EV_SYN, SYN_REPORT, 0);
}

// Compact form of output events for assertions: "+42" key down, "-42" key up,
// "=42" repeat, "|" sync report, "t:c:v" anything else.
inline std::string describe(const input_event& e) {
    if (e.type == EV_SYN && e.code == SYN_REPORT) {
        return "|";
    }
    if (e.type == EV_KEY) {
        const char* sign = e.value == 1 ? "+" : (e.value == 0 ? "-" : "=");
        return sign + std::to_string(e.code);
    }
    return std::to_string(e.type) + ":" + std::to_string(e.code) + ":" + std::to_string(e.value);
}

class RecordingSink : public OutputKeyboard {
public:
    void write(std::span<const input_event> events) override {
        for (const auto& e : events) {
            out.push_back(describe(e));
        }
        ++writes;
    }
    [[nodiscard]] int fd() const override { return -1; }
    std::vector<LedChange> readLedChanges() override { return {}; }
    void releaseAllKeys() override { ++releasedFromAnyThread; }
    std::atomic<int> releasedFromAnyThread{0};
    std::vector<std::string> take() {
        auto result = std::move(out);
        out.clear();
        return result;
    }
    std::vector<std::string> out;
    int writes = 0;
};

// Text of a US keyboard for a few keys, upper case while a Shift key is fed down.
class FakeText : public KeyTextSource {
public:
    [[nodiscard]] bool affectsState(std::uint16_t code) const override {
        return code == KEY_LEFTSHIFT || code == KEY_RIGHTSHIFT;
    }
    void updateKey(std::uint16_t code, bool down) override {
        fed.push_back(code);
        shift = down;
    }
    int text(std::uint16_t code, char16_t* buffer, int maxLength) const override {
        char16_t c = 0;
        if (code == KEY_S) {
            c = shift ? u'S' : u's';
        } else if (code == KEY_COMMA) {
            c = u',';
        }
        if (c == 0 || maxLength < 1) {
            return 0;
        }
        buffer[0] = c;
        return 1;
    }
    bool shift = false;
    std::vector<std::uint16_t> fed;
};

// Keys held, kept without heap memory like the kernel's own bitmap.
struct HeldKeys {
    std::bitset<KEY_CNT> bits;
    void insert(std::uint16_t code) { bits.set(code); }
    void erase(std::uint16_t code) { bits.reset(code); }
    [[nodiscard]] bool empty() const { return bits.none(); }
    [[nodiscard]] std::size_t count(std::uint16_t code) const { return bits.test(code) ? 1 : 0; }
};

class FakeDevice : public InputDevice {
public:
    explicit FakeDevice(DeviceIdentity id, bool keyboard = true)
        : identity_(std::move(id)), keyboard_(keyboard) {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            readEnd_ = fds[0];
            writeEnd_ = fds[1];
        }
    }
    ~FakeDevice() override {
        ::close(readEnd_);
        ::close(writeEnd_);
        if (destroyed != nullptr) {
            *destroyed = true;
        }
        if (grabbedAtClose != nullptr) {
            *grabbedAtClose = grabbed;
        }
    }
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    [[nodiscard]] int fd() const override { return readEnd_; }
    [[nodiscard]] const DeviceIdentity& identity() const override { return identity_; }
    [[nodiscard]] bool isKeyboard() const override { return keyboard_; }
    bool grab(bool exclusive) override {
        if (exclusive && refuseGrab) {
            return false;
        }
        grabbed = exclusive;
        ++grabCalls;
        return true;
    }
    [[nodiscard]] bool anyKeyDown() const override { return !down.empty(); }
    [[nodiscard]] bool keyDown(std::uint16_t code) const override { return down.count(code) != 0; }
    [[nodiscard]] bool ledOn(std::uint16_t code) const override {
        const auto it = leds.find(code);
        return it != leds.end() && it->second;
    }
    void setLed(std::uint16_t code, bool on) override { leds[code] = on; }
    int read(std::span<input_event> out) override {
        char drain[64];
        while (::read(readEnd_, drain, sizeof(drain)) > 0) {
        }
        if (gone && queue.empty()) {
            return -1;
        }
        std::size_t n = 0;
        while (n < out.size() && !queue.empty()) {
            const input_event e = queue.front();
            queue.pop_front();
            if (e.type == EV_KEY) {
                if (e.value == 0) {
                    down.erase(e.code);
                } else {
                    down.insert(e.code);
                }
            }
            out[n++] = e;
        }
        return static_cast<int>(n);
    }

    // Queues events and makes the descriptor readable.
    void push(std::initializer_list<input_event> events) {
        for (const auto& e : events) {
            queue.push_back(e);
        }
        const char byte = 1;
        [[maybe_unused]] auto written = ::write(writeEnd_, &byte, 1);
    }

    DeviceIdentity identity_;
    bool keyboard_;
    int readEnd_ = -1;
    int writeEnd_ = -1;
    bool grabbed = false;
    bool refuseGrab = false;
    int grabCalls = 0;
    bool gone = false;
    bool* destroyed = nullptr;
    bool* grabbedAtClose = nullptr;
    HeldKeys down;
    std::map<std::uint16_t, bool> leds;
    std::deque<input_event> queue;
};

// Opens devices registered by path; a path may fail a number of times first.
class FakeOpener : public DeviceOpener {
public:
    FakeDevice& add(const std::string& path, DeviceIdentity id = {"Some keyboard", 3, 1, 2},
                    bool keyboard = true) {
        auto device = std::make_unique<FakeDevice>(std::move(id), keyboard);
        FakeDevice& ref = *device;
        available[path] = std::move(device);
        return ref;
    }
    std::unique_ptr<InputDevice> open(const std::string& path) override {
        ++opens[path];
        if (failures[path] > 0) {
            --failures[path];
            return nullptr;
        }
        const auto it = available.find(path);
        if (it == available.end()) {
            return nullptr;
        }
        auto device = std::move(it->second);
        available.erase(it);
        return device;
    }
    std::map<std::string, std::unique_ptr<FakeDevice>> available;
    std::map<std::string, int> failures;
    std::map<std::string, int> opens;
};

} // namespace tarnell::input::testing
