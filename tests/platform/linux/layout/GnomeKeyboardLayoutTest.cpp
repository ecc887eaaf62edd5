// Against a headless GNOME Shell with Tarnell's extension: the input source changes
// as GNOME's keyboard settings change it, while the input layer runs.
#include "platform/linux/layout/GnomeKeyboardLayout.h"

#include "platform/linux/layout/HyperTyping.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

using namespace tarnell::layout;
using namespace tarnell::layout::testing;

TEST(GnomeKeyboardLayoutTest, KeyTextFollowsTheInputSource) {
    const char* home = std::getenv("TARNELL_DESKTOP_HOME");
    ASSERT_NE(home, nullptr) << "runs inside tests/support/run-desktop";
    auto layout = GnomeKeyboardLayout::connect();
    ASSERT_NE(layout, nullptr);
    HyperTyping typing(*layout);
    EXPECT_TRUE(typing.typesEventually(KEY_Y, u"y"));

    // What GNOME's keyboard settings do when German is put first; the shell's settings
    // live in a key file in the test session.
    std::ofstream(std::string(home) + "/.config/glib-2.0/settings/keyfile", std::ios::app)
        << "\n[org/gnome/desktop/input-sources]\nsources=[('xkb', 'de'), ('xkb', 'us')]\n";
    EXPECT_TRUE(typing.typesEventually(KEY_Y, u"z"));
}
