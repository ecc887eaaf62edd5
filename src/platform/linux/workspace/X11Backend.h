#pragma once

#include "platform/linux/workspace/WindowBackend.h"
#include "platform/linux/workspace/WindowIdentity.h"
#include "platform/linux/workspace/XcbEventSource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

namespace tarnell::platform {

// Windows of an X11 session with an EWMH window manager. Keeps the client list, the
// active window, each window's identity and whether it is minimised current from
// property changes on the root window and on the clients, and hears launches complete
// through startup notification; its events are read on the default GLib main context.
class X11Backend final : public WindowBackend {
public:
    // nullptr when the display cannot be opened.
    static std::unique_ptr<X11Backend> connect(const char* display,
                                               const WindowIdentifier& identifier);
    ~X11Backend() override;
    X11Backend(const X11Backend&) = delete;
    X11Backend& operator=(const X11Backend&) = delete;

    std::optional<engine::RunningApplication> frontmost() const override;
    void hide(const engine::RunningApplication& application) override;
    bool raise(const std::string& desktopId) override;
    void prepareLaunch(std::function<void(Environment)> ready) override;
    void reidentifyWindows() override;

private:
    struct ClientWindow {
        WindowHints hints;
        std::optional<std::string> identity;
        std::uint32_t desktop = 0;
        bool normal = true;
        bool background = false;       // the desktop or a panel: no application in front
        bool iconic = false;           // minimised, as the window manager says (WM_STATE)
        bool hiddenByHide = false;     // minimised by `hide` and not shown since
        std::uint64_t lastFocused = 0; // 0: never had the focus
    };

    X11Backend(xcb_connection_t* connection, int screenNumber, const WindowIdentifier& identifier);
    void internAtoms();
    bool processEvents();
    void handlePropertyNotify(const xcb_property_notify_event_t& event);
    void handleStartupInfo(const xcb_client_message_event_t& message);
    void readActiveWindow();
    void readClientList();
    void readCurrentDesktop();
    // False when the window no longer exists.
    bool track(xcb_window_t window);
    bool describe(xcb_window_t window, ClientWindow& client);
    static void setIconic(ClientWindow& client, bool iconic);
    bool iconicFrom(xcb_get_property_cookie_t cookie);
    void forget(xcb_window_t window);
    std::optional<std::string> identify(const WindowHints& hints) const;
    // Asks the server for the time now; `then` runs with it once it arrives.
    void withServerTime(std::function<void(xcb_timestamp_t)> then);
    // Activates the windows in turn; the last one ends up in front.
    void activate(const std::vector<xcb_window_t>& windows, xcb_timestamp_t time);
    std::vector<xcb_window_t> windowsOf(const engine::RunningApplication& application) const;

    xcb_connection_t* connection_;
    xcb_ewmh_connection_t ewmh_{};
    int screenNumber_;
    xcb_window_t root_ = XCB_NONE;
    xcb_window_t timeWindow_ = XCB_NONE;
    xcb_atom_t gtkApplicationId_ = XCB_NONE;
    xcb_atom_t kdeDesktopFile_ = XCB_NONE;
    xcb_atom_t wmChangeState_ = XCB_NONE;
    xcb_atom_t wmState_ = XCB_NONE;
    xcb_atom_t startupInfoBegin_ = XCB_NONE;
    xcb_atom_t startupInfo_ = XCB_NONE;
    xcb_atom_t timeProbe_ = XCB_NONE;
    const WindowIdentifier& identifier_;
    std::unordered_map<xcb_window_t, ClientWindow> windows_;
    std::vector<xcb_window_t> stacking_; // bottom to top
    xcb_window_t active_ = XCB_NONE;
    std::uint64_t focusCount_ = 0;
    // Startup-notification messages still arriving in pieces, by the window sending them.
    std::unordered_map<xcb_window_t, std::string> startupMessages_;
    std::uint32_t currentDesktop_ = 0;
    xcb_timestamp_t lastTime_ = XCB_CURRENT_TIME;
    std::vector<std::function<void(xcb_timestamp_t)>> waitingForTime_;
    unsigned launchCount_ = 0;
    std::unique_ptr<XcbEventSource> events_;
};

} // namespace tarnell::platform
