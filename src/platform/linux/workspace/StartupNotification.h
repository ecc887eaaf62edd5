#pragma once

#include <optional>
#include <string>
#include <string_view>

// Startup-notification messages, which launchers and applications broadcast on X11
// while an application starts.
namespace tarnell::platform {

// The ID a "remove" message names (the launch it ends), or nullopt when the message
// is of another type or names none. The message is a type and KEY=VALUE pairs
// separated by spaces; a value may be quoted, and a backslash escapes the character
// after it. It comes from other programs: any bytes may arrive.
std::optional<std::string> removedStartupId(std::string_view message);

} // namespace tarnell::platform
