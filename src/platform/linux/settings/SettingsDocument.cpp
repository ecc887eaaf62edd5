#include "platform/linux/settings/SettingsDocument.h"

#include "bindings/StoredJson.h"

namespace tarnell::platform {

std::optional<SettingsObject> readSettings(std::string_view text) {
    auto settings = parseStoredJson(text);
    if (!settings || !settings->is_object()) {
        return std::nullopt;
    }
    return settings;
}

std::optional<bool> settingAsBool(const SettingsObject& settings, std::string_view key) {
    const auto member = settings.find(key);
    if (member == settings.end()) {
        return std::nullopt;
    }
    if (member->is_boolean()) {
        return member->get<bool>();
    }
    if (member->is_number()) {
        const auto number = member->get<double>();
        if (number == 0.0 || number == 1.0) {
            return number == 1.0;
        }
    }
    return std::nullopt;
}

std::optional<std::string> writeSettings(const SettingsObject& settings) {
    if (settings.empty()) {
        return "{}\n";
    }
    std::string text = "{";
    for (const auto& [name, value] : settings.items()) {
        text += text.size() == 1 ? "\n    " : ",\n    ";
        // Text read in is well-formed UTF-8; a key given by a caller might not be.
        constexpr auto kReplace = SettingsObject::error_handler_t::replace;
        text += SettingsObject(name).dump(-1, ' ', false, kReplace);
        text += ": ";
        text += value.dump(-1, ' ', false, kReplace);
        if (text.size() > kStoredJsonMaxBytes) {
            return std::nullopt;
        }
    }
    text += "\n}\n";
    if (text.size() > kStoredJsonMaxBytes) {
        return std::nullopt;
    }
    return text;
}

} // namespace tarnell::platform
