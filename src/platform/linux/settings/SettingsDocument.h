#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace tarnell::platform {

// The content of the settings file: a JSON object whose members are the settings.
// Members this program does not know are kept as they are, in their order.
using SettingsObject = nlohmann::ordered_json;

// The object the text holds, or nullopt when it holds anything else or lies beyond
// the limits of parseStoredJson.
std::optional<SettingsObject> readSettings(std::string_view text);

// The member converted to a Boolean (a Boolean, or a number equal to 0 or 1), or
// nullopt when absent or of another kind or value.
std::optional<bool> settingAsBool(const SettingsObject& settings, std::string_view key);

// The file's text, one member a line so that people can read and edit it. Each value
// is written in compact form: indenting nested values would make the text grow with
// the square of its depth. Nullopt when the text would be larger than readSettings
// accepts, so that a save never replaces a readable file with an unreadable one.
std::optional<std::string> writeSettings(const SettingsObject& settings);

} // namespace tarnell::platform
