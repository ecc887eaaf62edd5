#include "engine/AppActivation.h"
#include "platform/linux/workspace/LinuxWorkspace.h"
#include "platform/linux/workspace/MainLoopPump.h"
#include "platform/linux/workspace/TestDesktopEntries.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tarnell::platform {
namespace {

using testing::fileUrl;
using testing::runFor;
using testing::runUntil;
using testing::TestDesktopEntries;

// Sessions where no window system is open to us can still launch.
class LaunchOnlyWorkspaceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        entries_ = new TestDesktopEntries;
        auto& e = *entries_;
        const auto record = e.addLaunchRecorder();
        app_ = e.addEntry(e.firstDataDir(), "test.app.desktop",
                          record + " " + e.root() + "/app-launched");
        // Field codes are expanded by GIO, never by a shell.
        quoted_ = e.addEntry(e.firstDataDir(), "test.quoted.desktop",
                             record + " \"" + e.root() + "/semi; echo $HOME\" %U");
        subdirEntry_ = e.firstDataDir() + "/applications/vendor/tool.desktop";
        std::filesystem::create_directories(e.firstDataDir() + "/applications/vendor");
        std::ofstream(subdirEntry_) << "[Desktop Entry]\nType=Application\nName=Tool\nExec=true\n";
    }
    static void TearDownTestSuite() { delete entries_; }

    static bool exists(const std::string& name) {
        return std::filesystem::exists(entries_->root() + "/" + name);
    }

    static inline TestDesktopEntries* entries_ = nullptr;
    static inline std::string app_, quoted_, subdirEntry_;
};

TEST_F(LaunchOnlyWorkspaceTest, HasNoFrontmostApplicationAndLaunches) {
    LinuxWorkspace workspace;
    EXPECT_EQ(workspace.backend(), LinuxWorkspace::Backend::LaunchOnly);
    EXPECT_EQ(workspace.frontmostApplication(), std::nullopt);
    engine::activateApp(workspace, true, fileUrl(app_));
    // Returns at once; the launch happens in the event loop.
    EXPECT_FALSE(exists("app-launched"));
    ASSERT_TRUE(runUntil([] { return exists("app-launched"); }));
    std::ifstream in(entries_->root() + "/app-launched");
    std::ostringstream environment;
    environment << in.rdbuf();
    EXPECT_NE(environment.str().find("GIO_LAUNCHED_DESKTOP_FILE=" + app_), std::string::npos);
}

TEST_F(LaunchOnlyWorkspaceTest, ExecArgumentsReachTheProgramVerbatim) {
    LinuxWorkspace workspace;
    workspace.openApplication(fileUrl(quoted_));
    // One argument, with its semicolon and dollar sign, and nothing for %U.
    EXPECT_TRUE(runUntil([] { return exists("semi; echo $HOME"); }));
}

TEST_F(LaunchOnlyWorkspaceTest, IdsOfEntriesInSubdirectoriesAndElsewhere) {
    LinuxWorkspace workspace;
    EXPECT_EQ(workspace.applicationIdentifierAt(fileUrl(subdirEntry_)), "vendor-tool.desktop");
    const auto outside = entries_->root() + "/loose.desktop";
    std::ofstream(outside) << "[Desktop Entry]\nType=Application\nName=Loose\nExec=true\n";
    EXPECT_EQ(workspace.applicationIdentifierAt(fileUrl(outside)), "loose.desktop");
    std::ofstream(entries_->root() + "/broken.desktop") << "not a key file\n";
    EXPECT_EQ(workspace.applicationIdentifierAt(fileUrl(entries_->root() + "/broken.desktop")),
              std::nullopt);
}

TEST_F(LaunchOnlyWorkspaceTest, ALauncherThatGoesFirstLaunchesNothing) {
    {
        LinuxWorkspace workspace;
        workspace.openApplication(fileUrl(app_));
    }
    std::filesystem::remove(entries_->root() + "/app-launched");
    runFor(200);
    EXPECT_FALSE(exists("app-launched"));
}

} // namespace
} // namespace tarnell::platform
