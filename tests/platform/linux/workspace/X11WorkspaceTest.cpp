#include "engine/AppActivation.h"
#include "platform/linux/workspace/LinuxWorkspace.h"
#include "platform/linux/workspace/MainLoopPump.h"
#include "platform/linux/workspace/TestDesktopEntries.h"
#include "platform/linux/workspace/X11TestSession.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <glib.h>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace tarnell::platform {
namespace {

using testing::fileUrl;
using testing::NewWindow;
using testing::runFor;
using testing::runUntil;
using testing::TestDesktopEntries;
using testing::X11TestClient;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class X11WorkspaceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        entries_ = new TestDesktopEntries;
        auto& e = *entries_;
        const auto record = e.addLaunchRecorder();
        alpha_ = e.addEntry(e.firstDataDir(), "test.alpha.desktop",
                            record + " " + e.root() + "/alpha-launched");
        alphaCopy_ = e.addEntry(e.secondDataDir(), "test.alpha.desktop",
                                record + " " + e.root() + "/alpha-copy-launched");
        beta_ = e.addEntry(e.firstDataDir(), "test.beta.desktop",
                           record + " " + e.root() + "/beta-launched", "StartupWMClass=BetaApp\n");
        gammaUpper_ = e.addEntry(e.firstDataDir(), "Case.Gamma.desktop",
                                 record + " " + e.root() + "/gamma-upper-launched");
        gammaLower_ = e.addEntry(e.firstDataDir(), "case.gamma.desktop",
                                 record + " " + e.root() + "/gamma-lower-launched");
        launcher_ = e.addEntry(e.firstDataDir(), "test.launcher.desktop",
                               record + " " + e.root() + "/launcher-launched");
        counted_ = e.addEntry(e.firstDataDir(), "test.counted.desktop",
                              e.addLaunchCounter() + " " + e.root() + "/counted-launches");
        notAnEntry_ = e.root() + "/notes.txt";
        std::ofstream(notAnEntry_) << "[Desktop Entry]\nType=Application\nExec=true\n";
    }
    static void TearDownTestSuite() { delete entries_; }

    void SetUp() override {
        client_ = std::make_unique<X11TestClient>();
        workspace_ = std::make_unique<LinuxWorkspace>();
        ASSERT_EQ(workspace_->backend(), LinuxWorkspace::Backend::X11);
    }

    void TearDown() override {
        client_.reset();
        runUntil([this] { return !workspace_->frontmostApplication(); });
        workspace_.reset();
    }

    xcb_window_t showWindow(const NewWindow& properties) {
        const auto window = client_->createWindow(properties);
        EXPECT_TRUE(runUntil([&] { return isFrontmost(window); }))
            << "window never got the focus; active: " << client_->activeWindow()
            << ", ours: " << window;
        return window;
    }

    bool isFrontmost(xcb_window_t window) {
        const auto front = workspace_->frontmostApplication();
        return front && front->handle == window;
    }

    void activate(bool hidesFrontmostApp, const std::string& path) {
        engine::activateApp(*workspace_, hidesFrontmostApp, fileUrl(path));
    }

    static bool launched(const std::string& name) {
        return std::filesystem::exists(entries_->root() + "/" + name);
    }

    // The identifier of the frontmost application; "(none)" when nothing is in front.
    std::optional<std::string> frontmostIdentifier() {
        const auto front = workspace_->frontmostApplication();
        return front ? front->identifier : std::optional<std::string>("(none)");
    }

    static inline TestDesktopEntries* entries_ = nullptr;
    static inline std::string alpha_, alphaCopy_, beta_, gammaUpper_, gammaLower_, launcher_,
        counted_, notAnEntry_;
    std::unique_ptr<X11TestClient> client_;
    std::unique_ptr<LinuxWorkspace> workspace_;
};

TEST_F(X11WorkspaceTest, IdentifiesTheApplicationAtALocation) {
    EXPECT_EQ(workspace_->applicationIdentifierAt(fileUrl(alpha_)), "test.alpha.desktop");
    EXPECT_EQ(workspace_->applicationIdentifierAt(fileUrl(alphaCopy_)), "test.alpha.desktop");
    EXPECT_EQ(workspace_->applicationIdentifierAt(fileUrl(gammaUpper_)), "Case.Gamma.desktop");
    EXPECT_EQ(workspace_->applicationIdentifierAt(fileUrl(notAnEntry_)), std::nullopt);
    EXPECT_EQ(workspace_->applicationIdentifierAt(fileUrl(entries_->root() + "/gone.desktop")),
              std::nullopt);
    EXPECT_EQ(workspace_->applicationIdentifierAt("not a url"), std::nullopt);
}

TEST_F(X11WorkspaceTest, FrontmostApplicationFollowsTheFocusedWindow) {
    const auto alpha = showWindow({"alpha", "Alpha", "test.alpha"});
    EXPECT_EQ(frontmostIdentifier(), "test.alpha.desktop");
    // Class names against StartupWMClass.
    const auto beta = showWindow({"beta", "BetaApp", ""});
    EXPECT_EQ(frontmostIdentifier(), "test.beta.desktop");
    const auto stranger = showWindow({"stranger", "Stranger", ""});
    EXPECT_EQ(frontmostIdentifier(), std::nullopt);
    (void)alpha;
    (void)beta;
    (void)stranger;
}

TEST_F(X11WorkspaceTest, AWindowWithoutNamesIsKnownByTheProcessGioLaunched) {
    // The launcher's record is honoured only by the process it names.
    const auto script = "export GIO_LAUNCHED_DESKTOP_FILE=" + beta_ +
                        " GIO_LAUNCHED_DESKTOP_FILE_PID=$$; exec sleep 30";
    const char* argv[] = {"sh", "-c", script.c_str(), nullptr};
    GPid launched = 0;
    ASSERT_TRUE(
        g_spawn_async(nullptr, const_cast<char**>(argv), nullptr,
                      static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
                      nullptr, nullptr, &launched, nullptr));
    const auto inherited = "export GIO_LAUNCHED_DESKTOP_FILE=" + beta_ +
                           " GIO_LAUNCHED_DESKTOP_FILE_PID=1; exec sleep 30";
    const char* otherArgv[] = {"sh", "-c", inherited.c_str(), nullptr};
    GPid other = 0;
    ASSERT_TRUE(
        g_spawn_async(nullptr, const_cast<char**>(otherArgv), nullptr,
                      static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
                      nullptr, nullptr, &other, nullptr));
    // The variables are in the process's environment once the shell became sleep.
    const auto becameSleep = [](GPid pid) {
        return readFile("/proc/" + std::to_string(pid) + "/comm") == "sleep\n";
    };
    ASSERT_TRUE(runUntil([&] { return becameSleep(launched) && becameSleep(other); }));

    showWindow({"unnamed", "Unnamed", "", static_cast<std::uint32_t>(launched)});
    EXPECT_EQ(frontmostIdentifier(), "test.beta.desktop");
    showWindow({"unnamed", "Unnamed", "", static_cast<std::uint32_t>(other)});
    EXPECT_EQ(frontmostIdentifier(), std::nullopt);

    for (const auto pid : {launched, other}) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        g_spawn_close_pid(pid);
    }
}

TEST_F(X11WorkspaceTest, EntriesInstalledLaterAreRecognised) {
    const auto late = showWindow({"late", "Late", "test.late"});
    EXPECT_EQ(frontmostIdentifier(), std::nullopt);
    entries_->addEntry(entries_->secondDataDir(), "test.late.desktop", "true");
    EXPECT_TRUE(runUntil([&] { return frontmostIdentifier() == "test.late.desktop"; }));
    (void)late;
}

TEST_F(X11WorkspaceTest, HidesEveryWindowOfTheFrontmostApplicationAndRaisesItAgain) {
    const auto other = showWindow({"beta", "BetaApp", ""});
    const auto first = showWindow({"alpha", "Alpha", "test.alpha"});
    const auto second = showWindow({"alpha", "Alpha", "test.alpha"});
    // One the user minimised before, and the focus back on the second.
    const auto minimised = showWindow({"alpha", "Alpha", "test.alpha"});
    client_->iconify(minimised);
    ASSERT_TRUE(runUntil([&] { return client_->isIconic(minimised); }));
    client_->requestActivation(second);
    ASSERT_TRUE(runUntil([&] { return isFrontmost(second); }));

    activate(true, alpha_);
    EXPECT_TRUE(runUntil([&] { return client_->isIconic(first) && client_->isIconic(second); }));
    EXPECT_FALSE(client_->isIconic(other));

    // The same chord again: no longer in front, so every window the hide minimised comes
    // back, the latest in front; the one minimised before stays so.
    ASSERT_TRUE(runUntil([&] { return !isFrontmost(first) && !isFrontmost(second); }));
    activate(true, alpha_);
    EXPECT_TRUE(runUntil([&] {
        return isFrontmost(second) && !client_->isIconic(second) && !client_->isIconic(first);
    })) << "first minimised: "
        << client_->isIconic(first) << ", second in front: " << isFrontmost(second);
    EXPECT_TRUE(client_->isIconic(minimised));
    EXPECT_FALSE(launched("alpha-launched"));
}

TEST_F(X11WorkspaceTest, ALaunchUnderWayCountsAsRunningUntilItsWindowShows) {
    const auto launches = [] { return testing::readLines(entries_->root() + "/counted-launches"); };
    // Pressing again and again while the launch is under way launches once. The
    // presses stop well within the time a launch is waited for, however long the
    // launched program then takes to start on a busy machine.
    const auto pressUntilLaunched = [&](std::size_t count) {
        const auto stopPressing = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        runUntil(
            [&] {
                if (std::chrono::steady_clock::now() < stopPressing) {
                    activate(true, counted_);
                }
                return launches().size() >= count;
            },
            20000);
        runFor(300);
        return launches().size() == count;
    };
    ASSERT_TRUE(pressUntilLaunched(1)) << launches().size() << " launches";

    // Its window ends the wait: once that is closed, the next press launches again.
    client_->destroyWindow(showWindow({"counted", "Counted", "test.counted"}));
    ASSERT_TRUE(pressUntilLaunched(2)) << launches().size() << " launches";

    // So does the program's word through startup notification that it has started,
    // for the startup ID it was given, even with no window recognised.
    const auto startupId = launches().back();
    ASSERT_NE(startupId, launches().front());
    client_->broadcastStartupMessage("remove: ID=\"" + startupId + "\"");
    EXPECT_TRUE(pressUntilLaunched(3)) << launches().size() << " launches";
}

TEST_F(X11WorkspaceTest, RaisesTheBoundApplicationWhenAnotherIsInFront) {
    const auto alpha = showWindow({"alpha", "Alpha", "test.alpha"});
    showWindow({"beta", "BetaApp", ""});
    activate(true, alpha_);
    EXPECT_TRUE(runUntil([&] { return isFrontmost(alpha); }));
    EXPECT_EQ(client_->activeWindow(), alpha);
    EXPECT_FALSE(launched("alpha-launched"));
}

TEST_F(X11WorkspaceTest, RaisingSwitchesToTheDesktopOfTheWindow) {
    const auto alpha = showWindow({"alpha", "Alpha", "test.alpha"});
    ASSERT_EQ(client_->currentDesktop(), 0u);
    client_->moveToDesktop(alpha, 2);
    const auto beta = showWindow({"beta", "BetaApp", ""});
    ASSERT_EQ(client_->currentDesktop(), 0u);

    activate(true, alpha_);
    EXPECT_TRUE(runUntil([&] { return client_->currentDesktop() == 2 && isFrontmost(alpha); }));
    (void)beta;
}

TEST_F(X11WorkspaceTest, TheDesktopWindowPutsNoApplicationInFront) {
    const auto desktop =
        client_->createWindow({"desktop", "Desktop", "", 0, "_NET_WM_WINDOW_TYPE_DESKTOP"});
    const auto stranger = showWindow({"stranger", "Stranger", ""});
    client_->requestActivation(desktop);
    ASSERT_TRUE(runUntil([&] { return client_->activeWindow() == desktop; }));
    runFor(100);
    EXPECT_EQ(workspace_->frontmostApplication(), std::nullopt);
    // So a location without identity opens rather than hides anything.
    activate(true, notAnEntry_);
    runFor(200);
    EXPECT_FALSE(client_->isIconic(desktop));
    EXPECT_FALSE(client_->isIconic(stranger));
}

TEST_F(X11WorkspaceTest, NeverHidesWithTheSettingOff) {
    const auto alpha = showWindow({"alpha", "Alpha", "test.alpha"});
    activate(false, alpha_);
    runFor(300);
    EXPECT_FALSE(client_->isIconic(alpha));
    EXPECT_TRUE(isFrontmost(alpha));
    EXPECT_FALSE(launched("alpha-launched"));
}

TEST_F(X11WorkspaceTest, AWindowIdTakenOverByANewWindowIsDescribedAfresh) {
    // The server hands a new client the IDs of one that left, so the first window
    // of the next client is likely to reuse the ID of this one.
    const auto stranger = showWindow({"stranger", "Stranger", ""});
    client_.reset();
    client_ = std::make_unique<X11TestClient>();
    const auto alpha = client_->createWindow({"alpha", "Alpha", "test.alpha"});
    ASSERT_EQ(alpha, stranger) << "the server gave the new window a fresh ID";
    // The window manager drops the old window and lists the new one before Tarnell
    // looks, so the list never shows the ID missing.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Whether openbox gives a new window the focus after the focused one went
    // depends on timing; asked, it always does.
    client_->requestActivation(alpha);
    ASSERT_TRUE(runUntil([&] { return client_->activeWindow() == alpha; }))
        << "the window manager never focused the new window";
    EXPECT_TRUE(runUntil([&] { return frontmostIdentifier() == "test.alpha.desktop"; }))
        << "frontmost: " << frontmostIdentifier().value_or("(no identifier)");
    activate(false, alpha_);
    runFor(300);
    EXPECT_FALSE(launched("alpha-launched"));
}

TEST_F(X11WorkspaceTest, TwoEntriesWithOneIdAreOneApplication) {
    const auto alpha = showWindow({"alpha", "Alpha", "test.alpha"});
    activate(true, alphaCopy_);
    EXPECT_TRUE(runUntil([&] { return client_->isIconic(alpha); }));
}

TEST_F(X11WorkspaceTest, IdentifiersThatDifferInCaseAreDifferentApplications) {
    const auto lower = showWindow({"case.gamma", "case.gamma", "case.gamma"});
    ASSERT_EQ(frontmostIdentifier(), "case.gamma.desktop");
    activate(true, gammaUpper_);
    // Not hidden: the other application is launched instead.
    EXPECT_TRUE(runUntil([] { return launched("gamma-upper-launched"); }));
    EXPECT_FALSE(client_->isIconic(lower));
    EXPECT_FALSE(launched("gamma-lower-launched"));
}

TEST_F(X11WorkspaceTest, ALocationWithoutIdentityHidesAWindowWithoutIdentity) {
    const auto stranger = showWindow({"stranger", "Stranger", ""});
    activate(true, notAnEntry_);
    EXPECT_TRUE(runUntil([&] { return client_->isIconic(stranger); }));
}

TEST_F(X11WorkspaceTest, ALocationWithoutIdentityLeavesAnIdentifiedWindowAlone) {
    const auto alpha = showWindow({"alpha", "Alpha", "test.alpha"});
    activate(true, notAnEntry_);
    runFor(300);
    EXPECT_FALSE(client_->isIconic(alpha));
}

TEST_F(X11WorkspaceTest, WithNoFocusedWindowTheApplicationIsLaunched) {
    ASSERT_TRUE(runUntil([&] { return !workspace_->frontmostApplication(); }));
    activate(true, launcher_);
    ASSERT_TRUE(runUntil([] { return launched("launcher-launched"); }));
    const auto environment = readFile(entries_->root() + "/launcher-launched");
    EXPECT_NE(environment.find("GIO_LAUNCHED_DESKTOP_FILE=" + launcher_), std::string::npos);
    // The window manager learns when the launch happened from the startup ID.
    EXPECT_NE(environment.find("DESKTOP_STARTUP_ID=tarnell-"), std::string::npos);
    EXPECT_NE(environment.find("_TIME"), std::string::npos);
}

} // namespace
} // namespace tarnell::platform
