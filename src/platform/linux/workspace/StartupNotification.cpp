#include "platform/linux/workspace/StartupNotification.h"

namespace tarnell::platform {

std::optional<std::string> removedStartupId(std::string_view message) {
    constexpr std::string_view type = "remove:";
    if (!message.starts_with(type)) {
        return std::nullopt;
    }
    std::size_t at = type.size();
    for (;;) {
        at = message.find_first_not_of(' ', at);
        const auto equals = message.find('=', at);
        if (at == std::string_view::npos || equals == std::string_view::npos) {
            return std::nullopt;
        }
        const auto key = message.substr(at, equals - at);
        std::string value;
        bool quoted = false;
        for (at = equals + 1; at < message.size(); ++at) {
            const char c = message[at];
            if (c == '\\' && at + 1 < message.size()) {
                value += message[++at];
            } else if (c == '"') {
                quoted = !quoted;
            } else if (c == ' ' && !quoted) {
                break;
            } else {
                value += c;
            }
        }
        if (key == "ID") {
            return value;
        }
    }
}

} // namespace tarnell::platform
