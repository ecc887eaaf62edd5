#include "platform/linux/layout/InputSourceNames.h"

#include <algorithm>

namespace tarnell::layout {
namespace {

// Far longer than any layout or variant that xkeyboard-config ships.
constexpr std::size_t kLongestId = 128;

bool isNamePart(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    });
}

} // namespace

std::optional<input::XkbNames> xkbNamesOfInputSource(std::string_view id) {
    if (id.size() > kLongestId) {
        return std::nullopt;
    }
    const auto plus = id.find('+');
    const std::string_view layout = id.substr(0, plus);
    const std::string_view variant =
        plus == std::string_view::npos ? std::string_view() : id.substr(plus + 1);
    if (!isNamePart(layout) || (plus != std::string_view::npos && !isNamePart(variant))) {
        return std::nullopt;
    }
    input::XkbNames names;
    names.layout = layout;
    names.variant = variant;
    return names;
}

} // namespace tarnell::layout
