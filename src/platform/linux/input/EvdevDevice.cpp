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

namespace {

using KeyBits = std::array<unsigned char, KEY_CNT / 8 + 1>;

bool isSet(const KeyBits& bits, std::size_t code) {
    return (bits[code / 8] & (1U << (code % 8))) != 0;
}

} // namespace

EvdevDevice::EvdevDevice(int fd, libevdev* device) : fd_(fd), device_(device) {
    const char* name = libevdev_get_name(device_);
    identity_.name = name != nullptr ? name : "";
    identity_.bustype = static_cast<std::uint16_t>(libevdev_get_id_bustype(device_));
    identity_.vendor = static_cast<std::uint16_t>(libevdev_get_id_vendor(device_));
    identity_.product = static_cast<std::uint16_t>(libevdev_get_id_product(device_));
    KeyEventStream::KeyState down;
    for (unsigned code = 0; code < KEY_CNT; ++code) {
        down[code] = libevdev_get_event_value(device_, EV_KEY, code) != 0;
    }
    stream_ = KeyEventStream(down);
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

// Straight to the kernel: the stall guard grabs and lets go of the same open
// device from its own process, so no state kept here could be trusted.
bool EvdevDevice::grab(bool exclusive) {
    if (::ioctl(fd_, EVIOCGRAB, exclusive ? 1 : 0) == 0) {
        return true;
    }
    return !exclusive && errno == EINVAL; // not grabbed: let go already
}

bool EvdevDevice::anyKeyDown() const {
    KeyBits bits{};
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
    return stream_.keyDown(code);
}

bool EvdevDevice::ledOn(std::uint16_t code) const {
    std::array<unsigned char, LED_CNT / 8 + 1> bits{};
    if (code >= LED_CNT || ::ioctl(fd_, EVIOCGLED(bits.size()), bits.data()) < 0) {
        return false;
    }
    return (bits[code / 8] & (1U << (code % 8))) != 0;
}

void EvdevDevice::setLed(std::uint16_t code, bool on) {
    if (libevdev_has_event_code(device_, EV_LED, code) != 0) {
        libevdev_kernel_set_led_value(device_, code, on ? LIBEVDEV_LED_ON : LIBEVDEV_LED_OFF);
    }
}

int EvdevDevice::read(std::span<input_event> out) {
    std::size_t count = stream_.takeMadeUp(out);
    if (count == out.size()) {
        return static_cast<int>(count);
    }
    const ssize_t got = ::read(fd_, out.data() + count, (out.size() - count) * sizeof(input_event));
    if (got < 0) {
        if (errno == ENODEV && count == 0) {
            return -1;
        }
        return static_cast<int>(count); // EAGAIN, EINTR: nothing more now
    }
    const auto read = static_cast<std::size_t>(got) / sizeof(input_event);
    count += stream_.filter(out.data() + count, read, *this);
    count += stream_.takeMadeUp(out.subspan(count));
    return static_cast<int>(count);
}

bool EvdevDevice::keysDown(KeyEventStream::KeyState& down) {
    KeyBits bits{};
    if (::ioctl(fd_, EVIOCGKEY(bits.size()), bits.data()) < 0) {
        return false;
    }
    for (std::size_t code = 0; code < KEY_CNT; ++code) {
        down[code] = isSet(bits, code);
    }
    return true;
}

} // namespace tarnell::input
