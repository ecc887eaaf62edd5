#include "engine/AppActivation.h"
#include "platform/linux/workspace/DesktopEntries.h"
#include "platform/linux/workspace/LinuxWorkspace.h"
#include "platform/linux/workspace/MainLoopPump.h"
#include "platform/linux/workspace/TestDesktopEntries.h"
#include "platform/linux/workspace/WlrootsBackend.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
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

private:
    pid_t pid_ = 0;
};

// The application IDs sway keeps in its scratchpad.
std::vector<std::string> scratchpadAppIds() {
    std::unique_ptr<FILE, decltype(&pclose)> pipe(popen("swaymsg -r -t get_tree", "r"), &pclose);
    std::string text;
    char buffer[4096];
    while (pipe && std::fgets(buffer, sizeof(buffer), pipe.get()) != nullptr) {
        text += buffer;
    }
    std::vector<std::string> ids;
    const auto tree = nlohmann::json::parse(text, nullptr, false);
    if (tree.is_discarded()) {
        return ids;
    }
    for (const auto& output : tree.value("nodes", nlohmann::json::array())) {
        for (const auto& workspace : output.value("nodes", nlohmann::json::array())) {
            if (workspace.value("name", "") != "__i3_scratch") {
                continue;
            }
            for (const auto& node : workspace.value("floating_nodes", nlohmann::json::array())) {
                if (node.contains("app_id") && node["app_id"].is_string()) {
                    ids.push_back(node["app_id"]);
                }
            }
        }
    }
    return ids;
}

bool inScratchpad(const std::string& appId) {
    const auto ids = scratchpadAppIds();
    return std::find(ids.begin(), ids.end(), appId) != ids.end();
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
    }
    static void TearDownTestSuite() { delete entries_; }

    void SetUp() override {
        workspace_ = std::make_unique<LinuxWorkspace>();
        ASSERT_EQ(workspace_->backend(), LinuxWorkspace::Backend::Wlroots);
    }

    void TearDown() override {
        windows_.clear();
        runUntil([this] { return !workspace_->frontmostApplication(); });
        workspace_.reset();
    }

    void openWindow(const std::string& appId) {
        windows_.push_back(std::make_unique<TestWindow>(appId));
        EXPECT_TRUE(runUntil([&] { return frontmostIs(appId); }))
            << appId << " never got the focus";
    }

    bool frontmostIs(const std::string& appId) {
        const auto front = workspace_->frontmostApplication();
        return front && front->identifier == appId + ".desktop";
    }

    static inline TestDesktopEntries* entries_ = nullptr;
    static inline std::string alpha_, beta_, recorder_;
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
