#pragma once

#include "app/ApplicationCatalog.h"

#include <memory>

namespace tarnell::platform {

// The applications that GIO knows from the desktop entries in the XDG data
// directories, with icons from the Qt icon theme. Told about installs and removals
// by GIO's application monitor, which needs the GLib main context to run; the Qt
// event loop runs it on Linux.
class GioApplicationCatalog final : public app::ApplicationCatalog {
public:
    GioApplicationCatalog();
    ~GioApplicationCatalog() override;
    GioApplicationCatalog(const GioApplicationCatalog&) = delete;
    GioApplicationCatalog& operator=(const GioApplicationCatalog&) = delete;

    QIcon iconForPath(const QString& path) override;
    std::vector<app::InstalledApplication> installedApplications() override;
    ChangeNotifier& changes() override { return changes_; }

private:
    struct Monitor;
    ChangeNotifier changes_;
    std::unique_ptr<Monitor> monitor_;
};

} // namespace tarnell::platform
