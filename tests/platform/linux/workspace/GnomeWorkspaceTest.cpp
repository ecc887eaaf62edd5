// The workspace against a real GNOME Shell with Tarnell's extension turned on
// (tests/support/run-desktop and gnome-session-setup). The desktop entries of the
// test applications are in the shell's home, put there before it started.
#include "engine/AppActivation.h"
#include "platform/linux/gnome/GnomeShellClient.h"
#include "platform/linux/workspace/LinuxWorkspace.h"
#include "platform/linux/workspace/MainLoopPump.h"
#include "platform/linux/workspace/TestDesktopEntries.h"
#include "platform/linux/workspace/TestWindowProcess.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace tarnell::platform {
namespace {

using testing::fileUrl;
using testing::runFor;
using testing::runUntil;
using TestWindow = testing::TestWindowProcess;

// The windows as GNOME Shell itself sees them, through its introspection interface.
// The shell answers it for the desktop portal's backend only, whose name the test
// takes on its private bus.
class ShellWindows {
public:
    struct Window {
        std::string appId;
        bool hidden = false;
        bool focused = false;
        std::uint64_t id = 0;
    };

    ShellWindows() : bus_(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        GVariant* reply = g_dbus_connection_call_sync(
            bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "org.freedesktop.impl.portal.desktop.gtk", 4u),
            nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        if (reply != nullptr) {
            g_variant_unref(reply);
        }
    }
    ~ShellWindows() { g_object_unref(bus_); }
    ShellWindows(const ShellWindows&) = delete;
    ShellWindows& operator=(const ShellWindows&) = delete;

    // Every window; nullopt while the shell does not answer.
    std::optional<std::vector<Window>> windows() const {
        GVariant* reply = g_dbus_connection_call_sync(
            bus_, "org.gnome.Shell", "/org/gnome/Shell/Introspect", "org.gnome.Shell.Introspect",
            "GetWindows", nullptr, G_VARIANT_TYPE("(a{ta{sv}})"), G_DBUS_CALL_FLAGS_NONE, -1,
            nullptr, nullptr);
        if (reply == nullptr) {
            return std::nullopt;
        }
        std::vector<Window> windows;
        GVariantIter* iter = nullptr;
        g_variant_get(reply, "(a{ta{sv}})", &iter);
        guint64 id = 0;
        GVariant* properties = nullptr;
        while (g_variant_iter_next(iter, "{t@a{sv}}", &id, &properties)) {
            Window window;
            window.id = id;
            const gchar* app = nullptr;
            g_variant_lookup(properties, "app-id", "&s", &app);
            window.appId = app != nullptr ? app : "";
            gboolean flag = FALSE;
            window.hidden = g_variant_lookup(properties, "is-hidden", "b", &flag) && flag;
            window.focused = g_variant_lookup(properties, "has-focus", "b", &flag) && flag;
            g_variant_unref(properties);
            windows.push_back(window);
        }
        g_variant_iter_free(iter);
        g_variant_unref(reply);
        return windows;
    }

    // Whether the application has `count` windows, all hidden or all shown.
    bool allHidden(const std::string& appId, bool hidden, std::size_t count) const {
        const auto all = windows();
        if (!all) {
            return false;
        }
        std::size_t matching = 0;
        for (const auto& window : *all) {
            if (window.appId == appId) {
                if (window.hidden != hidden) {
                    return false;
                }
                ++matching;
            }
        }
        return matching == count;
    }

    std::optional<std::uint64_t> focusedWindow() const {
        for (const auto& window : windows().value_or(std::vector<Window>{})) {
            if (window.focused) {
                return window.id;
            }
        }
        return std::nullopt;
    }

private:
    GDBusConnection* bus_;
};

// Runs the main context, waking for each event, until `done`; how long it took, or
// nullopt past the deadline.
std::optional<double> millisecondsUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    const auto start = std::chrono::steady_clock::now();
    bool expired = false;
    const guint timer = g_timeout_add(
        static_cast<guint>(timeoutMs),
        [](gpointer flag) {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &expired);
    while (!done() && !expired) {
        g_main_context_iteration(nullptr, TRUE);
    }
    if (expired) {
        return std::nullopt;
    }
    g_source_remove(timer);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

class GnomeWorkspaceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string home = std::getenv("TARNELL_DESKTOP_HOME");
        // The entries the shell knows are the ones Tarnell reads.
        setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
        applications_ = home + "/.local/share/applications/";
        pids_ = home + "/pids";
        std::filesystem::create_directories(pids_);
        setenv("TARNELL_TEST_WINDOW_PIDS", pids_.c_str(), 1);
        shell_ = new ShellWindows;
        ASSERT_TRUE(runUntil([] { return shell_->windows().has_value(); }, 10000))
            << "GNOME Shell does not answer its introspection interface";
    }
    static void TearDownTestSuite() { delete shell_; }

    void SetUp() override {
        workspace_ = std::make_unique<LinuxWorkspace>();
        ASSERT_EQ(workspace_->backend(), LinuxWorkspace::Backend::GnomeShell);
    }

    void TearDown() override {
        windows_.clear();
        // Applications Tarnell launched.
        for (const auto& entry : std::filesystem::directory_iterator(pids_)) {
            std::ifstream in(entry.path());
            pid_t pid = 0;
            if (in >> pid && pid > 0) {
                kill(pid, SIGTERM);
            }
            std::filesystem::remove(entry.path());
        }
        runUntil([this] { return !workspace_->frontmostApplication(); });
        workspace_.reset();
    }

    TestWindow& openWindow(const std::string& appId, int count = 1) {
        windows_.push_back(std::make_unique<TestWindow>(appId, count));
        EXPECT_TRUE(runUntil([&] { return frontmostIs(appId); }, 10000))
            << appId << " never got the focus";
        return *windows_.back();
    }

    bool frontmostIs(const std::string& appId) const {
        const auto front = workspace_->frontmostApplication();
        return front && front->identifier == appId + ".desktop";
    }

    void press(const std::string& appId, bool hidesFrontmostApp = true) {
        engine::activateApp(*workspace_, hidesFrontmostApp,
                            fileUrl(applications_ + appId + ".desktop"));
    }

    static inline std::string applications_, pids_;
    static inline ShellWindows* shell_ = nullptr;
    std::unique_ptr<LinuxWorkspace> workspace_;
    std::vector<std::unique_ptr<TestWindow>> windows_;
};

TEST_F(GnomeWorkspaceTest, FrontmostFollowsTheFocusAndTheInputSource) {
    openWindow("test.alpha");
    openWindow("test.beta");
    // A window no entry stands for is an application without identifier.
    windows_.push_back(std::make_unique<TestWindow>("test.stranger", 1));
    EXPECT_TRUE(runUntil([this] {
        const auto front = workspace_->frontmostApplication();
        return front && !front->identifier;
    }));

    // The input source follows the shell's settings, as GNOME's own panel does.
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    gnome::GnomeShellClient client(bus);
    g_object_unref(bus);
    ASSERT_TRUE(runUntil([&] { return client.active(); }));
    EXPECT_EQ(client.inputSource().type, "xkb");
    std::ofstream(std::string(std::getenv("TARNELL_DESKTOP_HOME")) +
                      "/.config/glib-2.0/settings/keyfile",
                  std::ios::app)
        << "\n[org/gnome/desktop/input-sources]\nsources=[('xkb', 'de'), ('xkb', 'us')]\n";
    EXPECT_TRUE(runUntil([&] { return client.inputSource().id == "de"; }))
        << "input source: " << client.inputSource().id;
}

TEST_F(GnomeWorkspaceTest, RaisesAnApplicationFromBehindAndUnminimisesIt) {
    auto& alpha = openWindow("test.alpha");
    openWindow("test.beta");
    std::vector<double> times;
    for (int round = 0; round < 5; ++round) {
        for (const auto* app : {"test.alpha", "test.beta"}) {
            press(app);
            const auto took = millisecondsUntil([&] { return frontmostIs(app); });
            ASSERT_TRUE(took) << app << " was not raised in round " << round;
            times.push_back(*took);
        }
    }
    std::sort(times.begin(), times.end());
    std::cout << "raise, key to focused window: median " << times[times.size() / 2] << " ms, max "
              << times.back() << " ms over " << times.size() << "\n";

    // Minimised by the user, it comes back with the chord.
    alpha.minimize();
    ASSERT_TRUE(runUntil([] { return shell_->allHidden("test.alpha.desktop", true, 1); }));
    press("test.alpha");
    EXPECT_TRUE(runUntil([this] { return frontmostIs("test.alpha"); }));
    EXPECT_TRUE(shell_->allHidden("test.alpha.desktop", false, 1));
}

TEST_F(GnomeWorkspaceTest, HidesEveryWindowAndBringsThemAllBack) {
    openWindow("test.beta");
    openWindow("test.alpha", 2);
    ASSERT_TRUE(runUntil([] { return shell_->allHidden("test.alpha.desktop", false, 2); }));
    const auto latest = shell_->focusedWindow();
    ASSERT_TRUE(latest);

    press("test.alpha");
    EXPECT_TRUE(runUntil([] { return shell_->allHidden("test.alpha.desktop", true, 2); }));
    EXPECT_TRUE(runUntil([this] { return frontmostIs("test.beta"); }));
    EXPECT_TRUE(shell_->allHidden("test.beta.desktop", false, 1));

    press("test.alpha");
    EXPECT_TRUE(runUntil([] { return shell_->allHidden("test.alpha.desktop", false, 2); }));
    EXPECT_TRUE(runUntil([this] { return frontmostIs("test.alpha"); }));
    EXPECT_EQ(shell_->focusedWindow(), latest) << "the latest window is not the one in front";

    // With the setting off, the chord never hides.
    press("test.alpha", false);
    runFor(300);
    EXPECT_TRUE(frontmostIs("test.alpha"));
    EXPECT_TRUE(shell_->allHidden("test.alpha.desktop", false, 2));
}

TEST_F(GnomeWorkspaceTest, LaunchesAnApplicationThatIsNotRunningOncePerPress) {
    openWindow("test.beta");
    // The second press comes while the first launch is under way.
    press("test.gamma");
    runFor(50);
    press("test.gamma");
    EXPECT_TRUE(runUntil([this] { return frontmostIs("test.gamma"); }, 10000));
    runFor(1000);
    EXPECT_TRUE(shell_->allHidden("test.gamma.desktop", false, 1)) << "launched more than once";
}

} // namespace
} // namespace tarnell::platform
