#pragma once

#include "app/AccessSettingsOpener.h"
#include "app/ApplicationCatalog.h"
#include "app/LoginItemService.h"

#include <QPixmap>

namespace tarnell::test {

// Applications the test lists; every path gets the same plain icon.
class FakeApplicationCatalog final : public app::ApplicationCatalog {
public:
    QIcon iconForPath(const QString& path) override {
        iconRequests.append(path);
        QPixmap pixmap(20, 20);
        pixmap.fill(Qt::darkCyan);
        return QIcon(pixmap);
    }
    std::vector<app::InstalledApplication> installedApplications() override { return applications; }
    ChangeNotifier& changes() override { return changes_; }

    // Replaces the list and tells observers, as an install or removal would.
    void setApplications(std::vector<app::InstalledApplication> list) {
        applications = std::move(list);
        changes_.notify();
    }

    std::vector<app::InstalledApplication> applications;
    QStringList iconRequests;

private:
    ChangeNotifier changes_;
};

// A login item service whose answers the test sets, counting the calls.
class FakeLoginItems final : public app::LoginItemService {
public:
    app::LoginItemStatus status() override {
        ++statusReads;
        return currentStatus;
    }
    bool registerItem() override {
        ++registrations;
        if (registerSucceeds) {
            currentStatus = app::LoginItemStatus::enabled;
        }
        return registerSucceeds;
    }
    bool unregisterItem() override {
        ++unregistrations;
        if (unregisterSucceeds) {
            currentStatus = app::LoginItemStatus::notRegistered;
        }
        return unregisterSucceeds;
    }

    app::LoginItemStatus currentStatus = app::LoginItemStatus::notRegistered;
    bool registerSucceeds = true;
    bool unregisterSucceeds = true;
    int statusReads = 0;
    int registrations = 0;
    int unregistrations = 0;
};

class FakeAccessSettings final : public app::AccessSettingsOpener {
public:
    void openAccessSettings(QWidget* parent) override {
        ++opened;
        lastParent = parent;
    }
    int opened = 0;
    QWidget* lastParent = nullptr;
};

} // namespace tarnell::test
