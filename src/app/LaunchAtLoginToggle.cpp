#include "app/LaunchAtLoginToggle.h"

namespace tarnell::app {

LaunchAtLoginToggle::LaunchAtLoginToggle(LoginItemService& service, bool initialValue)
    : service_(service), value_(initialValue) {}

bool LaunchAtLoginToggle::initialValue(LoginItemService& service) {
    return service.status() == LoginItemStatus::enabled;
}

void LaunchAtLoginToggle::setValue(bool value) {
    if (value == value_) {
        return;
    }
    value_ = value;
    if (onValueChanged_) {
        onValueChanged_(value_);
    }
    valueChanged(value_);
}

void LaunchAtLoginToggle::valueChanged(bool value) {
    const bool done = value ? service_.registerItem() : service_.unregisterItem();
    if (done) {
        // The request stands; the status is not consulted again.
        return;
    }
    // Refused: show what is in force. When that differs, this is a change of its own
    // and is carried out in turn, so a toggle that flips back also asks the service
    // for the flipped value once.
    setValue(service_.status() == LoginItemStatus::enabled);
}

} // namespace tarnell::app
