// What the client takes from whoever holds the extension's name, on a private bus:
// only values within bounds, only from the name's owner, and nothing once it goes.
#include "platform/linux/gnome/GnomeShellClient.h"

#include "app/PrivateSessionBus.h"
#include "platform/linux/gnome/ShellExtensionInterface.h"
#include "platform/linux/workspace/MainLoopPump.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tarnell::platform::gnome {
namespace {

using platform::testing::runUntil;

[[maybe_unused]] const auto* const kBus =
    ::testing::AddGlobalTestEnvironment(new tarnell::testing::PrivateSessionBus);

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="io.github.tarnell.Tarnell.GnomeShell1">
    <method name="GetState">
      <arg type="b" direction="out"/><arg type="s" direction="out"/>
      <arg type="as" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/>
    </method>
  </interface>
</node>)xml";

GDBusConnection* newConnection() {
    return g_dbus_connection_new_for_address_sync(
        std::getenv("DBUS_SESSION_BUS_ADDRESS"),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
}

void sendSignal(GDBusConnection* connection, const char* signal, GVariant* parameters) {
    g_dbus_connection_emit_signal(connection, nullptr, kObjectPath, kInterface, signal, parameters,
                                  nullptr);
    g_dbus_connection_flush_sync(connection, nullptr, nullptr);
}

// A stand-in for the extension on its own connection, answering the state query
// with `running` as the running applications.
class FakeExtension {
public:
    explicit FakeExtension(std::vector<std::string> running)
        : connection_(newConnection()), running_(std::move(running)) {
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
        static const GDBusInterfaceVTable vtable{&FakeExtension::onCall, nullptr, nullptr, {}};
        g_dbus_connection_register_object(connection_, kObjectPath, node->interfaces[0], &vtable,
                                          this, nullptr, nullptr);
        g_dbus_node_info_unref(node);
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", kBusName, 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
            nullptr, nullptr);
        g_variant_unref(reply);
    }
    ~FakeExtension() {
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
    FakeExtension(const FakeExtension&) = delete;
    FakeExtension& operator=(const FakeExtension&) = delete;

    GDBusConnection* connection() const { return connection_; }

private:
    static void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                       GVariant*, GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<FakeExtension*>(data);
        GVariantBuilder running;
        g_variant_builder_init(&running, G_VARIANT_TYPE("as"));
        for (const auto& id : self->running_) {
            g_variant_builder_add(&running, "s", id.c_str());
        }
        g_dbus_method_invocation_return_value(
            invocation,
            g_variant_new("(bsasss)", TRUE, "org.example.Front.desktop", &running, "xkb", "de"));
    }

    GDBusConnection* connection_;
    std::vector<std::string> running_;
};

TEST(GnomeShellClientTest, TakesOnlyBoundedValuesFromTheNamesOwnerAndForgetsThemWhenItGoes) {
    const std::string tooLong = std::string(kMaxTextBytes, 'x') + ".desktop";
    std::vector<std::string> running{"a.desktop",       tooLong,    "sub/dir.desktop",
                                     "ctl\x01.desktop", ".desktop", "not-an-entry"};
    for (std::size_t i = 0; i < kMaxRunningApps + 100; ++i) {
        running.push_back("many" + std::to_string(i) + ".desktop");
    }
    auto extension = std::make_unique<FakeExtension>(running);
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    GnomeShellClient client(bus);
    int changes = 0;
    client.setOnChange([&] { ++changes; });

    ASSERT_TRUE(runUntil([&] { return client.active(); }));
    EXPECT_EQ(client.focus(), (GnomeShellClient::Focus{true, "org.example.Front.desktop"}));
    EXPECT_TRUE(client.isRunning("a.desktop"));
    for (const auto& refused :
         {tooLong, std::string("sub/dir.desktop"), std::string("ctl\x01.desktop"),
          std::string(".desktop"), std::string("not-an-entry")}) {
        EXPECT_FALSE(client.isRunning(refused)) << refused;
    }
    EXPECT_FALSE(client.isRunning("many" + std::to_string(kMaxRunningApps) + ".desktop"));
    EXPECT_EQ(client.inputSource(), (GnomeShellClient::InputSource{"xkb", "de"}));

    // An ID out of bounds stands for an application without one.
    sendSignal(extension->connection(), "FocusChanged",
               g_variant_new("(bs)", TRUE, tooLong.c_str()));
    ASSERT_TRUE(runUntil([&] { return !client.focus().desktopId; }));
    EXPECT_TRUE(client.focus().focused);

    // Another connection cannot speak for the extension, nor a signal of another shape.
    GDBusConnection* impostor = newConnection();
    sendSignal(impostor, "FocusChanged", g_variant_new("(bs)", TRUE, "evil.desktop"));
    sendSignal(extension->connection(), "FocusChanged", g_variant_new("(s)", "evil.desktop"));
    sendSignal(extension->connection(), "InputSourceChanged",
               g_variant_new("(ss)", "xkb", std::string(kMaxTextBytes + 1, 'x').c_str()));
    ASSERT_TRUE(runUntil([&] { return client.inputSource().id.empty(); }));
    EXPECT_EQ(client.focus(), (GnomeShellClient::Focus{true, std::nullopt}));
    g_object_unref(impostor);

    const int before = changes;
    extension.reset();
    ASSERT_TRUE(runUntil([&] { return !client.active(); }));
    EXPECT_GT(changes, before);
    EXPECT_EQ(client.focus(), GnomeShellClient::Focus{});
    EXPECT_FALSE(client.isRunning("a.desktop"));

    // Back again, as after the screen was unlocked.
    extension = std::make_unique<FakeExtension>(std::vector<std::string>{"b.desktop"});
    ASSERT_TRUE(runUntil([&] { return client.active(); }));
    EXPECT_TRUE(client.isRunning("b.desktop"));
    g_object_unref(bus);
}

} // namespace
} // namespace tarnell::platform::gnome
