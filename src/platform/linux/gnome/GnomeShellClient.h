#pragma once

#include <functional>
#include <gio/gio.h>
#include <optional>
#include <set>
#include <string>
#include <string_view>

// Tarnell's GNOME Shell extension, seen from Tarnell: follows its bus name as it
// appears and goes (the shell loads it at login, turns it off while the screen is
// locked, and the user may turn it off and on), keeps what it reports current from
// its signals after one query, and sends it requests without waiting. Everything it
// reports is checked and bounded (ShellExtensionInterface.h); the extension runs in
// another process and anyone on the bus could claim its name.
//
// Works on the default GLib main context, which Qt's event loop runs.
namespace tarnell::platform::gnome {

class GnomeShellClient {
public:
    struct Focus {
        bool focused = false;                 // an application's window has the focus
        std::optional<std::string> desktopId; // its desktop file ID, when it has one
        bool operator==(const Focus&) const = default;
    };
    // The input source the user types with, as GNOME names it: ("xkb", "de") or
    // ("xkb", "us+intl"), ("ibus", an engine name); empty when not known.
    struct InputSource {
        std::string type;
        std::string id;
        bool operator==(const InputSource&) const = default;
    };

    // Follows the extension on `bus`, a session bus connection (nullptr: it is never
    // active).
    explicit GnomeShellClient(GDBusConnection* bus);
    ~GnomeShellClient();
    GnomeShellClient(const GnomeShellClient&) = delete;
    GnomeShellClient& operator=(const GnomeShellClient&) = delete;

    // The extension runs and what follows is known.
    [[nodiscard]] bool active() const { return active_; }
    [[nodiscard]] const Focus& focus() const { return focus_; }
    // Whether the application has a window.
    [[nodiscard]] bool isRunning(std::string_view desktopId) const;
    // The applications that have a window.
    [[nodiscard]] const std::set<std::string, std::less<>>& running() const { return running_; }
    [[nodiscard]] const InputSource& inputSource() const { return inputSource_; }

    // Brings the application forward whole; nothing happens when it has no window.
    void activate(const std::string& desktopId);
    // Minimises every window of the application; an empty ID stands for the
    // focused application when it has no desktop file.
    void hide(const std::string& desktopId);

    // Called after each change of what is known, including becoming active or not.
    void setOnChange(std::function<void()> changed) { changed_ = std::move(changed); }

private:
    static void onAppeared(GDBusConnection* bus, const gchar* name, const gchar* owner,
                           gpointer self);
    static void onVanished(GDBusConnection* bus, const gchar* name, gpointer self);
    static void onSignal(GDBusConnection* bus, const gchar* sender, const gchar* path,
                         const gchar* interface, const gchar* signal, GVariant* parameters,
                         gpointer self);
    static void onState(GObject* bus, GAsyncResult* result, gpointer self);
    void forget();
    void send(const char* method, const std::string& desktopId);
    void setFocus(gboolean focused, const gchar* desktopId);
    void setRunning(GVariantIter* desktopIds);
    void setInputSource(const gchar* type, const gchar* id);
    void announce() const;

    GDBusConnection* bus_;
    GCancellable* cancellable_ = nullptr; // the state query in flight
    guint watch_ = 0;
    guint subscription_ = 0;
    std::string owner_; // the unique name of the extension's connection
    bool active_ = false;
    Focus focus_;
    std::set<std::string, std::less<>> running_;
    InputSource inputSource_;
    std::function<void()> changed_;
};

} // namespace tarnell::platform::gnome
