#include "VmDevices.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <linux/kd.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace tarnell::vm {

std::string describe(const std::vector<KeyStroke>& strokes) {
    std::string text;
    for (const KeyStroke& stroke : strokes) {
        const char* name = libevdev_event_code_get_name(EV_KEY, stroke.code);
        text += (name != nullptr ? name : std::to_string(stroke.code));
        text += stroke.value == 1 ? "+ " : (stroke.value == 0 ? "- " : "* ");
    }
    return text.empty() ? "(nothing)" : text;
}

UinputKeyboard::UinputKeyboard(const std::string& name) : description_(libevdev_new()) {
    libevdev_set_name(description_, name.c_str());
    libevdev_set_id_bustype(description_, BUS_USB);
    libevdev_set_id_vendor(description_, 0x1234);
    libevdev_set_id_product(description_, 0x5678);
    libevdev_enable_event_type(description_, EV_KEY);
    for (unsigned code = KEY_ESC; code <= KEY_MICMUTE; ++code) {
        libevdev_enable_event_code(description_, EV_KEY, code, nullptr);
    }
    libevdev_enable_event_type(description_, EV_MSC);
    libevdev_enable_event_code(description_, EV_MSC, MSC_SCAN, nullptr);
    libevdev_enable_event_type(description_, EV_LED);
    libevdev_enable_event_code(description_, EV_LED, LED_NUML, nullptr);
    libevdev_enable_event_code(description_, EV_LED, LED_CAPSL, nullptr);
    libevdev_enable_event_code(description_, EV_LED, LED_SCROLLL, nullptr);
    libevdev_enable_event_type(description_, EV_REP);
    const int error =
        libevdev_uinput_create_from_device(description_, LIBEVDEV_UINPUT_OPEN_MANAGED, &device_);
    if (error != 0) {
        throw std::runtime_error("cannot create uinput keyboard: " + std::string(strerror(-error)));
    }
}

UinputKeyboard::~UinputKeyboard() {
    libevdev_uinput_destroy(device_);
    libevdev_free(description_);
}

void UinputKeyboard::send(unsigned code, int value) {
    libevdev_uinput_write_event(device_, EV_KEY, code, value);
    libevdev_uinput_write_event(device_, EV_SYN, SYN_REPORT, 0);
}

void UinputKeyboard::tap(unsigned code) {
    press(code);
    release(code);
}

std::string UinputKeyboard::devnode() const {
    const char* node = libevdev_uinput_get_devnode(device_);
    return node != nullptr ? node : "";
}

bool UinputKeyboard::capsLockLed() const {
    const int fd = open(devnode().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    unsigned long leds = 0;
    ioctl(fd, EVIOCGLED(sizeof(leds)), &leds);
    close(fd);
    return (leds & (1UL << LED_CAPSL)) != 0;
}

int UinputKeyboard::takeCapsLockLedChanges() {
    const int fd = libevdev_uinput_get_fd(device_);
    int changes = 0;
    pollfd waiting{fd, POLLIN, 0};
    while (poll(&waiting, 1, 0) > 0) {
        input_event event{};
        if (read(fd, &event, sizeof(event)) != static_cast<ssize_t>(sizeof(event))) {
            break;
        }
        if (event.type == EV_LED && event.code == LED_CAPSL) {
            ++changes;
        }
    }
    return changes;
}

std::optional<bool> consoleCapsLock() {
    const int fd = open("/dev/tty0", O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    char flags = 0;
    const bool read = ioctl(fd, KDGKBLED, &flags) == 0;
    close(fd);
    if (!read) {
        return std::nullopt;
    }
    return (flags & K_CAPSLOCK) != 0;
}

std::optional<std::string> findDevice(const std::string& name, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    do {
        if (DIR* dir = opendir("/sys/class/input")) {
            while (const dirent* entry = readdir(dir)) {
                const std::string node = entry->d_name;
                if (node.rfind("event", 0) != 0) {
                    continue;
                }
                std::ifstream file("/sys/class/input/" + node + "/device/name");
                std::string deviceName;
                std::getline(file, deviceName);
                if (deviceName == name) {
                    closedir(dir);
                    return "/dev/input/" + node;
                }
            }
            closedir(dir);
        }
        if (Clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(20ms);
    } while (true);
    return std::nullopt;
}

KeyReader::KeyReader(const std::string& devnode)
    : fd_(open(devnode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
    if (fd_ < 0) {
        throw std::runtime_error("cannot open " + devnode + ": " + strerror(errno));
    }
}

KeyReader::~KeyReader() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::optional<KeyStroke> KeyReader::next(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!gone_) {
        input_event event{};
        const ssize_t got = read(fd_, &event, sizeof(event));
        if (got == static_cast<ssize_t>(sizeof(event))) {
            if (event.type == EV_KEY && event.value != 2) {
                return KeyStroke{event.code, event.value};
            }
            continue;
        }
        if (got < 0 && errno == ENODEV) {
            gone_ = true;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd waiting{fd_, POLLIN, 0};
        poll(&waiting, 1, static_cast<int>(left.count()));
    }
    return std::nullopt;
}

std::vector<KeyStroke> KeyReader::drain(std::chrono::milliseconds quiet) {
    std::vector<KeyStroke> strokes;
    while (auto stroke = next(quiet)) {
        strokes.push_back(*stroke);
    }
    return strokes;
}

std::set<unsigned> KeyReader::heldKeys() const {
    unsigned char bits[KEY_MAX / 8 + 1] = {};
    std::set<unsigned> held;
    if (ioctl(fd_, EVIOCGKEY(sizeof(bits)), bits) < 0) {
        return held;
    }
    for (unsigned code = 0; code <= KEY_MAX; ++code) {
        if ((bits[code / 8] & (1U << (code % 8))) != 0) {
            held.insert(code);
        }
    }
    return held;
}

bool KeyReader::grabbedElsewhere() const {
    if (ioctl(fd_, EVIOCGRAB, 1) == 0) {
        ioctl(fd_, EVIOCGRAB, 0);
        return false;
    }
    return errno == EBUSY;
}

} // namespace tarnell::vm
