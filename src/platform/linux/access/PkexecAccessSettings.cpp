#include "platform/linux/access/PkexecAccessSettings.h"

#include <QMessageBox>

namespace tarnell::platform {

PkexecAccessSettings::PkexecAccessSettings(InputAccessConfig config,
                                           std::filesystem::path uninstalledHelper)
    : trust_(std::move(config)), uninstalledHelper_(std::move(uninstalledHelper)) {}

std::filesystem::path PkexecAccessSettings::builtAccessHelperPath() {
    return TARNELL_BUILT_ACCESS_HELPER_PATH;
}

void PkexecAccessSettings::openAccessSettings(QWidget* parent) {
    if (trust_.canPrompt()) {
        // The prompt also does nothing while an earlier one is still open.
        trust_.isProcessTrustedWithPrompt();
        return;
    }
    showCommand(parent);
}

void PkexecAccessSettings::showCommand(QWidget* parent) const {
    const QString command =
        std::filesystem::exists(uninstalledHelper_)
            ? QStringLiteral("sudo %1").arg(QString::fromStdString(uninstalledHelper_.string()))
            : QStringLiteral("sudo cmake --install <build directory>");
    auto* box = new QMessageBox(QMessageBox::Information, QObject::tr("Input Access"),
                                QObject::tr("Tarnell needs to read the keyboards and to type keys. "
                                            "To allow it for the logged-in user, run:"),
                                QMessageBox::Ok, parent);
    box->setInformativeText(command);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace tarnell::platform
