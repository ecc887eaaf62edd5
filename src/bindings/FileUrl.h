#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnell {

// "file://" followed by the percent-encoded absolute path.
std::string fileUrlFromPath(std::string_view absolutePath);

// The decoded path of a "file:" URL (with an empty or "localhost" host), or nullopt.
std::optional<std::string> pathFromFileUrl(std::string_view url);

// The name shown for an application: the display name with every ".app" removed.
std::string withoutAppSuffixes(std::string name);

} // namespace tarnell
