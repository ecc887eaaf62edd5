#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tarnell::input {

struct UsageMapping {
    std::uint64_t source = 0;      // HID usage, page << 32 | usage
    std::uint64_t destination = 0; // HID usage, page << 32 | usage
    friend bool operator==(const UsageMapping&, const UsageMapping&) = default;
};

// Reads a key mapping property text such as
//   {"UserKeyMapping":[{"HIDKeyboardModifierMappingSrc":0x700000039,
//                       "HIDKeyboardModifierMappingDst":0x70000006D}]}
// JSON except that numbers may be bare hexadecimal literals. nullopt when the text
// is malformed or lacks the "UserKeyMapping" list.
std::optional<std::vector<UsageMapping>> parseUserKeyMapping(std::string_view text);

} // namespace tarnell::input
