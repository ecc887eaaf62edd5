#include "platform/linux/input/VirtualKeyboard.h"

#include "platform/linux/diagnostics/Diagnostics.h"
#include "platform/linux/input/VirtualKeyboardIdentity.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <unistd.h>

namespace tarnell::input {
namespace {

// Kernel soft repeat of the device: the desktop's own repeat settings win anyway.
constexpr int kRepeatDelayMs = 250;
constexpr int kRepeatPeriodMs = 33;

libevdev* describeKeyboard() {
    libevdev* description = libevdev_new();
    libevdev_set_name(description, std::string(kVirtualKeyboardName).c_str());
    libevdev_set_id_bustype(description, BUS_VIRTUAL);
    libevdev_set_id_vendor(description, kVirtualVendor);
    libevdev_set_id_product(description, kVirtualProduct);
    libevdev_set_id_version(description, kVirtualVersion);
    // Every keyboard key and the mouse buttons; no joystick, pen or touch
    // buttons, which would make the desktop take the device for something else.
    libevdev_enable_event_type(description, EV_KEY);
    for (unsigned code = KEY_ESC; code < KEY_CNT; ++code) {
        const bool keyboardKey = code < BTN_MISC || (code >= KEY_OK && code < BTN_DPAD_UP) ||
                                 (code > BTN_DPAD_RIGHT && code < BTN_TRIGGER_HAPPY);
        const bool mouseButton = code >= BTN_MOUSE && code <= BTN_TASK;
        if (keyboardKey || mouseButton) {
            libevdev_enable_event_code(description, EV_KEY, code, nullptr);
        }
    }
    libevdev_enable_event_type(description, EV_REL);
    for (const unsigned code :
         {REL_X, REL_Y, REL_HWHEEL, REL_WHEEL, REL_WHEEL_HI_RES, REL_HWHEEL_HI_RES}) {
        libevdev_enable_event_code(description, EV_REL, code, nullptr);
    }
    libevdev_enable_event_type(description, EV_MSC);
    libevdev_enable_event_code(description, EV_MSC, MSC_SCAN, nullptr);
    libevdev_enable_event_type(description, EV_LED);
    for (unsigned code = 0; code <= LED_CHARGING; ++code) {
        libevdev_enable_event_code(description, EV_LED, code, nullptr);
    }
    libevdev_enable_event_type(description, EV_REP);
    int delay = kRepeatDelayMs;
    int period = kRepeatPeriodMs;
    libevdev_enable_event_code(description, EV_REP, REP_DELAY, &delay);
    libevdev_enable_event_code(description, EV_REP, REP_PERIOD, &period);
    return description;
}

} // namespace

std::unique_ptr<VirtualKeyboard> VirtualKeyboard::create(const std::string& uinputPath) {
    const int fd = ::open(uinputPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        platform::diagnose("virtual keyboard: %s cannot be opened: %s", uinputPath.c_str(),
                           std::strerror(errno));
        return nullptr;
    }
    libevdev* description = describeKeyboard();
    libevdev_uinput* device = nullptr;
    const int status = libevdev_uinput_create_from_device(description, fd, &device);
    libevdev_free(description);
    if (status != 0) {
        platform::diagnose("virtual keyboard: cannot be made: %s", std::strerror(-status));
        ::close(fd);
        return nullptr;
    }
    const char* node = libevdev_uinput_get_devnode(device);
    platform::diagnose("virtual keyboard: made as %s", node != nullptr ? node : "(no node yet)");
    return std::unique_ptr<VirtualKeyboard>(new VirtualKeyboard(fd, device));
}

VirtualKeyboard::~VirtualKeyboard() {
    libevdev_uinput_destroy(device_);
    ::close(fd_);
}

void VirtualKeyboard::write(std::span<const input_event> events) {
    const auto* bytes = reinterpret_cast<const char*>(events.data());
    std::size_t left = events.size_bytes();
    while (left > 0) {
        const ssize_t written = ::write(fd_, bytes, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return; // the device is gone or full: nothing better to do than drop
        }
        bytes += written;
        left -= static_cast<std::size_t>(written);
    }
}

std::vector<VirtualKeyboard::LedChange> VirtualKeyboard::readLedChanges() {
    std::vector<LedChange> changes;
    std::array<input_event, 16> events{};
    for (;;) {
        const ssize_t got = ::read(fd_, events.data(), sizeof(events));
        if (got <= 0) {
            break;
        }
        const auto count = static_cast<std::size_t>(got) / sizeof(input_event);
        for (std::size_t i = 0; i < count; ++i) {
            if (events[i].type == EV_LED) {
                changes.push_back({events[i].code, events[i].value != 0});
            }
        }
    }
    return changes;
}

std::string VirtualKeyboard::devnode() const {
    const char* node = libevdev_uinput_get_devnode(device_);
    return node != nullptr ? node : "";
}

} // namespace tarnell::input
