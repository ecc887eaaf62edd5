#include "platform/linux/input/EvdevDevice.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tarnell::input {

std::unique_ptr<EvdevDevice> EvdevDevice::open(const std::string& path) {
    // Writing is needed for the LEDs only; a read-only device still works.
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    if (fd < 0) {
        return nullptr;
    }
    libevdev* device = libevdev_new();
    if (device == nullptr) {
        ::close(fd);
        return nullptr;
    }
    // Tarnell keeps no log; a device's complaints go nowhere.
    libevdev_set_device_log_function(
        device,
        [](const libevdev*, libevdev_log_priority, void*, const char*, int, const char*,
           const char*, va_list) {},
        LIBEVDEV_LOG_ERROR, nullptr);
    if (libevdev_set_fd(device, fd) != 0) {
        libevdev_free(device);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<EvdevDevice>(new EvdevDevice(fd, device));
}

EvdevDevice::EvdevDevice(int fd, libevdev* device) : fd_(fd), device_(device) {
    const char* name = libevdev_get_name(device_);
    identity_.name = name != nullptr ? name : "";
    identity_.bustype = static_cast<std::uint16_t>(libevdev_get_id_bustype(device_));
    identity_.vendor = static_cast<std::uint16_t>(libevdev_get_id_vendor(device_));
    identity_.product = static_cast<std::uint16_t>(libevdev_get_id_product(device_));
}

EvdevDevice::~EvdevDevice() {
    libevdev_free(device_);
    ::close(fd_); // also ends a grab
}

bool EvdevDevice::isKeyboard() const {
    for (const unsigned code : {KEY_A, KEY_Q, KEY_Z, KEY_SPACE}) {
        if (libevdev_has_event_code(device_, EV_KEY, code) == 0) {
            return false;
        }
    }
    return true;
}

bool EvdevDevice::grab(bool exclusive) {
    return libevdev_grab(device_, exclusive ? LIBEVDEV_GRAB : LIBEVDEV_UNGRAB) == 0;
}

bool EvdevDevice::anyKeyDown() const {
    std::array<unsigned char, KEY_CNT / 8 + 1> bits{};
    if (::ioctl(fd_, EVIOCGKEY(bits.size()), bits.data()) < 0) {
        return false;
    }
    for (const unsigned char byte : bits) {
        if (byte != 0) {
            return true;
        }
    }
    return false;
}

bool EvdevDevice::keyDown(std::uint16_t code) const {
    return libevdev_get_event_value(device_, EV_KEY, code) != 0;
}

bool EvdevDevice::ledOn(std::uint16_t code) const {
    return libevdev_get_event_value(device_, EV_LED, code) != 0;
}

void EvdevDevice::setLed(std::uint16_t code, bool on) {
    if (libevdev_has_event_code(device_, EV_LED, code) != 0) {
        libevdev_kernel_set_led_value(device_, code, on ? LIBEVDEV_LED_ON : LIBEVDEV_LED_OFF);
    }
}

int EvdevDevice::read(std::span<input_event> out) {
    std::size_t count = 0;
    while (count < out.size()) {
        input_event event{};
        const unsigned flags = syncing_ ? LIBEVDEV_READ_FLAG_SYNC : LIBEVDEV_READ_FLAG_NORMAL;
        const int status = libevdev_next_event(device_, flags, &event);
        if (status == LIBEVDEV_READ_STATUS_SUCCESS) {
            out[count++] = event;
        } else if (status == LIBEVDEV_READ_STATUS_SYNC) {
            // Events were dropped: libevdev hands out the difference, which
            // counts like ordinary events (releases of keys let go meanwhile).
            syncing_ = true;
            out[count++] = event;
        } else if (status == -EAGAIN) {
            if (!syncing_) {
                break;
            }
            syncing_ = false;
        } else if (status == -ENODEV) {
            return count == 0 ? -1 : static_cast<int>(count);
        } else {
            break;
        }
    }
    return static_cast<int>(count);
}

} // namespace tarnell::input
