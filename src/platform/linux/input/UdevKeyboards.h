#pragma once

#include <memory>
#include <string>
#include <vector>

struct udev;
struct udev_monitor;

namespace tarnell::input {

// Input event devices of one seat through libudev: the present ones and, through
// a monitor, those that come and go. Works without a running udev daemon too
// (then the kernel's own announcements are watched and every event device is a
// candidate, to be judged by its keys).
class UdevKeyboards {
public:
    struct Device {
        std::string devnode;
        bool knownKeyboard = false;
    };
    struct Change {
        bool added = false;
        Device device;
    };

    // nullptr when libudev cannot be used. An empty seat takes every seat.
    static std::unique_ptr<UdevKeyboards> create(std::string seat);
    ~UdevKeyboards();
    UdevKeyboards(const UdevKeyboards&) = delete;
    UdevKeyboards& operator=(const UdevKeyboards&) = delete;

    [[nodiscard]] std::vector<Device> present() const;
    // Readable when changes wait; -1 without a monitor.
    [[nodiscard]] int fd() const;
    std::vector<Change> receive();

private:
    UdevKeyboards(udev* context, udev_monitor* monitor, std::string seat)
        : udev_(context), monitor_(monitor), seat_(std::move(seat)) {}

    udev* udev_;
    udev_monitor* monitor_;
    std::string seat_;
};

} // namespace tarnell::input
