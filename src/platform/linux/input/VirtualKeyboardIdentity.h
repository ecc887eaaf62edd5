#pragma once

#include "platform/linux/input/InputDevice.h"

#include <string_view>

namespace tarnell::input {

// How Tarnell's virtual devices name themselves, so that none is ever captured.
inline constexpr std::string_view kVirtualKeyboardName = "Tarnell virtual keyboard";
inline constexpr std::uint16_t kVirtualVendor = 0x7461;  // "ta"
inline constexpr std::uint16_t kVirtualProduct = 0x726e; // "rn"
inline constexpr std::uint16_t kVirtualVersion = 1;

[[nodiscard]] inline bool isTarnellVirtualDevice(const DeviceIdentity& identity) {
    return (identity.vendor == kVirtualVendor && identity.product == kVirtualProduct) ||
           std::string_view(identity.name).starts_with("Tarnell ");
}

} // namespace tarnell::input
