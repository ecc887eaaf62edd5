// Takes the documentation's pictures on a real X11 desktop in a light or a dark theme:
// the settings window as a first start without input access shows it, and the tray
// menu opened from an embedded tray. Shortcuts for a browser, a terminal, files, an
// editor and a calculator, from desktop entries of its own with the icon theme's
// icons.   tarnell_screenshots light|dark OUTPUT_DIRECTORY
#include "FakeApplicationCatalog.h"
#include "ThemePalettes.h"
#include "app/MenuContent.h"
#include "app/SettingsView.h"
#include "app/StatusIcon.h"
#include "app/TarnellApp.h"
#include "app/Wording.h"
#include "bindings/BindingStore.h"
#include "bindings/FileUrl.h"
#include "platform/linux/desktop/GioApplicationCatalog.h"
#include "support/FakePlatformServices.h"
#include "support/InMemoryKeyValueStore.h"
#include "support/QtApplication.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>
#include <map>

namespace {

using namespace tarnell;

struct Shortcut {
    const char* key;
    const char* file;
    const char* name;
    const char* icon;
};

constexpr Shortcut kShortcuts[] = {
    {"b", "web-browser", "Web Browser", "web-browser"},
    {"t", "terminal", "Terminal", "utilities-terminal"},
    {"f", "files", "Files", "system-file-manager"},
    {"e", "text-editor", "Text Editor", "accessories-text-editor"},
    {"c", "calculator", "Calculator", "accessories-calculator"},
};

// Names from the installed applications, as the menus show them.
class CatalogNames final : public ApplicationDirectory {
public:
    explicit CatalogNames(app::ApplicationCatalog& catalog) {
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

// The desktop entries, where the application catalogue finds them.
bool writeDesktopEntries(const QString& dataHome) {
    const QDir applications(dataHome + QStringLiteral("/applications"));
    if (!QDir().mkpath(applications.path())) {
        return false;
    }
    for (const Shortcut& shortcut : kShortcuts) {
        QFile entry(applications.filePath(QString::fromLatin1(shortcut.file) + ".desktop"));
        if (!entry.open(QIODevice::WriteOnly)) {
            return false;
        }
        entry.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nIcon=%2\nExec=sh\n")
                        .arg(QString::fromLatin1(shortcut.name), QString::fromLatin1(shortcut.icon))
                        .toUtf8());
    }
    return true;
}

bool save(const QPixmap& picture, const QString& path) {
    if (!picture.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s written\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const QString theme = argc == 3 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (theme != QLatin1String("light") && theme != QLatin1String("dark")) {
        std::fprintf(stderr, "usage: %s light|dark OUTPUT_DIRECTORY\n", argv[0]);
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[2]));
    QTemporaryDir home;
    if (!home.isValid() || !writeDesktopEntries(home.filePath(QStringLiteral("data")))) {
        std::fprintf(stderr, "cannot write the desktop entries\n");
        return 1;
    }
    // Only the entries above are this desktop's own; no session bus, so the tray is
    // the embedded one whose menu Tarnell draws.
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tarnell-screenshots");

    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    const bool dark = theme == QLatin1String("dark");
    QApplication::setPalette(dark ? test::darkPalette() : test::lightPalette());
    QIcon::setThemeName(QStringLiteral("Adwaita"));
    app::installLinuxWording(application);

    // A panel in the theme's colours, with an embedded tray.
    QProcess tray;
    tray.start(QStringLiteral("trayer"),
               {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                QStringLiteral("--height"), QStringLiteral("28"), QStringLiteral("--SetDockType"),
                QStringLiteral("true"), QStringLiteral("--transparent"), QStringLiteral("true"),
                QStringLiteral("--alpha"), QStringLiteral("0"), QStringLiteral("--tint"),
                dark ? QStringLiteral("0x1e1f22") : QStringLiteral("0xf6f5f4")});
    if (!tray.waitForStarted() ||
        !tarnell::testing::waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); })) {
        std::fprintf(stderr, "no tray came up (is trayer installed?)\n");
        return 1;
    }

    platform::GioApplicationCatalog catalog;
    CatalogNames names(catalog);
    tarnell::testing::InMemoryKeyValueStore settings;
    tarnell::testing::FakePlatform services;
    services.trust.trusted = false;
    test::FakeLoginItems loginItems;
    loginItems.currentStatus = app::LoginItemStatus::enabled;
    test::FakeAccessSettings access;
    app::TarnellApp tarnell(app::AppDelegate::Dependencies{
        .settings = settings,
        .applications = names,
        .engine = services.services(),
        .loginItems = loginItems,
        .makeSettingsContent =
            [&](BindingStore& store, engine::HyperKeyMonitor& monitor, bool launchesAtLogin) {
                return std::make_unique<app::SettingsView>(store, monitor, loginItems, access,
                                                           catalog, launchesAtLogin);
            },
    });
    std::vector<AppBinding> bindings;
    for (const Shortcut& shortcut : kShortcuts) {
        bindings.push_back(
            {Uuid::random(), shortcut.key,
             fileUrlFromPath(home.filePath(QStringLiteral("data/applications/%1.desktop")
                                               .arg(QString::fromLatin1(shortcut.file)))
                                 .toStdString())});
    }
    app::AppDelegate& delegate = tarnell.appDelegate();
    delegate.store().setBindings(bindings);
    tarnell::testing::settle();

    // The settings window, as at a first start: access not granted yet.
    delegate.showSettingsWindow();
    QWidget* window = delegate.settingsWindow();
    tarnell::testing::waitFor([window] { return window->windowHandle()->isExposed(); });
    QCoreApplication::processEvents(QEventLoop::AllEvents, 300);
    if (!save(window->grab(),
              output.filePath(QStringLiteral("settings-window-%1.png").arg(theme)))) {
        return 1;
    }
    window->close();

    // Access granted, the tray menu opened from the icon.
    services.trust.trusted = true;
    services.timers.tick();
    QSystemTrayIcon* icon = tarnell.statusIcon().trayIcon();
    if (!tarnell::testing::waitFor([icon] { return !icon->geometry().isEmpty(); })) {
        std::fprintf(stderr, "the icon never reached the tray\n");
        return 1;
    }
    QMenu* menu = tarnell.menuContent().menu();
    menu->popup(icon->geometry().bottomLeft());
    tarnell::testing::waitFor([menu] { return menu->isVisible(); });
    QCoreApplication::processEvents(QEventLoop::AllEvents, 300);
    // The menu with the panel's corner that holds the icon.
    const QRect area = menu->geometry()
                           .united(icon->geometry())
                           .adjusted(-24, -8, 8, 16)
                           .intersected(QGuiApplication::primaryScreen()->geometry());
    const bool saved = save(QGuiApplication::primaryScreen()->grabWindow(
                                0, area.x(), area.y(), area.width(), area.height()),
                            output.filePath(QStringLiteral("tray-menu-%1.png").arg(theme)));
    menu->hide();
    tray.terminate();
    tray.waitForFinished();
    return saved ? 0 : 1;
}
