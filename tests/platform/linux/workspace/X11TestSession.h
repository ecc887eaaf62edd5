#pragma once

#include <cstdint>
#include <string>
#include <vector>
#include <xcb/xcb.h>

// The test's own X client: makes windows that carry identity hints, and reads what
// the window manager did to them.
namespace tarnell::platform::testing {

struct NewWindow {
    std::string wmInstance;
    std::string wmClass;
    std::string gtkApplicationId; // empty: not set
    std::uint32_t pid = 0;        // 0: not set
    std::string windowType = {};  // e.g. "_NET_WM_WINDOW_TYPE_DESKTOP"; empty: not set
};

class X11TestClient {
public:
    X11TestClient();
    ~X11TestClient();
    X11TestClient(const X11TestClient&) = delete;
    X11TestClient& operator=(const X11TestClient&) = delete;

    xcb_window_t createWindow(const NewWindow& properties);
    void destroyWindow(xcb_window_t window);
    void destroyAll();

    xcb_window_t activeWindow();
    bool isIconic(xcb_window_t window);
    // Minimises the window, as the application itself would when the user asks.
    void iconify(xcb_window_t window);
    // Sends a startup-notification message to everyone, as a launched program does.
    void broadcastStartupMessage(const std::string& message);

    // Asks the window manager to move the window to another desktop, as a pager would.
    void moveToDesktop(xcb_window_t window, std::uint32_t desktop);
    // Asks the window manager to give the window the focus, as a pager would.
    void requestActivation(xcb_window_t window);
    std::uint32_t currentDesktop();

private:
    xcb_atom_t atom(const char* name);
    void sendToRoot(xcb_client_message_event_t message, std::uint32_t eventMask);
    std::uint32_t rootCardinal(const char* name);
    xcb_connection_t* connection_;
    xcb_screen_t* screen_;
    std::vector<xcb_window_t> windows_;
};

} // namespace tarnell::platform::testing
