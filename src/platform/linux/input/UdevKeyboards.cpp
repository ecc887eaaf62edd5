#include "platform/linux/input/UdevKeyboards.h"

#include <libudev.h>
#include <string_view>
#include <unistd.h>

namespace tarnell::input {
namespace {

struct Candidate {
    bool wanted = false;
    bool knownKeyboard = false;
};

Candidate judge(udev_device* device, const std::string& seat) {
    const char* sysname = udev_device_get_sysname(device);
    const char* devnode = udev_device_get_devnode(device);
    if (sysname == nullptr || devnode == nullptr ||
        !std::string_view(sysname).starts_with("event")) {
        return {};
    }
    if (!seat.empty()) {
        const char* deviceSeat = udev_device_get_property_value(device, "ID_SEAT");
        if (seat != (deviceSeat != nullptr ? deviceSeat : "seat0")) {
            return {};
        }
    }
    const char* keyboard = udev_device_get_property_value(device, "ID_INPUT_KEYBOARD");
    const char* input = udev_device_get_property_value(device, "ID_INPUT");
    if (keyboard != nullptr && std::string_view(keyboard) == "1") {
        return {true, true};
    }
    // Without udev's classification, the device's keys decide.
    return {input == nullptr, false};
}

} // namespace

std::unique_ptr<UdevKeyboards> UdevKeyboards::create(std::string seat) {
    udev* context = udev_new();
    if (context == nullptr) {
        return nullptr;
    }
    // With no udev daemon nothing arrives on the "udev" channel; the kernel's
    // announcements carry what is needed.
    const bool daemonRunning = ::access("/run/udev/control", F_OK) == 0;
    udev_monitor* monitor =
        udev_monitor_new_from_netlink(context, daemonRunning ? "udev" : "kernel");
    if (monitor != nullptr) {
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "input", nullptr);
        if (udev_monitor_enable_receiving(monitor) < 0) {
            udev_monitor_unref(monitor);
            monitor = nullptr;
        }
    }
    return std::unique_ptr<UdevKeyboards>(new UdevKeyboards(context, monitor, std::move(seat)));
}

UdevKeyboards::~UdevKeyboards() {
    if (monitor_ != nullptr) {
        udev_monitor_unref(monitor_);
    }
    udev_unref(udev_);
}

std::vector<UdevKeyboards::Device> UdevKeyboards::present() const {
    std::vector<Device> devices;
    udev_enumerate* enumerate = udev_enumerate_new(udev_);
    if (enumerate == nullptr) {
        return devices;
    }
    udev_enumerate_add_match_subsystem(enumerate, "input");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
        udev_device* device = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
        if (device == nullptr) {
            continue;
        }
        const Candidate candidate = judge(device, seat_);
        if (candidate.wanted) {
            devices.push_back({udev_device_get_devnode(device), candidate.knownKeyboard});
        }
        udev_device_unref(device);
    }
    udev_enumerate_unref(enumerate);
    return devices;
}

int UdevKeyboards::fd() const {
    return monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1;
}

std::vector<UdevKeyboards::Change> UdevKeyboards::receive() {
    std::vector<Change> changes;
    if (monitor_ == nullptr) {
        return changes;
    }
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
        const char* action = udev_device_get_action(device);
        const std::string_view what = action != nullptr ? action : "";
        const char* devnode = udev_device_get_devnode(device);
        if (devnode != nullptr && what == "remove") {
            changes.push_back({false, {devnode, false}});
        } else if (what == "add" || what == "change") {
            const Candidate candidate = judge(device, seat_);
            if (candidate.wanted) {
                changes.push_back({true, {devnode, candidate.knownKeyboard}});
            }
        }
        udev_device_unref(device);
    }
    return changes;
}

} // namespace tarnell::input
