#include "platform/linux/workspace/X11Backend.h"

#include "platform/linux/workspace/DesktopEntries.h"
#include "platform/linux/workspace/StartupNotification.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unistd.h>
#include <xcb/xcb_icccm.h>

namespace tarnell::platform {
namespace {

constexpr std::uint32_t iconicState = 3;
constexpr std::uint32_t allDesktops = 0xFFFFFFFF;
// Startup-notification messages come in pieces of 20 bytes. The ones we read are short;
// what is kept of longer ones, and of senders that never finish, is bounded.
constexpr std::size_t startupPieceSize = 20;
constexpr std::size_t longestStartupMessage = 4096;
constexpr std::size_t mostStartupSenders = 16;

xcb_atom_t internAtom(xcb_connection_t* connection, std::string_view name) {
    const auto cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data());
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : XCB_NONE;
}

std::string textProperty(xcb_connection_t* connection, xcb_get_property_cookie_t cookie) {
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection, cookie, nullptr), &std::free);
    if (!reply || reply->format != 8) {
        return {};
    }
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
    std::string text(data, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
    text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
    return text;
}

} // namespace

std::unique_ptr<X11Backend> X11Backend::connect(const char* display,
                                                const WindowIdentifier& identifier) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(display, &screenNumber);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<X11Backend>(new X11Backend(connection, screenNumber, identifier));
}

X11Backend::X11Backend(xcb_connection_t* connection, int screenNumber,
                       const WindowIdentifier& identifier)
    : connection_(connection), screenNumber_(screenNumber), identifier_(identifier) {
    xcb_ewmh_init_atoms_replies(&ewmh_, xcb_ewmh_init_atoms(connection_, &ewmh_), nullptr);
    root_ = ewmh_.screens[screenNumber_]->root;
    internAtoms();

    const std::uint32_t rootEvents = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &rootEvents);
    // A window of our own whose property changes tell the server's time.
    timeWindow_ = xcb_generate_id(connection_);
    xcb_create_window(connection_, 0, timeWindow_, root_, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      &rootEvents);

    readCurrentDesktop();
    readClientList();
    readActiveWindow();
    xcb_flush(connection_);
    events_ = std::make_unique<XcbEventSource>(connection_, [this] { return processEvents(); });
}

X11Backend::~X11Backend() {
    events_.reset();
    xcb_ewmh_connection_wipe(&ewmh_);
    xcb_disconnect(connection_);
}

void X11Backend::internAtoms() {
    gtkApplicationId_ = internAtom(connection_, "_GTK_APPLICATION_ID");
    kdeDesktopFile_ = internAtom(connection_, "_KDE_NET_WM_DESKTOP_FILE");
    wmChangeState_ = internAtom(connection_, "WM_CHANGE_STATE");
    wmState_ = internAtom(connection_, "WM_STATE");
    startupInfoBegin_ = internAtom(connection_, "_NET_STARTUP_INFO_BEGIN");
    startupInfo_ = internAtom(connection_, "_NET_STARTUP_INFO");
    timeProbe_ = internAtom(connection_, "_TARNELL_TIME_PROBE");
}

bool X11Backend::processEvents() {
    // Replies read while handling one event may queue more; handle them all.
    while (xcb_generic_event_t* event = events_->next()) {
        const auto type = event->response_type & 0x7f;
        if (type == XCB_PROPERTY_NOTIFY) {
            handlePropertyNotify(*reinterpret_cast<xcb_property_notify_event_t*>(event));
        } else if (type == XCB_DESTROY_NOTIFY) {
            forget(reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window);
        } else if (type == XCB_CLIENT_MESSAGE) {
            // Broadcast to the root window, which we watch for property changes.
            handleStartupInfo(*reinterpret_cast<xcb_client_message_event_t*>(event));
        }
        std::free(event);
    }
    xcb_flush(connection_);
    if (xcb_connection_has_error(connection_) != 0) {
        // Nobody will answer any more: launch without a fresh time rather than never.
        auto waiting = std::move(waitingForTime_);
        for (auto& then : waiting) {
            then(lastTime_);
        }
        return false;
    }
    return true;
}

void X11Backend::handlePropertyNotify(const xcb_property_notify_event_t& event) {
    lastTime_ = event.time;
    if (event.window == timeWindow_) {
        if (event.atom == timeProbe_ && !waitingForTime_.empty()) {
            auto then = std::move(waitingForTime_.front());
            waitingForTime_.erase(waitingForTime_.begin());
            then(event.time);
        }
        return;
    }
    if (event.window == root_) {
        if (event.atom == ewmh_._NET_ACTIVE_WINDOW) {
            readActiveWindow();
        } else if (event.atom == ewmh_._NET_CLIENT_LIST_STACKING) {
            readClientList();
        } else if (event.atom == ewmh_._NET_CURRENT_DESKTOP) {
            readCurrentDesktop();
        }
        return;
    }
    const auto it = windows_.find(event.window);
    if (it == windows_.end()) {
        return;
    }
    if (event.atom == wmState_) {
        setIconic(it->second, iconicFrom(xcb_get_property(connection_, 0, event.window, wmState_,
                                                          wmState_, 0, 1)));
    } else if (event.atom == ewmh_._NET_WM_DESKTOP || event.atom == XCB_ATOM_WM_CLASS ||
               event.atom == gtkApplicationId_ || event.atom == kdeDesktopFile_ ||
               event.atom == ewmh_._NET_WM_PID || event.atom == ewmh_._NET_WM_WINDOW_TYPE) {
        const auto known = it->second.identity;
        if (!describe(event.window, it->second)) {
            forget(event.window);
        } else if (it->second.identity && it->second.identity != known) {
            reportWindowShown(*it->second.identity);
        }
    }
}

void X11Backend::handleStartupInfo(const xcb_client_message_event_t& message) {
    if ((message.type != startupInfoBegin_ && message.type != startupInfo_) ||
        message.format != 8) {
        return;
    }
    if (startupMessages_.size() >= mostStartupSenders &&
        !startupMessages_.contains(message.window)) {
        startupMessages_.clear(); // senders that never finished
    }
    auto& text = startupMessages_[message.window];
    if (message.type == startupInfoBegin_) {
        text.clear();
    }
    const auto* piece = reinterpret_cast<const char*>(message.data.data8);
    const auto* end = std::find(piece, piece + startupPieceSize, '\0');
    text.append(piece, end);
    const bool finished = end != piece + startupPieceSize;
    if (!finished && text.size() < longestStartupMessage) {
        return;
    }
    const auto whole = std::move(text);
    startupMessages_.erase(message.window);
    if (!finished) {
        return; // too long to be one of ours
    }
    if (const auto id = removedStartupId(whole)) {
        reportLaunchCompleted(*id);
    }
}

void X11Backend::readActiveWindow() {
    xcb_window_t window = XCB_NONE;
    if (xcb_ewmh_get_active_window_reply(&ewmh_, xcb_ewmh_get_active_window(&ewmh_, screenNumber_),
                                         &window, nullptr) == 0) {
        window = XCB_NONE;
    }
    // Described once it appears in the client list; until then it counts as no window.
    active_ = window;
    if (const auto it = windows_.find(window); it != windows_.end()) {
        it->second.lastFocused = ++focusCount_;
    }
}

void X11Backend::readClientList() {
    xcb_ewmh_get_windows_reply_t list;
    if (xcb_ewmh_get_client_list_stacking_reply(
            &ewmh_, xcb_ewmh_get_client_list_stacking(&ewmh_, screenNumber_), &list, nullptr) ==
        0) {
        return;
    }
    std::vector<xcb_window_t> stacking(list.windows, list.windows + list.windows_len);
    xcb_ewmh_get_windows_reply_wipe(&list);
    std::erase_if(windows_, [&stacking](const auto& entry) {
        return std::find(stacking.begin(), stacking.end(), entry.first) == stacking.end();
    });
    // A window we do not know yet is described now. One that was destroyed is
    // forgotten at once (window IDs are reused, and the window manager may list
    // the old window a moment after a new one took its ID); one the window manager
    // still lists though it is gone is left out until it lists a live one.
    std::erase_if(stacking, [this](xcb_window_t window) {
        return !windows_.contains(window) && !track(window);
    });
    stacking_ = std::move(stacking);
}

void X11Backend::forget(xcb_window_t window) {
    if (windows_.erase(window) != 0) {
        std::erase(stacking_, window);
    }
}

void X11Backend::readCurrentDesktop() {
    std::uint32_t desktop = 0;
    if (xcb_ewmh_get_current_desktop_reply(
            &ewmh_, xcb_ewmh_get_current_desktop(&ewmh_, screenNumber_), &desktop, nullptr) != 0) {
        currentDesktop_ = desktop;
    }
}

bool X11Backend::track(xcb_window_t window) {
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &events);
    ClientWindow client;
    if (!describe(window, client)) {
        return false;
    }
    if (window == active_) {
        client.lastFocused = ++focusCount_;
    }
    const auto& tracked = windows_[window] = std::move(client);
    if (tracked.identity) {
        reportWindowShown(*tracked.identity);
    }
    return true;
}

bool X11Backend::describe(xcb_window_t window, ClientWindow& client) {
    // All requests first, then the replies: one wait for the lot.
    const auto classCookie = xcb_icccm_get_wm_class(connection_, window);
    const auto gtkCookie = xcb_get_property(connection_, 0, window, gtkApplicationId_,
                                            XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    const auto kdeCookie = xcb_get_property(connection_, 0, window, kdeDesktopFile_,
                                            XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
    const auto pidCookie = xcb_ewmh_get_wm_pid(&ewmh_, window);
    const auto desktopCookie = xcb_ewmh_get_wm_desktop(&ewmh_, window);
    const auto typeCookie = xcb_ewmh_get_wm_window_type(&ewmh_, window);
    const auto stateCookie = xcb_get_property(connection_, 0, window, wmState_, wmState_, 0, 1);

    WindowHints hints;
    xcb_icccm_get_wm_class_reply_t wmClass;
    xcb_generic_error_t* error = nullptr;
    if (xcb_icccm_get_wm_class_reply(connection_, classCookie, &wmClass, &error) != 0) {
        hints.wmInstance = wmClass.instance_name != nullptr ? wmClass.instance_name : "";
        hints.wmClass = wmClass.class_name != nullptr ? wmClass.class_name : "";
        xcb_icccm_get_wm_class_reply_wipe(&wmClass);
    }
    const bool gone = error != nullptr && error->error_code == XCB_WINDOW;
    std::free(error);
    hints.desktopHint = textProperty(connection_, gtkCookie);
    if (auto kde = textProperty(connection_, kdeCookie); hints.desktopHint.empty()) {
        hints.desktopHint = std::move(kde);
    }
    std::uint32_t pid = 0;
    if (xcb_ewmh_get_wm_pid_reply(&ewmh_, pidCookie, &pid, nullptr) != 0) {
        hints.pid = static_cast<pid_t>(pid);
    }
    std::uint32_t desktop = 0;
    client.desktop = xcb_ewmh_get_wm_desktop_reply(&ewmh_, desktopCookie, &desktop, nullptr) != 0
                         ? desktop
                         : currentDesktop_;
    xcb_ewmh_get_atoms_reply_t types;
    client.normal = true;
    client.background = false;
    if (xcb_ewmh_get_wm_window_type_reply(&ewmh_, typeCookie, &types, nullptr) != 0) {
        const auto* first = types.atoms;
        const auto* last = types.atoms + types.atoms_len;
        const auto has = [&](xcb_atom_t type) { return std::find(first, last, type) != last; };
        client.normal = first == last || has(ewmh_._NET_WM_WINDOW_TYPE_NORMAL);
        client.background =
            has(ewmh_._NET_WM_WINDOW_TYPE_DESKTOP) || has(ewmh_._NET_WM_WINDOW_TYPE_DOCK);
        xcb_ewmh_get_atoms_reply_wipe(&types);
    }
    setIconic(client, iconicFrom(stateCookie));
    if (gone) {
        return false;
    }
    client.hints = std::move(hints);
    client.identity = identify(client.hints);
    return true;
}

bool X11Backend::iconicFrom(xcb_get_property_cookie_t cookie) {
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection_, cookie, nullptr), &std::free);
    return reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) >= 4 &&
           *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get())) == iconicState;
}

void X11Backend::setIconic(ClientWindow& client, bool iconic) {
    // Shown again, whoever did it: no longer one of the windows to bring back.
    if (client.iconic && !iconic) {
        client.hiddenByHide = false;
    }
    client.iconic = iconic;
}

std::optional<std::string> X11Backend::identify(const WindowHints& hints) const {
    return identifier_.identify(hints, [](pid_t pid) { return readProcessFiles(pid); });
}

void X11Backend::reidentifyWindows() {
    for (auto& [window, client] : windows_) {
        const auto known = client.identity;
        client.identity = identify(client.hints);
        if (client.identity && client.identity != known) {
            reportWindowShown(*client.identity);
        }
    }
}

std::optional<engine::RunningApplication> X11Backend::frontmost() const {
    // Some window managers leave a destroyed window as the active one: only a managed
    // window counts. The desktop or a panel having the focus puts no application in
    // front.
    if (active_ == XCB_NONE ||
        std::find(stacking_.begin(), stacking_.end(), active_) == stacking_.end()) {
        return std::nullopt;
    }
    const auto& client = windows_.at(active_);
    if (client.background) {
        return std::nullopt;
    }
    return engine::RunningApplication{client.identity, active_};
}

std::vector<xcb_window_t>
X11Backend::windowsOf(const engine::RunningApplication& application) const {
    const auto handle = static_cast<xcb_window_t>(application.handle);
    // Windows without identity belong together only when one process owns them.
    pid_t ownerPid = 0;
    if (const auto it = windows_.find(handle); it != windows_.end()) {
        ownerPid = it->second.hints.pid;
    }
    std::vector<xcb_window_t> result;
    for (const auto window : stacking_) {
        const auto& client = windows_.at(window);
        const bool same = application.identifier
                              ? client.identity == application.identifier
                              : !client.identity && ownerPid > 0 && client.hints.pid == ownerPid;
        if (same && client.normal) {
            result.push_back(window);
        }
    }
    if (handle != XCB_NONE && std::find(result.begin(), result.end(), handle) == result.end()) {
        result.push_back(handle);
    }
    // The active window goes last: minimised before the others, it would hand the
    // focus to one of them, which would then count as the most recent.
    std::stable_partition(result.begin(), result.end(),
                          [this](xcb_window_t window) { return window != active_; });
    return result;
}

void X11Backend::hide(const engine::RunningApplication& application) {
    for (const auto window : windowsOf(application)) {
        // A window the user had minimised already stays so when the rest comes back.
        if (const auto it = windows_.find(window); it != windows_.end() && !it->second.iconic) {
            it->second.hiddenByHide = true;
        }
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = wmChangeState_;
        message.data.data32[0] = iconicState;
        xcb_send_event(connection_, 0, root_,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
    }
    xcb_flush(connection_);
}

bool X11Backend::raise(const std::string& desktopId) {
    // Least recently focused first; among windows never focused, the lower in the
    // stacking order.
    std::vector<xcb_window_t> own;
    for (const auto window : stacking_) {
        const auto& client = windows_.at(window);
        if (client.normal && client.identity == desktopId) {
            own.push_back(window);
        }
    }
    if (own.empty()) {
        return false;
    }
    std::stable_sort(own.begin(), own.end(), [this](xcb_window_t a, xcb_window_t b) {
        return windows_.at(a).lastFocused < windows_.at(b).lastFocused;
    });
    // In front goes the most recent window that is shown or is coming back; one that
    // the user minimised comes back only when there is no other.
    const auto front = std::find_if(own.rbegin(), own.rend(), [this](xcb_window_t window) {
        const auto& client = windows_.at(window);
        return client.hiddenByHide || !client.iconic;
    });
    const xcb_window_t frontWindow = front != own.rend() ? *front : own.back();
    std::vector<xcb_window_t> order;
    for (const auto window : own) {
        auto& client = windows_.at(window);
        if (client.hiddenByHide && window != frontWindow) {
            order.push_back(window);
        }
        client.hiddenByHide = false;
    }
    order.push_back(frontWindow);
    withServerTime(
        [this, order = std::move(order)](xcb_timestamp_t time) { activate(order, time); });
    return true;
}

void X11Backend::activate(const std::vector<xcb_window_t>& windows, xcb_timestamp_t time) {
    // Activating a minimised window shows it again.
    for (const auto window : windows) {
        const auto it = windows_.find(window);
        if (it == windows_.end()) {
            continue; // gone meanwhile
        }
        const auto desktop = it->second.desktop;
        if (window == windows.back() && desktop != allDesktops && desktop != currentDesktop_) {
            xcb_ewmh_request_change_current_desktop(&ewmh_, screenNumber_, desktop, time);
        }
        xcb_ewmh_request_change_active_window(&ewmh_, screenNumber_, window,
                                              XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, time, active_);
    }
    xcb_flush(connection_);
}

void X11Backend::withServerTime(std::function<void(xcb_timestamp_t)> then) {
    waitingForTime_.push_back(std::move(then));
    // Appending nothing still makes the server report the change with its time.
    xcb_change_property(connection_, XCB_PROP_MODE_APPEND, timeWindow_, timeProbe_, XCB_ATOM_STRING,
                        8, 0, nullptr);
    xcb_flush(connection_);
}

void X11Backend::prepareLaunch(std::function<void(Environment)> ready) {
    const unsigned sequence = ++launchCount_;
    withServerTime([ready = std::move(ready), sequence](xcb_timestamp_t time) {
        // The window manager reads the launch time from the _TIME part of the ID.
        const std::string startupId = "tarnell-" + std::to_string(getpid()) + "-" +
                                      std::to_string(sequence) + "_TIME" + std::to_string(time);
        ready({{"DESKTOP_STARTUP_ID", startupId}});
    });
}

} // namespace tarnell::platform
