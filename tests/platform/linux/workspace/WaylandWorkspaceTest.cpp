#include "engine/AppActivation.h"
#include "platform/linux/workspace/DesktopEntries.h"
#include "platform/linux/workspace/LinuxWorkspace.h"
#include "platform/linux/workspace/MainLoopPump.h"
#include "platform/linux/workspace/TestDesktopEntries.h"
#include "platform/linux/workspace/WlrootsBackend.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace tarnell::platform {
namespace {

using testing::fileUrl;
using testing::runFor;
using testing::runUntil;
using testing::TestDesktopEntries;

// A terminal window with the given application ID, closed when this goes.
class TestWindow {
public:
    explicit TestWindow(const std::string& appId) {
        std::vector<std::string> args{"foot", "--app-id", appId, "sleep", "120"};
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, "foot", nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = 0;
        }
    }
    ~TestWindow() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = 0;
};

// A window as sway's tree shows it.
struct SwayWindow {
    std::string appId;
    pid_t pid = 0;
    bool floating = false;
    bool inScratchpad = false;
    bool focused = false;
};

std::vector<SwayWindow> swayWindows() {
    std::unique_ptr<FILE, decltype(&pclose)> pipe(popen("swaymsg -r -t get_tree", "r"), &pclose);
    std::string text;
    char buffer[4096];
    while (pipe && std::fgets(buffer, sizeof(buffer), pipe.get()) != nullptr) {
        text += buffer;
    }
    std::vector<SwayWindow> windows;
    const auto visit = [&](const auto& self, const nlohmann::json& node, bool hidden) -> void {
        hidden = hidden || node.value("name", "") == "__i3_scratch";
        if (node.contains("shell")) {
            windows.push_back({node.value("app_id", ""), node.value("pid", 0),
                               node.value("type", "") == "floating_con", hidden,
                               node.value("focused", false)});
        }
        for (const char* children : {"nodes", "floating_nodes"}) {
            for (const auto& child : node.value(children, nlohmann::json::array())) {
                self(self, child, hidden);
            }
        }
    };
    const auto tree = nlohmann::json::parse(text, nullptr, false);
    if (!tree.is_discarded()) {
        visit(visit, tree, false);
    }
    return windows;
}

bool inScratchpad(const std::string& appId) {
    const auto windows = swayWindows();
    return std::any_of(windows.begin(), windows.end(), [&](const SwayWindow& window) {
        return window.appId == appId && window.inScratchpad;
    });
}

std::optional<SwayWindow> swayWindowOf(pid_t pid) {
    for (const auto& window : swayWindows()) {
        if (window.pid == pid) {
            return window;
        }
    }
    return std::nullopt;
}

std::size_t windowCount(const std::string& appId) {
    const auto windows = swayWindows();
    return static_cast<std::size_t>(
        std::count_if(windows.begin(), windows.end(),
                      [&](const SwayWindow& window) { return window.appId == appId; }));
}

// A command to sway, as the user would give it.
void swaymsg(const std::string& command) {
    const auto line = "swaymsg '" + command + "' >/dev/null 2>&1";
    (void)std::system(line.c_str());
}

class WaylandWorkspaceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        entries_ = new TestDesktopEntries;
        auto& e = *entries_;
        alpha_ = e.addEntry(e.firstDataDir(), "test.alpha.desktop", "foot --app-id test.alpha");
        beta_ = e.addEntry(e.firstDataDir(), "test.beta.desktop", "foot --app-id test.beta");
        const auto record = e.addLaunchRecorder();
        recorder_ = e.addEntry(e.firstDataDir(), "test.recorder.desktop",
                               record + " " + e.root() + "/recorder-launched");
        counted_ = e.addEntry(e.firstDataDir(), "test.counted.desktop",
                              e.addLaunchCounter() + " " + e.root() +
                                  "/counted-launches foot --app-id test.counted sleep 120");
    }
    static void TearDownTestSuite() { delete entries_; }

    void SetUp() override {
        workspace_ = std::make_unique<LinuxWorkspace>();
        ASSERT_EQ(workspace_->backend(), LinuxWorkspace::Backend::Wlroots);
    }

    void TearDown() override {
        windows_.clear();
        swaymsg("[app_id=test.counted] kill"); // launched by the workspace
        runUntil([this] { return !workspace_->frontmostApplication(); });
        workspace_.reset();
    }

    pid_t openWindow(const std::string& appId) {
        windows_.push_back(std::make_unique<TestWindow>(appId));
        const auto pid = windows_.back()->pid();
        EXPECT_TRUE(runUntil([&] {
            const auto window = swayWindowOf(pid);
            return frontmostIs(appId) && window && window->focused;
        })) << appId
            << " never got the focus";
        return pid;
    }

    bool frontmostIs(const std::string& appId) {
        const auto front = workspace_->frontmostApplication();
        return front && front->identifier == appId + ".desktop";
    }

    static inline TestDesktopEntries* entries_ = nullptr;
    static inline std::string alpha_, beta_, recorder_, counted_;
    std::unique_ptr<LinuxWorkspace> workspace_;
    std::vector<std::unique_ptr<TestWindow>> windows_;
};

TEST_F(WaylandWorkspaceTest, ListsTheApplicationIdsOfTheWindows) {
    openWindow("test.alpha");
    openWindow("test.beta");
    const auto catalog = loadDesktopCatalog();
    const WindowIdentifier identifier(catalog, applicationDirectories());
    const auto backend = WlrootsBackend::connect(nullptr, identifier);
    ASSERT_NE(backend, nullptr);
    auto ids = backend->applicationIds();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"test.alpha", "test.beta"}));
    ASSERT_TRUE(backend->frontmost());
    EXPECT_EQ(backend->frontmost()->identifier, "test.beta.desktop");
}

TEST_F(WaylandWorkspaceTest, FrontmostFollowsTheFocus) {
    openWindow("test.alpha");
    openWindow("test.beta");
    ASSERT_TRUE(frontmostIs("test.beta"));
    // A window no entry stands for is an application without identifier.
    windows_.push_back(std::make_unique<TestWindow>("unknown.app"));
    EXPECT_TRUE(runUntil([this] {
        const auto front = workspace_->frontmostApplication();
        return front && !front->identifier;
    }));
}

TEST_F(WaylandWorkspaceTest, ActivatesTheBoundApplication) {
    openWindow("test.alpha");
    openWindow("test.beta");
    engine::activateApp(*workspace_, true, fileUrl(alpha_));
    EXPECT_TRUE(runUntil([this] { return frontmostIs("test.alpha"); }));
}

TEST_F(WaylandWorkspaceTest, HidesInTheScratchpadAndBringsBack) {
    openWindow("test.beta");
    openWindow("test.alpha");
    engine::activateApp(*workspace_, true, fileUrl(alpha_));
    EXPECT_TRUE(runUntil([] { return inScratchpad("test.alpha"); }));
    EXPECT_TRUE(runUntil([this] { return !frontmostIs("test.alpha"); }));
    EXPECT_FALSE(inScratchpad("test.beta"));

    engine::activateApp(*workspace_, true, fileUrl(alpha_));
    EXPECT_TRUE(runUntil([this] { return frontmostIs("test.alpha"); }));
    EXPECT_FALSE(inScratchpad("test.alpha"));
}

TEST_F(WaylandWorkspaceTest, ComesBackWholeWithTheMostRecentWindowFocusedAndAsItWas) {
    const auto tiled = openWindow("test.alpha");
    const auto floating = openWindow("test.alpha");
    // The user floats the newer window and then goes back to the older one.
    swaymsg("[pid=" + std::to_string(floating) + "] floating enable");
    swaymsg("[pid=" + std::to_string(tiled) + "] focus");
    ASSERT_TRUE(runUntil([&] {
        const auto window = swayWindowOf(tiled);
        return window && window->focused && swayWindowOf(floating)->floating;
    }));

    engine::activateApp(*workspace_, true, fileUrl(alpha_));
    ASSERT_TRUE(runUntil(
        [&] { return swayWindowOf(tiled)->inScratchpad && swayWindowOf(floating)->inScratchpad; }));
    ASSERT_TRUE(runUntil([this] { return !frontmostIs("test.alpha"); }));

    engine::activateApp(*workspace_, true, fileUrl(alpha_));
    EXPECT_TRUE(runUntil([&] {
        return !swayWindowOf(tiled)->inScratchpad && !swayWindowOf(floating)->inScratchpad;
    }));
    EXPECT_TRUE(runUntil([&] { return swayWindowOf(tiled)->focused; }))
        << "the older window, focused last, is not in front";
    EXPECT_FALSE(swayWindowOf(tiled)->floating);
    EXPECT_TRUE(swayWindowOf(floating)->floating);
}

TEST_F(WaylandWorkspaceTest, HidingFollowsWhatSwayDoesToTheWindows) {
    openWindow("test.alpha");
    engine::activateApp(*workspace_, true, fileUrl(alpha_));
    ASSERT_TRUE(runUntil([] { return inScratchpad("test.alpha"); }));

    // The user brings it back with sway's own command; the chord hides it again.
    swaymsg("scratchpad show");
    ASSERT_TRUE(runUntil([this] { return frontmostIs("test.alpha"); }));
    engine::activateApp(*workspace_, true, fileUrl(alpha_));
    EXPECT_TRUE(runUntil([] { return inScratchpad("test.alpha"); }))
        << "not hidden after the user's scratchpad show";

    // The application exits while hidden and is started again; its new window hides.
    windows_.clear();
    ASSERT_TRUE(runUntil([] { return windowCount("test.alpha") == 0; }));
    openWindow("test.alpha");
    engine::activateApp(*workspace_, true, fileUrl(alpha_));
    EXPECT_TRUE(runUntil([] { return inScratchpad("test.alpha"); }))
        << "not hidden after it was started again";
}

TEST_F(WaylandWorkspaceTest, ALaunchUnderWayCountsAsRunningUntilItsWindowShows) {
    const auto launches = [] { return testing::readLines(entries_->root() + "/counted-launches"); };
    // Pressing again and again until the window is up launches once. The deadline is
    // well within the time a launch is waited for.
    const auto pressUntilShown = [&](std::size_t count) {
        const bool shown = runUntil(
            [&] {
                engine::activateApp(*workspace_, false, fileUrl(counted_));
                return frontmostIs("test.counted");
            },
            3000);
        runFor(300);
        return shown && launches().size() == count && windowCount("test.counted") == 1;
    };
    EXPECT_TRUE(pressUntilShown(1)) << launches().size() << " launches";
    EXPECT_NE(launches().front(), "") << "launched without an activation token";

    // Once its window is closed, the next press launches it again.
    swaymsg("[app_id=test.counted] kill");
    ASSERT_TRUE(runUntil([] { return windowCount("test.counted") == 0; }));
    EXPECT_TRUE(pressUntilShown(2)) << launches().size() << " launches";
}

TEST_F(WaylandWorkspaceTest, NeverHidesWithTheSettingOff) {
    openWindow("test.alpha");
    engine::activateApp(*workspace_, false, fileUrl(alpha_));
    runFor(300);
    EXPECT_TRUE(frontmostIs("test.alpha"));
    EXPECT_FALSE(inScratchpad("test.alpha"));
}

TEST_F(WaylandWorkspaceTest, LaunchesWithAnActivationToken) {
    engine::activateApp(*workspace_, true, fileUrl(recorder_));
    const auto record = entries_->root() + "/recorder-launched";
    ASSERT_TRUE(runUntil([&] { return std::filesystem::exists(record); }));
    std::ifstream in(record);
    std::ostringstream environment;
    environment << in.rdbuf();
    EXPECT_NE(environment.str().find("XDG_ACTIVATION_TOKEN="), std::string::npos);
    EXPECT_EQ(environment.str().find("XDG_ACTIVATION_TOKEN=\n"), std::string::npos);
}

} // namespace
} // namespace tarnell::platform
