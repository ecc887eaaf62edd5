#pragma once

#include "app/AccessSettingsOpener.h"
#include "platform/linux/access/InputAccessTrust.h"

#include <filesystem>

namespace tarnell::platform {

// Where the user grants input access: the installed helper run through pkexec
// (which asks for an administrator's password). Without an installed helper, as
// when running from the build tree, a dialog shows the command to run instead.
class PkexecAccessSettings final : public app::AccessSettingsOpener {
public:
    // `uninstalledHelper` is the helper to name in that dialog.
    explicit PkexecAccessSettings(
        InputAccessConfig config = InputAccessConfig::system(),
        std::filesystem::path uninstalledHelper = builtAccessHelperPath());

    void openAccessSettings(QWidget* parent) override;

    // The helper as built next to this program, when it was built.
    static std::filesystem::path builtAccessHelperPath();

private:
    void showCommand(QWidget* parent) const;

    InputAccessTrust trust_;
    std::filesystem::path uninstalledHelper_;
};

} // namespace tarnell::platform
