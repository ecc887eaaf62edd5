#pragma once

#include <filesystem>

namespace tarnell::platform {

// Where the access helper is installed (under the libexec directory), whether or
// not it is there.
std::filesystem::path installedAccessHelperPath();

} // namespace tarnell::platform
