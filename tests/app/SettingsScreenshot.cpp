// Renders the settings window, as a first start without input access shows it, to a
// PNG file for the documentation: tarnell_settings_screenshot OUTPUT.png
#include "FakeApplicationCatalog.h"
#include "MonitorHarness.h"
#include "app/FormSection.h"
#include "app/SettingsView.h"
#include "app/Wording.h"
#include "bindings/BindingStore.h"
#include "bindings/FileUrl.h"
#include "platform/linux/desktop/GioApplicationCatalog.h"
#include "support/InMemoryKeyValueStore.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QScrollArea>
#include <QScrollBar>
#include <algorithm>
#include <cstdio>
#include <map>

namespace {

// Names from the installed applications, as the menus show them.
class CatalogNames final : public tarnell::ApplicationDirectory {
public:
    explicit CatalogNames(tarnell::app::ApplicationCatalog& catalog) {
        for (const auto& application : catalog.installedApplications()) {
            names_[application.path.toStdString()] = application.name.toStdString();
        }
    }
    std::optional<std::string> urlForApplication(std::string_view) override { return {}; }
    std::optional<std::string> defaultApplicationFor(std::string_view) override { return {}; }
    std::string displayNameAtPath(std::string_view path) override {
        const auto found = names_.find(std::string(path));
        return found != names_.end() ? found->second : std::string(path);
    }

private:
    std::map<std::string, std::string> names_;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    QApplication application(argc, argv);
    if (!QFile::exists(QIcon::themeSearchPaths().value(0) + "/" + QIcon::themeName())) {
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    }
    tarnell::app::installLinuxWording(application);

    tarnell::platform::GioApplicationCatalog catalog;
    CatalogNames names(catalog);
    tarnell::testing::InMemoryKeyValueStore defaults;
    auto store = std::make_shared<tarnell::BindingStore>(defaults, names);
    store->setBindings({});
    // A few of the installed applications, as a user would have added them.
    std::vector<tarnell::app::InstalledApplication> installed = catalog.installedApplications();
    std::sort(installed.begin(), installed.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    for (std::size_t i = 0; i < installed.size() && i < 4; ++i) {
        store->addApp(tarnell::fileUrlFromPath(installed[i].path.toStdString()));
    }

    tarnell::test::MonitorHarness harness(store);
    harness.monitor->start();
    tarnell::test::FakeLoginItems loginItems;
    tarnell::test::FakeAccessSettings access;
    tarnell::app::SettingsView view(*store, *harness.monitor, loginItems, access, catalog, true);
    view.setWindowTitle(QStringLiteral("Tarnell Settings"));

    // Tall enough to show every section without scrolling.
    view.show();
    auto* scrollBar = view.findChild<QScrollArea*>()->verticalScrollBar();
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents();
        if (scrollBar->maximum() == 0) {
            break;
        }
        view.resize(view.width(), view.height() + scrollBar->maximum());
    }
    scrollBar->setValue(0);
    QCoreApplication::processEvents();
    const bool saved = view.grab().save(QString::fromLocal8Bit(argv[1]));
    return saved ? 0 : 1;
}
