#include "platform/linux/workspace/LinuxWorkspace.h"
#include "platform/linux/workspace/MainLoopPump.h"
#include "platform/linux/workspace/TestDesktopEntries.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace tarnell::platform {
namespace {

using testing::fileUrl;
using testing::runFor;
using testing::runUntil;
using testing::TestDesktopEntries;

// A private session bus with a stand-in for the user's service manager that records
// the scopes it is asked to make.
class FakeServiceManager {
public:
    struct ScopeRequest {
        std::string name;
        std::string mode;
        std::vector<std::uint32_t> pids;
    };

    FakeServiceManager() {
        const char* argv[] = {"dbus-daemon", "--session", "--nofork", "--print-address=1", nullptr};
        gint output = -1;
        if (!g_spawn_async_with_pipes(
                nullptr, const_cast<char**>(argv), nullptr,
                static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr,
                nullptr, &daemon_, nullptr, &output, nullptr, nullptr)) {
            return;
        }
        GIOChannel* channel = g_io_channel_unix_new(output);
        gchar* line = nullptr;
        g_io_channel_read_line(channel, &line, nullptr, nullptr, nullptr);
        g_io_channel_shutdown(channel, FALSE, nullptr);
        g_io_channel_unref(channel);
        if (line == nullptr) {
            return;
        }
        std::string address = g_strstrip(line);
        g_free(line);
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);

        bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (bus_ == nullptr) {
            return;
        }
        static const char introspection[] = R"xml(<node>
  <interface name="org.freedesktop.systemd1.Manager">
    <method name="StartTransientUnit">
      <arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="a(sv)" direction="in"/><arg type="a(sa(sv))" direction="in"/>
      <arg type="o" direction="out"/>
    </method>
  </interface>
</node>)xml";
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(introspection, nullptr);
        static const GDBusInterfaceVTable vtable{&FakeServiceManager::onCall, nullptr, nullptr, {}};
        g_dbus_connection_register_object(bus_, "/org/freedesktop/systemd1", node->interfaces[0],
                                          &vtable, this, nullptr, nullptr);
        g_dbus_node_info_unref(node);
        owner_ = g_bus_own_name_on_connection(bus_, "org.freedesktop.systemd1",
                                              G_BUS_NAME_OWNER_FLAGS_NONE, &onNameAcquired, nullptr,
                                              this, nullptr);
    }

    ~FakeServiceManager() {
        if (owner_ != 0) {
            g_bus_unown_name(owner_);
        }
        if (bus_ != nullptr) {
            g_dbus_connection_close_sync(bus_, nullptr, nullptr);
            g_object_unref(bus_);
        }
        if (daemon_ > 0) {
            kill(daemon_, SIGTERM);
            waitpid(daemon_, nullptr, 0);
            g_spawn_close_pid(daemon_);
        }
    }

    bool ready() const { return named_; }
    const std::vector<ScopeRequest>& requests() const { return requests_; }

private:
    static void onNameAcquired(GDBusConnection*, const gchar*, gpointer self) {
        static_cast<FakeServiceManager*>(self)->named_ = true;
    }

    static void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                       GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
        ScopeRequest request;
        const gchar* name = nullptr;
        const gchar* mode = nullptr;
        GVariantIter* properties = nullptr;
        GVariantIter* auxiliary = nullptr;
        g_variant_get(parameters, "(&s&sa(sv)a(sa(sv)))", &name, &mode, &properties, &auxiliary);
        request.name = name;
        request.mode = mode;
        const gchar* key = nullptr;
        GVariant* value = nullptr;
        while (g_variant_iter_loop(properties, "(&sv)", &key, &value)) {
            if (std::string(key) == "PIDs" && g_variant_is_of_type(value, G_VARIANT_TYPE("au"))) {
                gsize count = 0;
                const auto* pids = static_cast<const std::uint32_t*>(
                    g_variant_get_fixed_array(value, &count, sizeof(std::uint32_t)));
                request.pids.assign(pids, pids + count);
            }
        }
        g_variant_iter_free(properties);
        g_variant_iter_free(auxiliary);
        static_cast<FakeServiceManager*>(self)->requests_.push_back(request);
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(o)", "/org/freedesktop/systemd1/job/1"));
    }

    GPid daemon_ = 0;
    GDBusConnection* bus_ = nullptr;
    guint owner_ = 0;
    bool named_ = false;
    std::vector<ScopeRequest> requests_;
};

TEST(LaunchScopeTest, EachLaunchedProgramIsMovedIntoAScopeOfItsOwn) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    TestDesktopEntries entries;
    const auto script =
        entries.addScript("record-pid", "echo $$ > \"$1.part\" && mv \"$1.part\" \"$1\"");
    const auto record = entries.root() + "/pid";
    const auto entry =
        entries.addEntry(entries.firstDataDir(), "my-tool.desktop", script + " " + record);
    FakeServiceManager manager;
    ASSERT_TRUE(runUntil([&] { return manager.ready(); }));

    LinuxWorkspace workspace;
    runFor(100); // the launcher connects to the bus in the event loop
    workspace.openApplication(fileUrl(entry));
    ASSERT_TRUE(runUntil([&] { return !manager.requests().empty(); }));
    ASSERT_TRUE(runUntil([&] { return std::filesystem::exists(record); }));

    const auto& request = manager.requests().front();
    gchar* text = nullptr;
    ASSERT_TRUE(g_file_get_contents(record.c_str(), &text, nullptr, nullptr));
    const auto pid = static_cast<std::uint32_t>(std::stoul(text));
    g_free(text);
    EXPECT_EQ(request.pids, std::vector<std::uint32_t>{pid});
    EXPECT_EQ(request.name, "app-tarnell-my\\x2dtool-" + std::to_string(pid) + ".scope");
    EXPECT_EQ(request.mode, "fail");
}

} // namespace
} // namespace tarnell::platform
