#include "platform/linux/workspace/X11TestSession.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>
#include <xcb/xcb_icccm.h>

namespace tarnell::platform::testing {
namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

constexpr std::uint32_t toWindowManager =
    XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;

} // namespace

X11TestClient::X11TestClient() : connection_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(connection_) != 0) {
        throw std::runtime_error("no X display");
    }
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
}

X11TestClient::~X11TestClient() {
    destroyAll();
    xcb_disconnect(connection_);
}

xcb_atom_t X11TestClient::atom(const char* name) {
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(
            connection_,
            xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
            nullptr),
        &std::free);
    return reply ? reply->atom : XCB_NONE;
}

xcb_window_t X11TestClient::createWindow(const NewWindow& properties) {
    const xcb_window_t window = xcb_generate_id(connection_);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, screen_->root, 0, 0, 200, 150, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual, 0, nullptr);
    // WM_CLASS is the instance and the class, each ending in a NUL.
    std::string wmClass = properties.wmInstance;
    wmClass += '\0';
    wmClass += properties.wmClass;
    wmClass += '\0';
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS,
                        XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(wmClass.size()),
                        wmClass.data());
    if (!properties.gtkApplicationId.empty()) {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom("_GTK_APPLICATION_ID"),
                            atom("UTF8_STRING"), 8,
                            static_cast<std::uint32_t>(properties.gtkApplicationId.size()),
                            properties.gtkApplicationId.data());
    }
    if (!properties.windowType.empty()) {
        const xcb_atom_t type = atom(properties.windowType.c_str());
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_WINDOW_TYPE"),
                            XCB_ATOM_ATOM, 32, 1, &type);
    }
    if (properties.pid != 0) {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_PID"),
                            XCB_ATOM_CARDINAL, 32, 1, &properties.pid);
    }
    xcb_map_window(connection_, window);
    xcb_flush(connection_);
    windows_.push_back(window);
    return window;
}

void X11TestClient::destroyWindow(xcb_window_t window) {
    xcb_destroy_window(connection_, window);
    xcb_flush(connection_);
    std::erase(windows_, window);
}

void X11TestClient::destroyAll() {
    for (const auto window : windows_) {
        xcb_destroy_window(connection_, window);
    }
    windows_.clear();
    xcb_flush(connection_);
}

xcb_window_t X11TestClient::activeWindow() {
    const auto cookie = xcb_get_property(connection_, 0, screen_->root, atom("_NET_ACTIVE_WINDOW"),
                                         XCB_ATOM_WINDOW, 0, 1);
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, nullptr),
                                          &std::free);
    if (!reply || xcb_get_property_value_length(reply.get()) < 4) {
        return XCB_NONE;
    }
    return *static_cast<xcb_window_t*>(xcb_get_property_value(reply.get()));
}

void X11TestClient::sendToRoot(xcb_client_message_event_t message, std::uint32_t eventMask) {
    message.response_type = XCB_CLIENT_MESSAGE;
    xcb_send_event(connection_, 0, screen_->root, eventMask,
                   reinterpret_cast<const char*>(&message));
    // Once the server answers, the message waits in the window manager's queue ahead
    // of whatever another client (Tarnell) asks after this returns; without the round
    // trip a request sent later on Tarnell's connection may be handled first.
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

void X11TestClient::moveToDesktop(xcb_window_t window, std::uint32_t desktop) {
    xcb_client_message_event_t message{};
    message.format = 32;
    message.window = window;
    message.type = atom("_NET_WM_DESKTOP");
    message.data.data32[0] = desktop;
    message.data.data32[1] = 2; // from a pager
    sendToRoot(message, toWindowManager);
}

void X11TestClient::requestActivation(xcb_window_t window) {
    xcb_client_message_event_t message{};
    message.format = 32;
    message.window = window;
    message.type = atom("_NET_ACTIVE_WINDOW");
    message.data.data32[0] = 2; // from a pager
    message.data.data32[1] = XCB_CURRENT_TIME;
    sendToRoot(message, toWindowManager);
}

void X11TestClient::iconify(xcb_window_t window) {
    xcb_client_message_event_t message{};
    message.format = 32;
    message.window = window;
    message.type = atom("WM_CHANGE_STATE");
    message.data.data32[0] = XCB_ICCCM_WM_STATE_ICONIC;
    sendToRoot(message, toWindowManager);
}

void X11TestClient::broadcastStartupMessage(const std::string& text) {
    // In pieces of 20 bytes, from a window of the sender's own, ending with a NUL.
    const xcb_window_t sender = xcb_generate_id(connection_);
    xcb_create_window(connection_, 0, sender, screen_->root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const std::string whole = text + '\0';
    for (std::size_t at = 0; at < whole.size(); at += 20) {
        xcb_client_message_event_t message{};
        message.format = 8;
        message.window = sender;
        message.type = atom(at == 0 ? "_NET_STARTUP_INFO_BEGIN" : "_NET_STARTUP_INFO");
        whole.copy(reinterpret_cast<char*>(message.data.data8), 20, at);
        sendToRoot(message, XCB_EVENT_MASK_PROPERTY_CHANGE);
    }
    xcb_destroy_window(connection_, sender);
    xcb_flush(connection_);
}

std::uint32_t X11TestClient::currentDesktop() {
    return rootCardinal("_NET_CURRENT_DESKTOP");
}

std::uint32_t X11TestClient::rootCardinal(const char* name) {
    const auto cookie =
        xcb_get_property(connection_, 0, screen_->root, atom(name), XCB_ATOM_CARDINAL, 0, 1);
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, nullptr),
                                          &std::free);
    if (!reply || xcb_get_property_value_length(reply.get()) < 4) {
        return 0xFFFFFFFF;
    }
    return *static_cast<std::uint32_t*>(xcb_get_property_value(reply.get()));
}

bool X11TestClient::isIconic(xcb_window_t window) {
    const auto wmState = atom("WM_STATE");
    const auto cookie = xcb_get_property(connection_, 0, window, wmState, wmState, 0, 2);
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, nullptr),
                                          &std::free);
    if (!reply || xcb_get_property_value_length(reply.get()) < 4) {
        return false;
    }
    return *static_cast<std::uint32_t*>(xcb_get_property_value(reply.get())) ==
           XCB_ICCCM_WM_STATE_ICONIC;
}

} // namespace tarnell::platform::testing
