#include "platform/linux/layout/X11KeyboardLayout.h"

#include <cstdlib>
#include <glib-unix.h>
#include <optional>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>

// xcb's XKB header, made for C, names a member "explicit".
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wkeyword-macro"
#endif
#define explicit xkbExplicit
#include <xcb/xkb.h>
#undef explicit
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

namespace tarnell::layout {
namespace {

// What changes a key's text; changes of anything else (controls, names, bells) are
// not asked for.
constexpr std::uint16_t kEvents = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY |
                                  XCB_XKB_EVENT_TYPE_MAP_NOTIFY | XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
constexpr std::uint16_t kMapParts =
    XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
    XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS |
    XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;

// The head every XKB event shares.
struct XkbEventHead {
    std::uint8_t responseType;
    std::uint8_t xkbType;
    std::uint16_t sequence;
    xcb_timestamp_t time;
    std::uint8_t deviceID;
};

} // namespace

std::unique_ptr<X11KeyboardLayout> X11KeyboardLayout::connect(const char* display) {
    xcb_connection_t* connection = xcb_connect(display, nullptr);
    if (connection == nullptr) {
        return nullptr;
    }
    std::uint8_t xkbEvent = 0;
    std::int32_t device = -1;
    if (xcb_connection_has_error(connection) == 0 &&
        xkb_x11_setup_xkb_extension(
            connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &xkbEvent, nullptr) != 0) {
        device = xkb_x11_get_core_keyboard_device_id(connection);
    }
    if (device < 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    std::unique_ptr<X11KeyboardLayout> layout(new X11KeyboardLayout(connection, device, xkbEvent));
    // Asked for before the layout is read, so that no change falls in between.
    if (!layout->selectEvents()) {
        return nullptr;
    }
    layout->readLayout();
    if (!layout->current().keymap) {
        return nullptr;
    }
    return layout;
}

X11KeyboardLayout::X11KeyboardLayout(xcb_connection_t* connection, std::int32_t device,
                                     std::uint8_t xkbEvent)
    : connection_(connection), device_(device), xkbEvent_(xkbEvent) {
    watch_ = g_unix_fd_add(xcb_get_file_descriptor(connection_),
                           static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                           &X11KeyboardLayout::onReadable, this);
}

X11KeyboardLayout::~X11KeyboardLayout() {
    if (watch_ != 0) {
        g_source_remove(watch_);
    }
    xcb_disconnect(connection_);
}

gboolean X11KeyboardLayout::onReadable(gint, GIOCondition, gpointer data) {
    auto& self = *static_cast<X11KeyboardLayout*>(data);
    self.takeEvents();
    if (xcb_connection_has_error(self.connection_) != 0) {
        // The server went away: the layout stays as it was last.
        self.watch_ = 0;
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

bool X11KeyboardLayout::selectEvents() {
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.affectState = XCB_XKB_STATE_PART_GROUP_LOCK;
    details.stateDetails = XCB_XKB_STATE_PART_GROUP_LOCK;
    const auto cookie =
        xcb_xkb_select_events_aux_checked(connection_, static_cast<xcb_xkb_device_spec_t>(device_),
                                          kEvents, 0, 0, kMapParts, kMapParts, &details);
    xcb_generic_error_t* error = xcb_request_check(connection_, cookie);
    std::free(error);
    return error == nullptr;
}

void X11KeyboardLayout::readLayout() {
    auto keymap = input::XkbKeymap::fromX11Device(connection_, device_);
    xcb_xkb_get_state_reply_t* state = xcb_xkb_get_state_reply(
        connection_, xcb_xkb_get_state(connection_, static_cast<xcb_xkb_device_spec_t>(device_)),
        nullptr);
    const std::uint32_t group = state != nullptr ? state->lockedGroup : 0;
    std::free(state);
    publish({std::move(keymap), group});
}

void X11KeyboardLayout::takeEvents() {
    // A burst (setxkbmap sends several) is read whole and answered once. Reading the
    // keymap waits for replies; events that come meanwhile are queued, and are taken
    // on the next round, as the descriptor no longer shows them.
    for (;;) {
        bool reload = false;
        std::optional<std::uint32_t> lockedGroup;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            const auto* head = reinterpret_cast<const XkbEventHead*>(event);
            if ((event->response_type & 0x7F) == xkbEvent_ && head->deviceID == device_) {
                if (head->xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY ||
                    head->xkbType == XCB_XKB_MAP_NOTIFY) {
                    reload = true;
                } else if (head->xkbType == XCB_XKB_STATE_NOTIFY) {
                    lockedGroup =
                        reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event)->lockedGroup;
                }
            }
            std::free(event);
        }
        if (!reload) {
            if (lockedGroup) {
                publish({current().keymap, *lockedGroup});
            }
            break;
        }
        readLayout(); // the group with it
    }
}

} // namespace tarnell::layout
