// Caps Lock mapping (Caps Lock produces the Hyper trigger, F18) and the Caps Lock
// lock state, which the mapped key can no longer change by itself.
#include "engine/HyperKeyMonitor.h"

namespace tarnell::engine {

namespace {

// HID usages: page 7 (keyboard) shifted left by 32, plus the usage.
constexpr std::string_view kCapsLockUsage = "0x700000039";
constexpr std::string_view kF18Usage = "0x70000006D";

std::string makeEnablingText() {
    std::string text = R"({"UserKeyMapping":[{"HIDKeyboardModifierMappingSrc":)";
    text += kCapsLockUsage;
    text += R"(,"HIDKeyboardModifierMappingDst":)";
    text += kF18Usage;
    text += "}]}";
    return text;
}

} // namespace

const std::string& HyperKeyMonitor::remappingText(bool enabled) {
    static const std::string enabling = makeEnablingText();
    static const std::string disabling = R"({"UserKeyMapping":[]})";
    return enabled ? enabling : disabling;
}

void HyperKeyMonitor::setCapsLockRemapping(bool enabled) {
    // Whether the utility could run or not, nothing is reported: the monitor
    // counts as running either way.
    (void)services_.keyMapping.run({"property", "--set", remappingText(enabled)});
}

void HyperKeyMonitor::toggleCapsLock() {
    const auto connection = services_.lockState.open();
    if (!connection) {
        return;
    }
    bool locked = false;
    if (!connection->getCapsLockState(locked)) {
        locked = false; // an unreadable state counts as off
    }
    (void)connection->setCapsLockState(!locked);
}

} // namespace tarnell::engine
