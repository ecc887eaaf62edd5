#include "platform/linux/gnome/ShellExtensionInterface.h"

#include <algorithm>

namespace tarnell::platform::gnome {
namespace {

bool isControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

} // namespace

std::optional<std::string> acceptedDesktopId(std::string_view text) {
    constexpr std::string_view suffix = ".desktop";
    if (text.size() > kMaxTextBytes || text.size() <= suffix.size() || !text.ends_with(suffix) ||
        std::any_of(text.begin(), text.end(), [](char c) { return c == '/' || isControl(c); })) {
        return std::nullopt;
    }
    return std::string(text);
}

std::string boundedText(std::string_view text) {
    if (text.size() > kMaxTextBytes || std::any_of(text.begin(), text.end(), isControl)) {
        return {};
    }
    return std::string(text);
}

} // namespace tarnell::platform::gnome
