#include "platform/linux/input/EvdevDevice.h"

#include <algorithm>
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
    for (unsigned code = 0; code < KEY_CNT; ++code) {
        down_[code] = libevdev_get_event_value(device_, EV_KEY, code) != 0;
    }
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
    return code < KEY_CNT && down_.test(code);
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
    std::size_t count = takeMadeUp(out);
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
    count += filter(out.data() + count, read);
    count += takeMadeUp(out.subspan(count));
    return static_cast<int>(count);
}

// Keeps the key state, drops what the kernel marked incomplete and, once it is
// complete again, stands in the differences to the kernel's key state. Compacts
// `events` in place; returns how many stay.
std::size_t EvdevDevice::filter(input_event* events, std::size_t count) {
    std::size_t kept = 0;
    bool afterDifferences = false; // what follows them in this read queues up behind
    for (std::size_t i = 0; i < count; ++i) {
        const input_event event = events[i];
        if (event.type == EV_SYN && event.code == SYN_DROPPED) {
            dropping_ = true;
            continue;
        }
        if (dropping_) {
            if (event.type == EV_SYN && event.code == SYN_REPORT) {
                dropping_ = false;
                resynchronise();
                afterDifferences = true;
            }
            continue;
        }
        if (event.type == EV_KEY && event.code < KEY_CNT) {
            down_[event.code] = event.value != 0;
        }
        if (afterDifferences) {
            madeUp_.push_back(event);
        } else {
            events[kept++] = event;
        }
    }
    return kept;
}

void EvdevDevice::resynchronise() {
    KeyBits bits{};
    if (::ioctl(fd_, EVIOCGKEY(bits.size()), bits.data()) < 0) {
        return;
    }
    bool changed = false;
    for (std::uint16_t code = 0; code < KEY_CNT; ++code) {
        const bool down = isSet(bits, code);
        if (down_.test(code) != down) {
            down_[code] = down;
            input_event event{};
            event.type = EV_KEY;
            event.code = code;
            event.value = down ? 1 : 0;
            madeUp_.push_back(event);
            changed = true;
        }
    }
    if (changed) {
        input_event sync{};
        sync.type = EV_SYN;
        sync.code = SYN_REPORT;
        madeUp_.push_back(sync);
    }
}

std::size_t EvdevDevice::takeMadeUp(std::span<input_event> out) {
    if (madeUp_.empty()) {
        return 0;
    }
    const std::size_t count = std::min(out.size(), madeUp_.size());
    std::copy_n(madeUp_.begin(), count, out.begin());
    madeUp_.erase(madeUp_.begin(), madeUp_.begin() + static_cast<std::ptrdiff_t>(count));
    return count;
}

} // namespace tarnell::input
