// The settings window's notice and the workspace against a real GNOME Shell that
// has Tarnell's extension but keeps it turned off (gnome-session-setup with
// TARNELL_GNOME_EXTENSION=off): turning it on from the notice lets the extension
// take over at once, and once the shell no longer has it, the notice asks for a
// new login.
#include "app/DesktopExtensionNotice.h"
#include "platform/linux/gnome/SessionDesktopExtension.h"
#include "platform/linux/workspace/LinuxWorkspace.h"
#include "platform/linux/workspace/MainLoopPump.h"
#include "platform/linux/workspace/TestWindowProcess.h"
#include "support/QtApplication.h"

#include <QLabel>
#include <QPushButton>
#include <cstdlib>
#include <gio/gio.h>
#include <gtest/gtest.h>

namespace tarnell::platform {
namespace {

using testing::runFor;
using testing::runUntil;

bool frontmostIs(LinuxWorkspace& workspace, const char* desktopId) {
    const auto front = workspace.frontmostApplication();
    return front && front->identifier == desktopId;
}

bool shows(const app::DesktopExtensionNotice& notice, const char* words, bool button) {
    return !notice.isHidden() && notice.explanation()->text().contains(QLatin1String(words)) &&
           notice.enableButton()->isVisibleTo(&notice) == button;
}

TEST(GnomeExtensionNoticeTest, AppearsUntilTheExtensionRunsWhichTakesOverAtOnce) {
    tarnell::testing::qtApplication();
    setenv("XDG_DATA_HOME",
           (std::string(std::getenv("TARNELL_DESKTOP_HOME")) + "/.local/share").c_str(), 1);
    const auto extension = gnome::desktopExtensionForSession();
    ASSERT_NE(extension, nullptr) << "a GNOME session without the extension's status";
    app::DesktopExtensionNotice notice(*extension);
    LinuxWorkspace workspace;
    ASSERT_EQ(workspace.backend(), LinuxWorkspace::Backend::GnomeShell);

    EXPECT_TRUE(runUntil([&] { return shows(notice, "Turn on", true); }, 10000))
        << "notice: " << notice.explanation()->text().toStdString();
    // Until the extension runs, nothing is known of the windows: launching only.
    testing::TestWindowProcess alpha("test.alpha", 1);
    runFor(1000);
    EXPECT_EQ(workspace.frontmostApplication(), std::nullopt);

    notice.enableButton()->click();
    EXPECT_TRUE(runUntil([&] { return notice.isHidden(); }));
    EXPECT_TRUE(runUntil([&] { return frontmostIs(workspace, "test.alpha.desktop"); }));

    // Gone from the shell, as before the first login after installing.
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions",
        "UninstallExtension", g_variant_new("(s)", TARNELL_GNOME_EXTENSION_UUID), nullptr,
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    ASSERT_NE(reply, nullptr);
    g_variant_unref(reply);
    g_object_unref(bus);
    EXPECT_TRUE(runUntil([&] { return shows(notice, "Log out and back in", false); }))
        << "notice: " << notice.explanation()->text().toStdString();
    EXPECT_TRUE(runUntil([&] { return !workspace.frontmostApplication(); }));
}

} // namespace
} // namespace tarnell::platform
