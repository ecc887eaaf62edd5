#pragma once

#include "platform/linux/workspace/WindowIdentity.h"

#include <optional>
#include <string>
#include <vector>

// Desktop entries as GIO sees them.
namespace tarnell::platform {

// The "applications" directories of the data directories, in precedence order.
std::vector<std::string> applicationDirectories();

// Every installed application entry with its StartupWMClass.
DesktopCatalog loadDesktopCatalog();

// The desktop file ID of the entry at `path`, or nullopt when the path is not a
// readable application entry.
std::optional<std::string> desktopIdOfEntryAt(const std::string& path,
                                              const std::vector<std::string>& applicationDirs);

// The process files identity may be read from; empty texts when unreadable.
ProcessFiles readProcessFiles(pid_t pid);

} // namespace tarnell::platform
