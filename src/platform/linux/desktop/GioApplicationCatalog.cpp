#include "platform/linux/desktop/GioApplicationCatalog.h"

#include <QFileInfo>
#include <QSet>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

namespace tarnell::platform {

namespace {

template <typename T> struct ObjectDeleter {
    void operator()(T* object) const { g_object_unref(object); }
};
template <typename T> using Object = std::unique_ptr<T, ObjectDeleter<T>>;

// Shown for entries without an icon of their own, or whose icon is not installed.
QIcon genericApplicationIcon() {
    return QIcon::fromTheme(QStringLiteral("application-x-executable"),
                            QIcon::fromTheme(QStringLiteral("application-x-generic")));
}

// A GIcon as a Qt icon: a themed icon by the first of its names that the theme
// has, a file icon by its file; null when neither resolves.
QIcon iconFrom(GIcon* icon) {
    if (icon == nullptr) {
        return {};
    }
    if (G_IS_THEMED_ICON(icon)) {
        const gchar* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
        for (; names != nullptr && *names != nullptr; ++names) {
            const QString name = QString::fromUtf8(*names);
            if (QIcon::hasThemeIcon(name)) {
                return QIcon::fromTheme(name);
            }
        }
        return {};
    }
    if (G_IS_FILE_ICON(icon)) {
        GFile* file = g_file_icon_get_file(G_FILE_ICON(icon));
        std::unique_ptr<char, decltype(&g_free)> path(g_file_get_path(file), &g_free);
        if (path && QFileInfo::exists(QString::fromUtf8(path.get()))) {
            return QIcon(QString::fromUtf8(path.get()));
        }
    }
    return {};
}

QIcon iconOrGeneric(GIcon* icon) {
    QIcon result = iconFrom(icon);
    return result.isNull() ? genericApplicationIcon() : result;
}

} // namespace

struct GioApplicationCatalog::Monitor {
    explicit Monitor(ChangeNotifier& changes)
        : monitor(g_app_info_monitor_get()),
          handler(g_signal_connect_swapped(monitor.get(), "changed", G_CALLBACK(&Monitor::changed),
                                           &changes)) {}
    ~Monitor() { g_signal_handler_disconnect(monitor.get(), handler); }
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    static void changed(ChangeNotifier* changes) { changes->notify(); }

    Object<GAppInfoMonitor> monitor;
    gulong handler;
};

GioApplicationCatalog::GioApplicationCatalog() : monitor_(std::make_unique<Monitor>(changes_)) {
    // The monitor only reports changes of applications that have been listed once.
    g_list_free_full(g_app_info_get_all(), g_object_unref);
}

GioApplicationCatalog::~GioApplicationCatalog() = default;

QIcon GioApplicationCatalog::iconForPath(const QString& path) {
    const Object<GDesktopAppInfo> info(
        g_desktop_app_info_new_from_filename(path.toUtf8().constData()));
    return iconOrGeneric(info ? g_app_info_get_icon(G_APP_INFO(info.get())) : nullptr);
}

std::vector<app::InstalledApplication> GioApplicationCatalog::installedApplications() {
    std::vector<app::InstalledApplication> applications;
    QSet<QString> seen;
    GList* all = g_app_info_get_all();
    for (GList* item = all; item != nullptr; item = item->next) {
        auto* info = G_APP_INFO(item->data);
        if (!G_IS_DESKTOP_APP_INFO(info) || !g_app_info_should_show(info)) {
            continue;
        }
        const char* id = g_app_info_get_id(info);
        const char* file = g_desktop_app_info_get_filename(G_DESKTOP_APP_INFO(info));
        if (id == nullptr || file == nullptr) {
            continue;
        }
        const QString desktopId = QString::fromUtf8(id);
        if (seen.contains(desktopId)) {
            continue;
        }
        seen.insert(desktopId);
        applications.push_back({desktopId, QString::fromUtf8(g_app_info_get_name(info)),
                                QString::fromUtf8(file), iconOrGeneric(g_app_info_get_icon(info))});
    }
    g_list_free_full(all, g_object_unref);
    return applications;
}

} // namespace tarnell::platform
