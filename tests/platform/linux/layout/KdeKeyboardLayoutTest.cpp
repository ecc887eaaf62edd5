// Against a headless KWin: the user's layouts change as the keyboard settings change
// them (kxkbrc rewritten, then the reloadConfig broadcast) and the active layout as a
// layout switch does, while the input layer runs.
#include "platform/linux/layout/KdeKeyboardLayout.h"

#include "platform/linux/layout/HyperTyping.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gio/gio.h>
#include <gtest/gtest.h>

using namespace tarnell::layout;
using namespace tarnell::layout::testing;
using namespace std::chrono_literals;

namespace {

class KdeKeyboardLayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* home = std::getenv("TARNELL_DESKTOP_HOME");
        ASSERT_NE(home, nullptr) << "runs inside tests/support/run-desktop";
        // Where KWin reads its settings.
        config_ = std::filesystem::path(home) / ".config";
        std::filesystem::create_directories(config_);
        ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
        bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        ASSERT_NE(bus_, nullptr);
    }
    void TearDown() override {
        if (bus_ != nullptr) {
            g_object_unref(bus_);
        }
    }

    // What the keyboard settings do on "Apply".
    void configure(const std::string& layouts, const std::string& variants) {
        std::ofstream(config_ / "kxkbrc")
            << "[Layout]\nLayoutList=" << layouts << "\nVariantList=" << variants << "\nUse=true\n";
        ASSERT_TRUE(g_dbus_connection_emit_signal(bus_, nullptr, "/Layouts", "org.kde.keyboard",
                                                  "reloadConfig", nullptr, nullptr));
    }

    // What a layout switch does; KWin offers it once it has taken two layouts.
    bool activate(std::uint32_t index) {
        return spinUntil(
            [&] {
                GVariant* reply = g_dbus_connection_call_sync(
                    bus_, "org.kde.keyboard", "/Layouts", "org.kde.KeyboardLayouts", "setLayout",
                    g_variant_new("(u)", index), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
                    1000, nullptr, nullptr);
                gboolean done = FALSE;
                if (reply != nullptr) {
                    g_variant_get(reply, "(b)", &done);
                    g_variant_unref(reply);
                }
                return done != FALSE;
            },
            15s);
    }

    std::filesystem::path config_;
    GDBusConnection* bus_ = nullptr;
};

} // namespace

TEST_F(KdeKeyboardLayoutTest, KeyTextFollowsTheConfiguredLayoutsAndTheActiveOne) {
    auto layout = KdeKeyboardLayout::connect();
    ASSERT_NE(layout, nullptr);
    HyperTyping typing(*layout);
    EXPECT_TRUE(typing.typesEventually(KEY_Y, u"y"));

    configure("us,ru", ",");
    ASSERT_TRUE(activate(1));
    EXPECT_TRUE(typing.typesEventually(KEY_S, u"ы"));
    ASSERT_TRUE(activate(0));
    EXPECT_TRUE(typing.typesEventually(KEY_S, u"s"));

    // One layout again (KWin 5 then withdraws its service), with a variant.
    configure("de", "nodeadkeys");
    EXPECT_TRUE(typing.typesEventually(KEY_Y, u"z"));
    EXPECT_TRUE(typing.typesEventually(KEY_EQUAL, u"\u00b4")) << "the variant's text";
}
