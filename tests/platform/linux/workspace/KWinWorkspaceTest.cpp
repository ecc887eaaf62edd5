#include "engine/AppActivation.h"
#include "platform/linux/workspace/KWinBackend.h"
#include "platform/linux/workspace/KWinScript.h"
#include "platform/linux/workspace/LinuxWorkspace.h"
#include "platform/linux/workspace/MainLoopPump.h"
#include "platform/linux/workspace/TestDesktopEntries.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace tarnell::platform {
namespace {

using testing::fileUrl;
using testing::runUntil;
using testing::TestDesktopEntries;

constexpr int startMs = 15000; // KWin and Qt start slowly on a busy machine

// KWin may run in another root: only the runtime folder is shared with it.
std::string sharedWithKWin(const std::string& name) {
    return std::string(g_get_user_runtime_dir()) + "/" + name;
}

// Windows of one application, shown by a program of ours; gone with this.
class TestApplication {
public:
    TestApplication(const std::string& appId, int windows) {
        std::vector<std::string> args{TEST_WINDOW_PROGRAM, appId, std::to_string(windows)};
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = 0;
        }
    }
    ~TestApplication() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    TestApplication(const TestApplication&) = delete;
    TestApplication& operator=(const TestApplication&) = delete;

    // The program minimises its windows itself, as the user would.
    void minimise() const { kill(pid_, SIGUSR1); }

private:
    pid_t pid_ = 0;
};

// The unique name of the connection the workspace uses.
std::string tarnellBusName() {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    std::string name = g_dbus_connection_get_unique_name(bus);
    g_object_unref(bus);
    return name;
}

// KWin's scripting, called from a connection of the test's own.
class KWinScripting {
public:
    KWinScripting() {
        bus_ = g_dbus_connection_new_for_address_sync(
            std::getenv("DBUS_SESSION_BUS_ADDRESS"),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
    }
    ~KWinScripting() { g_object_unref(bus_); }
    KWinScripting(const KWinScripting&) = delete;
    KWinScripting& operator=(const KWinScripting&) = delete;

    bool isLoaded(const char* pluginName) {
        GVariant* reply = call("/Scripting", "org.kde.kwin.Scripting", "isScriptLoaded",
                               g_variant_new("(s)", pluginName));
        gboolean loaded = FALSE;
        if (reply != nullptr) {
            g_variant_get(reply, "(b)", &loaded);
            g_variant_unref(reply);
        }
        return loaded != FALSE;
    }

    // Loads a script and has KWin run every script not running yet.
    void loadAndStart(const std::string& path, const char* pluginName) {
        for (GVariant* reply : {call("/Scripting", "org.kde.kwin.Scripting", "loadScript",
                                     g_variant_new("(ss)", path.c_str(), pluginName)),
                                call("/Scripting", "org.kde.kwin.Scripting", "start", nullptr)}) {
            ASSERT_NE(reply, nullptr);
            g_variant_unref(reply);
        }
    }

    // Calls our own object as any program on the session bus could; the D-Bus
    // error name, or "" when the call was accepted.
    std::string callTarnell(const char* method, GVariant* parameters) {
        struct Outcome {
            bool done = false;
            std::string error;
        } pending;
        g_dbus_connection_call(
            bus_, tarnellBusName().c_str(), kwinScriptObjectPath, kwinScriptInterface, method,
            parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto& outcome = *static_cast<Outcome*>(data);
                GError* error = nullptr;
                if (GVariant* reply =
                        g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error)) {
                    g_variant_unref(reply);
                } else {
                    gchar* name = g_dbus_error_get_remote_error(error);
                    outcome.error = name != nullptr ? name : error->message;
                    g_free(name);
                    g_error_free(error);
                }
                outcome.done = true;
            },
            &pending);
        // Our object answers from this thread's loop.
        EXPECT_TRUE(runUntil([&] { return pending.done; }, 6000));
        return pending.error;
    }

    void unload(const char* pluginName) {
        if (GVariant* reply = call("/Scripting", "org.kde.kwin.Scripting", "unloadScript",
                                   g_variant_new("(s)", pluginName))) {
            g_variant_unref(reply);
        }
    }

private:
    GVariant* call(const char* path, const char* interface, const char* method,
                   GVariant* parameters) {
        return g_dbus_connection_call_sync(bus_, "org.kde.KWin", path, interface, method,
                                           parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
                                           nullptr, nullptr);
    }
    GDBusConnection* bus_ = nullptr;
};

class KWinWorkspaceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        entries_ = new TestDesktopEntries;
        auto& e = *entries_;
        alpha_ = e.addEntry(e.firstDataDir(), "test.alpha.desktop", "true");
        beta_ = e.addEntry(e.firstDataDir(), "test.beta.desktop", "true");
        recorder_ = e.addEntry(e.firstDataDir(), "test.recorder.desktop",
                               e.addLaunchRecorder() + " " + e.root() + "/recorder-launched");
    }
    static void TearDownTestSuite() { delete entries_; }

    void SetUp() override { startWorkspace(); }

    void TearDown() override {
        applications_.clear();
        workspace_.reset();
    }

    void startWorkspace() {
        workspace_ = std::make_unique<LinuxWorkspace>();
        ASSERT_EQ(workspace_->backend(), LinuxWorkspace::Backend::KWin);
        kwin_ = dynamic_cast<KWinBackend*>(workspace_->windowBackend());
        ASSERT_NE(kwin_, nullptr);
        ASSERT_TRUE(runUntil([this] { return kwin_->ready(); }, startMs))
            << "the script never reported back";
    }

    const TestApplication& open(const std::string& appId, int windows = 1) {
        applications_.push_back(std::make_unique<TestApplication>(appId, windows));
        // Each new window takes the focus.
        EXPECT_TRUE(runUntil(
            [&] {
                const auto all = windowsOf(appId);
                return static_cast<int>(all.size()) == windows && frontmostIs(appId) &&
                       workspace_->frontmostApplication()->handle == all.back().handle;
            },
            startMs))
            << appId << " never got the focus";
        return *applications_.back();
    }

    bool frontmostIs(const std::string& appId) const {
        const auto front = workspace_->frontmostApplication();
        return front && front->identifier == appId + ".desktop";
    }

    std::vector<KWinWindows::State> windowsOf(const std::string& appId) const {
        auto windows = kwin_->windows();
        std::erase_if(windows, [&](const auto& w) { return w.identity != appId + ".desktop"; });
        return windows;
    }
    int windowCount(const std::string& appId) const {
        return static_cast<int>(windowsOf(appId).size());
    }
    bool allMinimised(const std::string& appId, bool minimised) const {
        const auto windows = windowsOf(appId);
        return !windows.empty() && std::all_of(windows.begin(), windows.end(), [&](const auto& w) {
            return w.minimized == minimised;
        });
    }

    void press(const std::string& entry, bool hidesFrontmostApp = true) {
        engine::activateApp(*workspace_, hidesFrontmostApp, fileUrl(entry));
    }

    static inline TestDesktopEntries* entries_ = nullptr;
    static inline std::string alpha_, beta_, recorder_;
    std::unique_ptr<LinuxWorkspace> workspace_;
    KWinBackend* kwin_ = nullptr;
    std::vector<std::unique_ptr<TestApplication>> applications_;
};

TEST_F(KWinWorkspaceTest, TheFrontmostApplicationFollowsTheFocus) {
    open("test.alpha");
    open("test.beta");
    // A window no entry stands for is an application without identifier.
    applications_.push_back(std::make_unique<TestApplication>("unknown.app", 1));
    EXPECT_TRUE(runUntil(
        [this] {
            const auto front = workspace_->frontmostApplication();
            return front && !front->identifier;
        },
        startMs));
}

TEST_F(KWinWorkspaceTest, RaisesAnApplicationBehindAnotherAndUnminimisesIt) {
    const auto& alpha = open("test.alpha");
    open("test.beta");
    press(alpha_);
    EXPECT_TRUE(runUntil([this] { return frontmostIs("test.alpha"); }));

    alpha.minimise();
    ASSERT_TRUE(runUntil([this] { return allMinimised("test.alpha", true); }));
    ASSERT_TRUE(runUntil([this] { return frontmostIs("test.beta"); }));
    press(alpha_);
    EXPECT_TRUE(runUntil([this] { return frontmostIs("test.alpha"); }));
    EXPECT_TRUE(allMinimised("test.alpha", false));
}

TEST_F(KWinWorkspaceTest, HidesEveryWindowAndBringsThemBackTheLatestInFront) {
    open("test.beta");
    open("test.alpha", 2);
    const auto latest = workspace_->frontmostApplication();
    ASSERT_TRUE(latest);

    press(alpha_);
    EXPECT_TRUE(runUntil([this] { return allMinimised("test.alpha", true); }));
    EXPECT_TRUE(runUntil([this] { return frontmostIs("test.beta"); }));
    EXPECT_TRUE(allMinimised("test.beta", false));

    press(alpha_);
    EXPECT_TRUE(runUntil([&] {
        const auto front = workspace_->frontmostApplication();
        return allMinimised("test.alpha", false) && front && front->handle == latest->handle;
    }));

    // With the setting off the chord only ever brings it forward.
    press(alpha_, false);
    press(beta_, false);
    EXPECT_TRUE(runUntil([this] { return frontmostIs("test.beta"); }));
    EXPECT_TRUE(allMinimised("test.alpha", false));
}

TEST_F(KWinWorkspaceTest, LaunchesAnApplicationThatIsNotRunning) {
    open("test.alpha");
    press(recorder_);
    EXPECT_TRUE(
        runUntil([] { return std::filesystem::exists(entries_->root() + "/recorder-launched"); }));
}

TEST_F(KWinWorkspaceTest, KeepsOneScriptLoadedWhileItRunsAndNoneAfter) {
    open("test.alpha");
    open("test.beta");
    KWinScripting scripting;
    // Unloaded by someone else: it notices at the next chord and loads it again.
    scripting.unload(KWinBackend::pluginName());
    press(alpha_);
    ASSERT_TRUE(runUntil([this] { return !kwin_->ready(); }));
    ASSERT_TRUE(runUntil([this] { return kwin_->ready(); }, startMs));
    press(alpha_);
    EXPECT_TRUE(runUntil([this] { return frontmostIs("test.alpha"); }));

    workspace_.reset();
    EXPECT_TRUE(runUntil([&] { return !scripting.isLoaded(KWinBackend::pluginName()); }));

    // What a run that ended without unloading leaves behind is replaced, and the new
    // script starts with the windows as they are.
    const auto stale = sharedWithKWin("stale.js");
    std::ofstream(stale) << "print('stale');\n";
    scripting.loadAndStart(stale, KWinBackend::pluginName());
    ASSERT_TRUE(scripting.isLoaded(KWinBackend::pluginName()));
    startWorkspace();
    EXPECT_TRUE(frontmostIs("test.alpha"));
    EXPECT_EQ(windowCount("test.beta"), 1);

    workspace_.reset();
    EXPECT_TRUE(runUntil([&] { return !scripting.isLoaded(KWinBackend::pluginName()); }));
    std::filesystem::remove(stale);
}

TEST_F(KWinWorkspaceTest, TakesOnlyWellFormedReportsAndOnlyFromKWin) {
    open("test.beta");
    KWinScripting scripting;
    const std::string accessDenied = "org.freedesktop.DBus.Error.AccessDenied";
    EXPECT_EQ(scripting.callTarnell("WindowActivated", g_variant_new("(s)", "")), accessDenied);
    EXPECT_EQ(scripting.callTarnell("NextCommands", nullptr), accessDenied);

    // Any KWin script may call us too: what is malformed or oversized is refused.
    const auto report = [](const std::string& id, const std::string& pid) {
        return "callDBus(me, path, iface, 'WindowChanged', '" + id + "', 'test.alpha', '', '', '" +
               pid + "', true, false, false);\n";
    };
    const auto hostile = sharedWithKWin("hostile.js");
    std::ofstream(hostile) << "var me = '" << tarnellBusName() << "';\nvar path = '"
                           << kwinScriptObjectPath << "';\nvar iface = '" << kwinScriptInterface
                           << "';\n"
                           << report(std::string(4096, 'x'), "0") << report("{bad-pid}", "1e9")
                           << report("{sound}", "0");
    scripting.loadAndStart(hostile, "tarnell-test-hostile");
    EXPECT_TRUE(runUntil([this] { return windowCount("test.alpha") == 1; }));
    EXPECT_EQ(windowCount("test.alpha"), 1);
    EXPECT_TRUE(frontmostIs("test.beta"));
    scripting.unload("tarnell-test-hostile");
    std::filesystem::remove(hostile);
}

} // namespace
} // namespace tarnell::platform
