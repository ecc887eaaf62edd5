#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

namespace tarnell {

// What is accepted when reading a stored JSON document (the bindings list and the
// settings file). Tarnell itself writes a few kilobytes nested two levels deep; the
// limits leave hand-edited files ample room while keeping a hostile file from costing
// seconds and gigabytes at every start, or overflowing the stack of the recursive JSON
// writer on the next save. Anything beyond them is unreadable data.
inline constexpr std::size_t kStoredJsonMaxBytes = 1024 * 1024;
inline constexpr int kStoredJsonMaxDepth = 64;

// One JSON text within the limits above, or nullopt when the text is malformed, too
// large, nested deeper, or followed by anything but white space.
std::optional<nlohmann::ordered_json> parseStoredJson(std::string_view text);

} // namespace tarnell
