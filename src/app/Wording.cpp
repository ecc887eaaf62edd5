#include "app/Wording.h"

#include <QCoreApplication>
#include <QTranslator>

namespace tarnell::app {

bool installLinuxWording(QCoreApplication& application) {
    // Parented to the application, so it lives exactly as long as the texts it serves.
    auto* translator = new QTranslator(&application);
    if (!translator->load(QStringLiteral(":/i18n/tarnell_en.qm"))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace tarnell::app
