#pragma once

#include "engine/PlatformServices.h"

#include <string_view>

namespace tarnell::engine {

// Hides the bound application when it is in front and hidesFrontmostApp is on;
// otherwise asks the workspace to open it and bring it to the front. Applications
// are the same when both identifiers are present and equal (case-sensitive), or
// both absent.
void activateApp(Workspace& workspace, bool hidesFrontmostApp, std::string_view appURL);

} // namespace tarnell::engine
