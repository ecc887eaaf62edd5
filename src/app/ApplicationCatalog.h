#pragma once

#include "bindings/ChangeNotifier.h"

#include <QIcon>
#include <QString>
#include <vector>

namespace tarnell::app {

// One application the user can bind, as the chooser lists it.
struct InstalledApplication {
    QString desktopId; // e.g. "org.example.Editor.desktop"
    QString name;      // the localized name
    QString path;      // absolute path of its desktop entry
    QIcon icon;
};

// The installed applications and their icons, for the user interface.
class ApplicationCatalog {
public:
    virtual ~ApplicationCatalog() = default;

    // The icon of the desktop entry at this path, or a generic application icon
    // when the entry has none or none can be found. May be null only when the
    // icon theme has no generic icon either.
    virtual QIcon iconForPath(const QString& path) = 0;

    // Every application that menus would show, one per desktop ID, unsorted.
    virtual std::vector<InstalledApplication> installedApplications() = 0;

    // Told after applications have been installed, changed or removed.
    virtual ChangeNotifier& changes() = 0;
};

} // namespace tarnell::app
