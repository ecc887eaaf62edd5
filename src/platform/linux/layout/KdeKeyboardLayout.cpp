#include "platform/linux/layout/KdeKeyboardLayout.h"

#include <QStandardPaths>
#include <algorithm>
#include <fstream>
#include <gio/gio.h>
#include <map>
#include <sstream>

namespace tarnell::layout {
namespace {

constexpr const char* kService = "org.kde.keyboard";
constexpr const char* kPath = "/Layouts";
constexpr const char* kInterface = "org.kde.KeyboardLayouts";
// The settings module's broadcast after it wrote kxkbrc; KWin acts on it too.
constexpr const char* kReloadInterface = "org.kde.keyboard";

// What another process or a file gives is bounded before it is kept.
constexpr std::size_t kMostLayouts = 32;
constexpr std::size_t kLongestText = 256;
constexpr std::streamsize kLargestConfig = 64 * 1024;

std::string trim(std::string_view text) {
    const auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) {
        return {};
    }
    const auto end = text.find_last_not_of(" \t\r");
    return std::string(text.substr(begin, end - begin + 1));
}

// The plain entries of one group of a KConfig text, a later one over an earlier
// one. Keys with a locale or a flag in brackets are not those KWin reads.
std::map<std::string, std::string> entriesOf(std::string_view text, std::string_view group) {
    std::map<std::string, std::string> entries;
    std::istringstream lines{std::string(text)};
    std::string line;
    bool inGroup = false;
    while (std::getline(lines, line)) {
        const std::string trimmed = trim(line);
        if (trimmed.empty() || trimmed.front() == '#') {
            continue;
        }
        if (trimmed.front() == '[') {
            // Compared in place: "[" + group + "]" trips GCC 12's -Wrestrict at -O3.
            inGroup = trimmed.size() == group.size() + 2 && trimmed.back() == ']' &&
                      std::string_view(trimmed).substr(1, group.size()) == group;
            continue;
        }
        const auto equals = trimmed.find('=');
        if (!inGroup || equals == std::string::npos) {
            continue;
        }
        std::string key = trim(std::string_view(trimmed).substr(0, equals));
        std::string value = trim(std::string_view(trimmed).substr(equals + 1));
        if (key.find('[') == std::string::npos && value.size() <= kLongestText) {
            entries[std::move(key)] = std::move(value);
        }
    }
    return entries;
}

std::string readBounded(const QString& path) {
    std::ifstream file(path.toStdString(), std::ios::binary);
    std::string text(static_cast<std::size_t>(kLargestConfig), '\0');
    file.read(text.data(), kLargestConfig);
    text.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    return text;
}

std::size_t countOf(const std::string& list) {
    return static_cast<std::size_t>(std::count(list.begin(), list.end(), ',')) + 1;
}

// kxkbrc as KConfig reads it: the system's files, then the user's over them.
input::XkbNames configuredNames() {
    const QStringList paths =
        QStandardPaths::locateAll(QStandardPaths::GenericConfigLocation, QStringLiteral("kxkbrc"));
    std::string text;
    for (auto path = paths.crbegin(); path != paths.crend(); ++path) {
        text += readBounded(*path) + "\n";
    }
    return kxkbrcNames(text);
}

bool isCancelled(GError* error) {
    return error != nullptr && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

struct PendingCall {
    KdeKeyboardLayout* self;
    void (*done)(KdeKeyboardLayout&, GVariant*);
};

} // namespace

input::XkbNames kxkbrcNames(std::string_view text) {
    auto entries = entriesOf(text, "Layout");
    input::XkbNames names;
    names.layout = std::move(entries["LayoutList"]);
    names.variant = std::move(entries["VariantList"]);
    names.model = entries["Model"].empty() ? "pc104" : std::move(entries["Model"]);
    if (entries["ResetOldOptions"] == "true") {
        names.options = std::move(entries["Options"]);
    }
    return names;
}

std::unique_ptr<KdeKeyboardLayout> KdeKeyboardLayout::connect() {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<KdeKeyboardLayout>(new KdeKeyboardLayout(bus));
}

KdeKeyboardLayout::KdeKeyboardLayout(GDBusConnection* bus)
    : bus_(bus), cancellable_(g_cancellable_new()) {
    subscriptions_.push_back(g_dbus_connection_signal_subscribe(
        bus_, nullptr, kReloadInterface, "reloadConfig", kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        &KdeKeyboardLayout::onSignal, this, nullptr));
    for (const char* name : {"layoutChanged", "layoutListChanged"}) {
        subscriptions_.push_back(g_dbus_connection_signal_subscribe(
            bus_, kService, kInterface, name, kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            &KdeKeyboardLayout::onSignal, this, nullptr));
    }
    // KWin is asked once the watch tells whether it offers the service.
    nameWatch_ = g_bus_watch_name_on_connection(
        bus_, kService, G_BUS_NAME_WATCHER_FLAGS_NONE, &KdeKeyboardLayout::onServiceAppeared,
        &KdeKeyboardLayout::onServiceVanished, this, nullptr);
    // Known at once, with the first layout active until KWin answers.
    configured_ = configuredNames();
    publishNames(configured_, 0);
}

KdeKeyboardLayout::~KdeKeyboardLayout() {
    g_bus_unwatch_name(nameWatch_);
    for (const unsigned subscription : subscriptions_) {
        g_dbus_connection_signal_unsubscribe(bus_, subscription);
    }
    g_cancellable_cancel(cancellable_);
    g_object_unref(cancellable_);
    g_object_unref(bus_);
}

void KdeKeyboardLayout::refresh() {
    configured_ = configuredNames();
    if (!servicePresent_) {
        kwinLayouts_.clear();
        publishNames(configured_, 0);
        return;
    }
    // Answered in the order asked: the list is in when the active layout comes.
    call("getLayoutsList", [](KdeKeyboardLayout& self, GVariant* reply) {
        self.kwinLayouts_.clear();
        if (!g_variant_is_of_type(reply, G_VARIANT_TYPE("(a(sss))"))) {
            return;
        }
        GVariant* list = g_variant_get_child_value(reply, 0);
        const gsize count = g_variant_n_children(list);
        for (gsize i = 0; i < count && count <= kMostLayouts; ++i) {
            const char* shortName = nullptr;
            g_variant_get_child(list, i, "(&sss)", &shortName, nullptr, nullptr);
            const std::string_view name(shortName);
            if (name.empty() || name.size() > kLongestText || name.find(',') != name.npos) {
                self.kwinLayouts_.clear(); // not a list to make a keymap of
                break;
            }
            self.kwinLayouts_.emplace_back(name);
        }
        g_variant_unref(list);
    });
    call("getLayout", [](KdeKeyboardLayout& self, GVariant* reply) {
        if (g_variant_is_of_type(reply, G_VARIANT_TYPE("(u)"))) {
            std::uint32_t group = 0;
            g_variant_get(reply, "(u)", &group);
            self.publishGroup(group);
        }
    });
}

void KdeKeyboardLayout::publishGroup(std::uint32_t group) {
    // kxkbrc holds what KWin uses, variants included, unless KWin's list says
    // otherwise (a file KWin did not read, names it did not take): then KWin's short
    // names, which lack the variants.
    input::XkbNames names = configured_;
    if (!kwinLayouts_.empty() &&
        (configured_.layout.empty() || countOf(configured_.layout) != kwinLayouts_.size())) {
        names.layout.clear();
        for (const auto& name : kwinLayouts_) {
            names.layout += (names.layout.empty() ? "" : ",") + name;
        }
        names.variant.clear();
    }
    publishNames(names, group);
}

void KdeKeyboardLayout::call(const char* method, void (*done)(KdeKeyboardLayout&, GVariant*)) {
    g_dbus_connection_call(
        bus_, kService, kPath, kInterface, method, nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
        cancellable_,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            const auto* pending = static_cast<PendingCall*>(data);
            GError* error = nullptr;
            GVariant* reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            // Once cancelled, the source is gone.
            if (!isCancelled(error) && reply != nullptr) {
                pending->done(*pending->self, reply);
            }
            if (reply != nullptr) {
                g_variant_unref(reply);
            }
            g_clear_error(&error);
            delete pending;
        },
        new PendingCall{this, done});
}

void KdeKeyboardLayout::onSignal(GDBusConnection*, const char*, const char*, const char*,
                                 const char* name, GVariant* parameters, void* data) {
    auto& self = *static_cast<KdeKeyboardLayout*>(data);
    if (std::string_view(name) == "layoutChanged") {
        if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(u)"))) {
            std::uint32_t group = 0;
            g_variant_get(parameters, "(u)", &group);
            self.publishGroup(group);
        }
        return;
    }
    self.refresh(); // reloadConfig, layoutListChanged
}

void KdeKeyboardLayout::onServiceAppeared(GDBusConnection*, const char*, const char*, void* data) {
    auto& self = *static_cast<KdeKeyboardLayout*>(data);
    self.servicePresent_ = true;
    self.refresh();
}

void KdeKeyboardLayout::onServiceVanished(GDBusConnection*, const char*, void* data) {
    auto& self = *static_cast<KdeKeyboardLayout*>(data);
    self.servicePresent_ = false;
    self.refresh();
}

} // namespace tarnell::layout
