// Against a private X server: the layout changes while the input layer runs.
#include "platform/linux/layout/X11KeyboardLayout.h"

#include "platform/linux/layout/HyperTyping.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

// xcb's XKB header, made for C, names a member "explicit".
#define explicit xkbExplicit
#include <xcb/xkb.h>
#undef explicit

using namespace tarnell::layout;
using namespace tarnell::layout::testing;

namespace {

// Locks the core keyboard's group, as a layout switch key does.
bool lockGroup(std::uint8_t group) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    bool locked = false;
    if (xcb_connection_has_error(connection) == 0) {
        auto* extension = xcb_xkb_use_extension_reply(
            connection, xcb_xkb_use_extension(connection, 1, 0), nullptr);
        if (extension != nullptr && extension->supported != 0) {
            xcb_generic_error_t* error = xcb_request_check(
                connection, xcb_xkb_latch_lock_state_checked(connection, XCB_XKB_ID_USE_CORE_KBD, 0,
                                                             0, 1, group, 0, 0, 0));
            locked = error == nullptr;
            std::free(error);
        }
        std::free(extension);
    }
    xcb_disconnect(connection);
    return locked;
}

} // namespace

TEST(X11KeyboardLayout, KeyTextFollowsTheServersKeymapAndLockedGroup) {
    ASSERT_EQ(std::system("setxkbmap us"), 0);
    auto layout = X11KeyboardLayout::connect();
    ASSERT_NE(layout, nullptr);
    HyperTyping typing(*layout);
    EXPECT_TRUE(typing.typesEventually(KEY_Y, u"y"));

    ASSERT_EQ(std::system("setxkbmap de"), 0);
    EXPECT_TRUE(typing.typesEventually(KEY_Y, u"z"));

    ASSERT_EQ(std::system("setxkbmap us,ru"), 0);
    EXPECT_TRUE(typing.typesEventually(KEY_S, u"s"));
    ASSERT_TRUE(lockGroup(1));
    EXPECT_TRUE(typing.typesEventually(KEY_S, u"ы"));
    ASSERT_TRUE(lockGroup(0));
    EXPECT_TRUE(typing.typesEventually(KEY_S, u"s"));
}
