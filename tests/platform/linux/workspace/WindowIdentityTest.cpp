#include "platform/linux/workspace/WindowIdentity.h"

#include "platform/linux/workspace/AppLauncher.h"
#include "platform/linux/workspace/SwayIpc.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace std::string_literals;
using namespace std::string_view_literals;

namespace tarnell::platform {
namespace {

std::string fixture(const std::string& name) {
    std::ifstream in(std::string(WORKSPACE_FIXTURES) + "/" + name);
    EXPECT_TRUE(in) << name;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

DesktopCatalog sampleCatalog() {
    DesktopCatalog catalog;
    catalog.add("org.gnome.Nautilus.desktop", "");
    catalog.add("firefox-esr.desktop", "Firefox-esr");
    catalog.add("code.desktop", "Code");
    catalog.add("Gimp.desktop", "");
    catalog.add("gimp.desktop", "");
    catalog.add("org.kde.konsole.desktop", "konsole");
    catalog.add("my-tool.desktop", "");
    catalog.add("kde-apps-kwrite.desktop", "");
    return catalog;
}

TEST(DesktopCatalogTest, MatchesIdsAndStartupClassesExactlyBeforeIgnoringCase) {
    const auto catalog = sampleCatalog();
    EXPECT_EQ(catalog.match("org.gnome.Nautilus"), "org.gnome.Nautilus.desktop");
    EXPECT_EQ(catalog.match("org.gnome.Nautilus.desktop"), "org.gnome.Nautilus.desktop");
    EXPECT_EQ(catalog.match("/usr/share/applications/org.gnome.Nautilus.desktop"),
              "org.gnome.Nautilus.desktop");
    EXPECT_EQ(catalog.match("Firefox-esr"), "firefox-esr.desktop");
    EXPECT_EQ(catalog.match("Code"), "code.desktop");
    // Exact first: two entries that differ in case stay apart.
    EXPECT_EQ(catalog.match("Gimp"), "Gimp.desktop");
    EXPECT_EQ(catalog.match("gimp"), "gimp.desktop");
    // Then ignoring case, against StartupWMClass and against the IDs.
    EXPECT_EQ(catalog.match("KONSOLE"), "org.kde.konsole.desktop");
    EXPECT_EQ(catalog.match("ORG.GNOME.NAUTILUS"), "org.gnome.Nautilus.desktop");
    EXPECT_EQ(catalog.match("firefox-ESR"), "firefox-esr.desktop");
    EXPECT_EQ(catalog.match("xterm"), std::nullopt);
    EXPECT_EQ(catalog.match(""), std::nullopt);
}

TEST(DesktopCatalogTest, FirstEntryOfAnIdWins) {
    DesktopCatalog catalog;
    catalog.add("app.desktop", "First");
    catalog.add("app.desktop", "Second");
    EXPECT_EQ(catalog.match("First"), "app.desktop");
    EXPECT_EQ(catalog.match("Second"), std::nullopt);
}

TEST(DesktopIdForPathTest, RelativePathBelowTheApplicationDirectoryWithDashes) {
    const std::vector<std::string> dirs{"/home/u/.local/share/applications",
                                        "/usr/share/applications/"};
    EXPECT_EQ(desktopIdForPath("/usr/share/applications/org.gnome.Nautilus.desktop", dirs),
              "org.gnome.Nautilus.desktop");
    EXPECT_EQ(desktopIdForPath("/usr/share/applications/kde-apps/kwrite.desktop", dirs),
              "kde-apps-kwrite.desktop");
    EXPECT_EQ(desktopIdForPath("/home/u/.local/share/applications/x.desktop", dirs), "x.desktop");
    // Outside every application directory the file name stands for the ID.
    EXPECT_EQ(desktopIdForPath("/opt/tool/share/tool.desktop", dirs), "tool.desktop");
    EXPECT_EQ(desktopIdForPath("/usr/share/applications-old/y.desktop", dirs), "y.desktop");
}

TEST(LaunchedDesktopFileTest, OnlyForTheProcessTheLauncherRecorded) {
    const auto environ = "HOME=/home/u\0GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/"
                         "code.desktop\0GIO_LAUNCHED_DESKTOP_FILE_PID=4242\0LANG=C\0"s;
    EXPECT_EQ(launchedDesktopFile(environ, 4242), "/usr/share/applications/code.desktop");
    // A child that inherited the variables is not the launched program.
    EXPECT_EQ(launchedDesktopFile(environ, 4243), std::nullopt);
    EXPECT_EQ(launchedDesktopFile("GIO_LAUNCHED_DESKTOP_FILE=/a.desktop\0"s, 1), std::nullopt);
    EXPECT_EQ(launchedDesktopFile("GIO_LAUNCHED_DESKTOP_FILE=/a.desktop\0"
                                  "GIO_LAUNCHED_DESKTOP_FILE_PID=12x\0"s,
                                  12),
              std::nullopt);
    EXPECT_EQ(launchedDesktopFile("", 1), std::nullopt);
}

TEST(DesktopIdFromCgroupTest, ReadsTheApplicationUnit) {
    EXPECT_EQ(desktopIdFromCgroup(fixture("cgroup-gnome")), "org.gnome.Nautilus.desktop");
    EXPECT_EQ(desktopIdFromCgroup(fixture("cgroup-flatpak")), "org.mozilla.firefox.desktop");
    EXPECT_EQ(desktopIdFromCgroup(fixture("cgroup-kde-hybrid")), "org.kde.konsole.desktop");
    EXPECT_EQ(desktopIdFromCgroup(fixture("cgroup-escaped")), "my-tool.desktop");
    EXPECT_EQ(desktopIdFromCgroup(fixture("cgroup-autostart")), "org.gnome.Calculator.desktop");
    EXPECT_EQ(desktopIdFromCgroup(fixture("cgroup-session")), std::nullopt);
}

TEST(DesktopIdFromCgroupTest, RejectsMalformedUnits) {
    EXPECT_EQ(desktopIdFromCgroup("0::/app.slice/app-a-b-c-d.scope\n"), std::nullopt);
    EXPECT_EQ(desktopIdFromCgroup("0::/app.slice/app-x-.scope\n"), std::nullopt);
    EXPECT_EQ(desktopIdFromCgroup("0::/app.slice/app-bad\\x2-1.scope\n"), std::nullopt);
    EXPECT_EQ(desktopIdFromCgroup("0::/app.slice/app-bad\\x-1.scope\n"), std::nullopt);
    EXPECT_EQ(desktopIdFromCgroup("0::/app.slice/application.scope\n"), std::nullopt);
}

TEST(EscapeUnitNamePartTest, RoundTripsThroughTheCgroupReader) {
    EXPECT_EQ(escapeUnitNamePart("my-tool"), "my\\x2dtool");
    EXPECT_EQ(escapeUnitNamePart(".hidden"), "\\x2ehidden");
    EXPECT_EQ(escapeUnitNamePart("org.gnome.Nautilus"), "org.gnome.Nautilus");
    EXPECT_EQ(escapeUnitNamePart("a b/é"), "a\\x20b\\x2f\\xc3\\xa9");
    for (const auto* id :
         {"my-tool.desktop", "org.kde.konsole.desktop", "x y-z.desktop", "tool:2.desktop"}) {
        const auto cgroup = "0::/user.slice/app.slice/" + launchScopeName(id, 77) + "\n";
        EXPECT_EQ(desktopIdFromCgroup(cgroup), id) << cgroup;
    }
}

TEST(WindowIdentifierTest, HintThenClassThenProcess) {
    const auto catalog = sampleCatalog();
    const WindowIdentifier identifier(catalog, {"/usr/share/applications"});
    int processReads = 0;
    auto readProcess = [&](pid_t pid) {
        ++processReads;
        EXPECT_EQ(pid, 300);
        return ProcessFiles{"GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/code.desktop\0"
                            "GIO_LAUNCHED_DESKTOP_FILE_PID=300\0"s,
                            fixture("cgroup-gnome")};
    };
    // The hint wins over the class names.
    EXPECT_EQ(identifier.identify({"org.gnome.Nautilus", "gimp", "Gimp", 300}, readProcess),
              "org.gnome.Nautilus.desktop");
    // The instance before the class.
    EXPECT_EQ(identifier.identify({"", "gimp", "Code", 300}, readProcess), "gimp.desktop");
    EXPECT_EQ(identifier.identify({"unknown.app", "x", "Code", 300}, readProcess), "code.desktop");
    EXPECT_EQ(processReads, 0);
    // Nothing known by name: the launcher's record.
    EXPECT_EQ(identifier.identify({"", "x", "y", 300}, readProcess), "code.desktop");
    EXPECT_EQ(processReads, 1);
    EXPECT_EQ(identifier.identify({"", "x", "y", 0}, readProcess), std::nullopt);
    EXPECT_EQ(processReads, 1);
}

TEST(WindowIdentifierTest, ProcessRecordsMustNameInstalledEntries) {
    const auto catalog = sampleCatalog();
    const WindowIdentifier identifier(catalog, {"/usr/share/applications"});
    // The launcher record names no installed entry; the scope does.
    EXPECT_EQ(identifier.identifyFromProcess(5, {"GIO_LAUNCHED_DESKTOP_FILE=/tmp/gone.desktop\0"
                                                 "GIO_LAUNCHED_DESKTOP_FILE_PID=5\0"s,
                                                 fixture("cgroup-kde-hybrid")}),
              "org.kde.konsole.desktop");
    EXPECT_EQ(identifier.identifyFromProcess(5, {"", fixture("cgroup-flatpak")}), std::nullopt);
    EXPECT_EQ(identifier.identifyFromProcess(5, {"", fixture("cgroup-escaped")}),
              "my-tool.desktop");
    EXPECT_EQ(identifier.identifyFromProcess(5, {}), std::nullopt);
}

TEST(SwayIpcTest, FramesMessagesAndCriteria) {
    const auto message = swayIpcMessage(0, "focus");
    ASSERT_EQ(message.size(), 6u + 4u + 4u + 5u);
    EXPECT_EQ(message.substr(0, 6), "i3-ipc");
    std::uint32_t length = 0;
    std::uint32_t type = 99;
    std::memcpy(&length, message.data() + 6, 4);
    std::memcpy(&type, message.data() + 10, 4);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(type, 0u);
    EXPECT_EQ(message.substr(14), "focus");
}

} // namespace
} // namespace tarnell::platform
