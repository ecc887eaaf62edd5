#pragma once

#include "app/LoginItemService.h"

#include <functional>

namespace tarnell::app {

// The value behind the "Launch at login" toggle. The login item itself is the only
// record: every change of the value registers or unregisters it, and a refused
// change puts the value back to what the service reports, which in turn runs the
// change once more with the corrected value.
class LaunchAtLoginToggle {
public:
    // `initialValue` is shown as is; it does not count as a change.
    LaunchAtLoginToggle(LoginItemService& service, bool initialValue);

    // The value to start with: on exactly when the login item is in force.
    static bool initialValue(LoginItemService& service);

    [[nodiscard]] bool value() const { return value_; }
    // Sets the value; when it differs from the current one, the change is carried out.
    void setValue(bool value);

    // Called after every change of the value, also those made by a refusal.
    void setOnValueChanged(std::function<void(bool)> observer) {
        onValueChanged_ = std::move(observer);
    }

private:
    void valueChanged(bool value);

    LoginItemService& service_;
    bool value_;
    std::function<void(bool)> onValueChanged_;
};

} // namespace tarnell::app
