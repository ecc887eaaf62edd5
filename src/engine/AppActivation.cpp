#include "engine/AppActivation.h"

namespace tarnell::engine {

void activateApp(Workspace& workspace, bool hidesFrontmostApp, std::string_view appURL) {
    const auto boundIdentifier = workspace.applicationIdentifierAt(appURL);
    if (hidesFrontmostApp) {
        if (const auto frontmost = workspace.frontmostApplication()) {
            // Both absent counts as the same application too.
            if (frontmost->identifier == boundIdentifier) {
                workspace.hide(*frontmost);
                return;
            }
        }
    }
    workspace.openApplication(appURL);
}

} // namespace tarnell::engine
