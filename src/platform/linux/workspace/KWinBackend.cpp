#include "platform/linux/workspace/KWinBackend.h"

#include "platform/linux/session/SessionEnvironment.h"
#include "platform/linux/workspace/DesktopEntries.h"
#include "platform/linux/workspace/KWinScript.h"

#include <cstdlib>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnell::platform {
namespace {

constexpr const char* kwinName = "org.kde.KWin";
constexpr int kAskTimeoutMs = 1000; // once, at start
constexpr const char* scriptingPath = "/Scripting";
constexpr const char* scriptingInterface = "org.kde.kwin.Scripting";
constexpr const char* accessDenied = "org.freedesktop.DBus.Error.AccessDenied";
constexpr const char* invalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
constexpr const char* superseded = "io.github.tarnell.Tarnell.Error.Superseded";

constexpr std::size_t mostWaitingCommands = 32;
// The script's calls time out after 25 s; it is answered well before.
constexpr guint idleAnswerSeconds = 10;
constexpr guint helloMilliseconds = 5000;
// A running script asks again at once after each answer.
constexpr guint requestOverdueMilliseconds = 2000;
constexpr int mostLoadTries = 20;
constexpr guint loadRetryMilliseconds = 50;       // while the stale script goes
constexpr guint scriptingRetryMilliseconds = 500; // while KWin is starting

constexpr const char* interfaceXml = R"xml(
<node>
  <interface name="io.github.tarnell.Tarnell.KWinScript">
    <method name="Hello">
      <arg name="api" type="s" direction="in"/>
      <arg name="token" type="s" direction="in"/>
    </method>
    <method name="WindowChanged">
      <arg name="id" type="s" direction="in"/>
      <arg name="desktopFileName" type="s" direction="in"/>
      <arg name="resourceClass" type="s" direction="in"/>
      <arg name="resourceName" type="s" direction="in"/>
      <arg name="pid" type="s" direction="in"/>
      <arg name="normal" type="b" direction="in"/>
      <arg name="background" type="b" direction="in"/>
      <arg name="minimized" type="b" direction="in"/>
    </method>
    <method name="WindowRemoved">
      <arg name="id" type="s" direction="in"/>
    </method>
    <method name="WindowActivated">
      <arg name="id" type="s" direction="in"/>
    </method>
    <method name="NextCommands">
      <arg name="commands" type="s" direction="out"/>
    </method>
  </interface>
</node>)xml";

// A folder only we can enter, for the script KWin reads.
bool makePrivateFolder(const std::string& path) {
    if (g_mkdir_with_parents(path.c_str(), 0700) != 0) {
        return false;
    }
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
        return false;
    }
    return (info.st_mode & 0077) == 0 || chmod(path.c_str(), 0700) == 0;
}

GDBusInterfaceInfo* interfaceInfo() {
    static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(interfaceXml, nullptr);
    return node->interfaces[0];
}

std::string randomToken() {
    gchar* uuid = g_uuid_string_random();
    std::string token(uuid);
    g_free(uuid);
    return token;
}

} // namespace

// One load of the script. Replies to its calls find the backend through it, and find
// nothing once a newer load began or the backend is gone.
struct KWinBackend::Setup {
    KWinBackend* backend = nullptr;
    std::string token;
    std::int32_t scriptId = -1;
    int loadTries = 0;
};

const char* KWinBackend::pluginName() {
    return "tarnell-windows";
}

std::unique_ptr<KWinBackend> KWinBackend::connect(const WindowIdentifier& identifier) {
    GDBusConnection* bus = session::knownSessionBus();
    if (bus == nullptr) {
        return nullptr;
    }
    if (!session::currentDesktopIncludes("KDE") &&
        !session::busNameHasOwner(bus, kwinName, kAskTimeoutMs)) {
        g_object_unref(bus);
        return nullptr;
    }
    return std::unique_ptr<KWinBackend>(new KWinBackend(bus, identifier));
}

KWinBackend::KWinBackend(GDBusConnection* bus, const WindowIdentifier& identifier)
    : bus_(bus), windows_(
                     [&identifier](const WindowHints& hints) {
                         return identifier.identify(
                             hints, [](pid_t process) { return readProcessFiles(process); });
                     },
                     [this](const std::string& desktopId) { reportWindowShown(desktopId); }),
      scriptPath_(std::string(g_get_user_runtime_dir()) + "/tarnell/kwin-windows.js"),
      cancellable_(g_cancellable_new()) {
    static const GDBusInterfaceVTable vtable{&KWinBackend::onMethodCall, nullptr, nullptr, {}};
    registration_ = g_dbus_connection_register_object(bus_, kwinScriptObjectPath, interfaceInfo(),
                                                      &vtable, this, nullptr, nullptr);
    // Without our object the script would have nobody to talk to: launch only.
    if (registration_ != 0) {
        nameWatch_ = g_bus_watch_name_on_connection(bus_, kwinName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                                    &KWinBackend::onKWinAppeared,
                                                    &KWinBackend::onKWinVanished, this, nullptr);
    }
}

KWinBackend::~KWinBackend() {
    if (nameWatch_ != 0) {
        g_bus_unwatch_name(nameWatch_);
    }
    g_cancellable_cancel(cancellable_);
    forgetKWin();
    if (registration_ != 0) {
        g_dbus_connection_unregister_object(bus_, registration_);
    }
    if (!kwinOwner_.empty()) {
        // Also when a load is still on its way: KWin handles the two in order.
        tellKWin("unloadScript", g_variant_new("(s)", pluginName()));
        g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
    }
    g_remove(scriptPath_.c_str());
    g_object_unref(cancellable_);
    g_object_unref(bus_);
}

void KWinBackend::onKWinAppeared(GDBusConnection*, const char*, const char* owner, gpointer data) {
    auto* self = static_cast<KWinBackend*>(data);
    if (owner == nullptr || self->kwinOwner_ == owner) {
        return;
    }
    self->forgetKWin();
    self->kwinOwner_ = owner;
    self->beginLoading();
}

void KWinBackend::onKWinVanished(GDBusConnection*, const char*, gpointer data) {
    auto* self = static_cast<KWinBackend*>(data);
    self->forgetKWin();
    self->kwinOwner_.clear();
}

void KWinBackend::forgetKWin() {
    if (setup_) {
        setup_->backend = nullptr;
        setup_.reset();
    }
    for (guint* source : {&helloDeadline_, &idleAnswer_, &requestOverdue_}) {
        if (*source != 0) {
            g_source_remove(*source);
            *source = 0;
        }
    }
    if (commandRequest_ != nullptr) {
        g_object_unref(commandRequest_);
        commandRequest_ = nullptr;
    }
    ready_ = false;
    windows_.clear();
    commands_.clear();
}

void KWinBackend::tellKWin(const char* method, GVariant* parameters) {
    g_dbus_connection_call(bus_, kwinOwner_.c_str(), scriptingPath, scriptingInterface, method,
                           parameters, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr,
                           nullptr, nullptr);
}

// --- Loading the script -------------------------------------------------------------

// A call to KWin whose reply goes on with the loading, unless that load was dropped.
struct KWinBackend::LoadingCall {
    std::shared_ptr<Setup> setup;
    Step then;
};

void KWinBackend::callKWin(const std::shared_ptr<Setup>& setup, const char* path,
                           const char* interface, const char* method, GVariant* parameters,
                           const GVariantType* replyType, Step then) {
    g_dbus_connection_call(
        bus_, kwinOwner_.c_str(), path, interface, method, parameters, replyType,
        G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, cancellable_,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            const std::unique_ptr<LoadingCall> call(static_cast<LoadingCall*>(data));
            GError* error = nullptr;
            GVariant* reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            if (KWinBackend* self = call->setup->backend; self != nullptr && call->then) {
                (self->*call->then)(call->setup, reply, error);
            }
            if (reply != nullptr) {
                g_variant_unref(reply);
            }
            if (error != nullptr) {
                g_error_free(error);
            }
        },
        new LoadingCall{setup, then});
}

void KWinBackend::beginLoading() {
    setup_ = std::make_shared<Setup>();
    setup_->backend = this;
    setup_->token = randomToken();
    overdueCount_ = 0;
    // A script of ours from a run that ended without unloading it goes first.
    callKWin(setup_, scriptingPath, scriptingInterface, "unloadScript",
             g_variant_new("(s)", pluginName()), nullptr, &KWinBackend::load);
}

void KWinBackend::load(const std::shared_ptr<Setup>& setup, GVariant*, GError*) {
    const auto folder = std::string(g_get_user_runtime_dir()) + "/tarnell";
    const auto source =
        kwinScriptSource({g_dbus_connection_get_unique_name(bus_), pluginName(), setup->token});
    if (!makePrivateFolder(folder) ||
        !g_file_set_contents_full(scriptPath_.c_str(), source.data(),
                                  static_cast<gssize>(source.size()),
                                  G_FILE_SET_CONTENTS_CONSISTENT, 0600, nullptr)) {
        return; // nowhere to put the script: launch only
    }
    callKWin(setup, scriptingPath, scriptingInterface, "loadScript",
             g_variant_new("(ss)", scriptPath_.c_str(), pluginName()), G_VARIANT_TYPE("(i)"),
             &KWinBackend::loaded);
}

void KWinBackend::loaded(const std::shared_ptr<Setup>& setup, GVariant* reply, GError*) {
    if (reply != nullptr) {
        g_variant_get(reply, "(i)", &setup->scriptId);
    }
    if (setup->scriptId >= 0) {
        if (helloDeadline_ == 0) {
            helloDeadline_ = g_timeout_add(helloMilliseconds, &KWinBackend::onHelloOverdue, this);
        }
        // Plasma 6 puts the script's object under /Scripting, Plasma 5 at the root.
        const auto path = "/Scripting/Script" + std::to_string(setup->scriptId);
        callKWin(setup, path.c_str(), "org.kde.kwin.Script", "run", nullptr, nullptr,
                 &KWinBackend::ranOnPlasma6Path);
        return;
    }
    if (++setup->loadTries >= mostLoadTries) {
        return; // no scripting: launch only
    }
    // -1: the stale script goes a moment after KWin said it would; no reply: KWin
    // has not set up its scripting yet.
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, reply != nullptr ? loadRetryMilliseconds : scriptingRetryMilliseconds,
        [](gpointer data) {
            const auto& again = *static_cast<std::shared_ptr<Setup>*>(data);
            if (again->backend != nullptr) {
                again->backend->load(again, nullptr, nullptr);
            }
            return G_SOURCE_REMOVE;
        },
        new std::shared_ptr<Setup>(setup),
        [](gpointer data) { delete static_cast<std::shared_ptr<Setup>*>(data); });
}

void KWinBackend::ranOnPlasma6Path(const std::shared_ptr<Setup>& setup, GVariant*, GError* error) {
    // The reply tells only whether the object exists; that the script runs is known
    // once it says hello.
    if (error != nullptr && (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT) ||
                             g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD))) {
        // Appended rather than "/" + text: GCC 12 at -O3 misreads that as an
        // overlapping copy (-Wrestrict).
        std::string path(1, '/');
        path += std::to_string(setup->scriptId);
        callKWin(setup, path.c_str(), "org.kde.kwin.Script", "run", nullptr, nullptr, nullptr);
    }
}

gboolean KWinBackend::onHelloOverdue(gpointer data) {
    auto* self = static_cast<KWinBackend*>(data);
    if (++self->overdueCount_ == 1) {
        // KWin reuses script IDs, so `run` may have reached another script of that
        // number; this runs every loaded script that is not running yet.
        self->tellKWin("start", nullptr);
        return G_SOURCE_CONTINUE;
    }
    // It never reported back: leave nothing behind, and only launch.
    self->helloDeadline_ = 0;
    self->setup_->backend = nullptr;
    self->setup_.reset();
    self->tellKWin("unloadScript", g_variant_new("(s)", pluginName()));
    return G_SOURCE_REMOVE;
}

// --- Calls from the script ------------------------------------------------------------

void KWinBackend::onMethodCall(GDBusConnection*, const char* sender, const char*, const char*,
                               const char* method, GVariant* parameters,
                               GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<KWinBackend*>(data);
    // Anyone on the session bus can call us; only KWin runs our script.
    if (sender == nullptr || self->kwinOwner_.empty() || self->kwinOwner_ != sender) {
        g_dbus_method_invocation_return_dbus_error(invocation, accessDenied,
                                                   "Only KWin may call this object");
        return;
    }
    self->handleCall(method, parameters, invocation);
}

void KWinBackend::handleCall(std::string_view method, GVariant* parameters,
                             GDBusMethodInvocation* invocation) {
    if (method == "NextCommands") {
        holdCommandRequest(invocation);
        return;
    }
    bool accepted = false;
    if (method == "WindowChanged") {
        accepted = windowChanged(parameters);
    } else if (method == "WindowRemoved") {
        accepted = windowRemoved(parameters);
    } else if (method == "WindowActivated") {
        accepted = windowActivated(parameters);
    } else if (method == "Hello") {
        accepted = hello(parameters);
    }
    if (accepted) {
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else {
        g_dbus_method_invocation_return_dbus_error(invocation, invalidArgs, "Refused");
    }
}

bool KWinBackend::hello(GVariant* parameters) {
    const char* api = nullptr;
    const char* token = nullptr;
    g_variant_get(parameters, "(&s&s)", &api, &token);
    if (!setup_ || setup_->token != token) {
        return false; // not the load we are waiting for
    }
    ready_ = true;
    if (helloDeadline_ != 0) {
        g_source_remove(helloDeadline_);
        helloDeadline_ = 0;
    }
    // KWin has read it.
    g_remove(scriptPath_.c_str());
    return true;
}

bool KWinBackend::windowChanged(GVariant* parameters) {
    const char* id = nullptr;
    const char* desktopFileName = nullptr;
    const char* resourceClass = nullptr;
    const char* resourceName = nullptr;
    const char* pid = nullptr;
    gboolean normal = FALSE;
    gboolean background = FALSE;
    gboolean minimized = FALSE;
    g_variant_get(parameters, "(&s&s&s&s&sbbb)", &id, &desktopFileName, &resourceClass,
                  &resourceName, &pid, &normal, &background, &minimized);
    return windows_.changed({id, desktopFileName, resourceClass, resourceName, pid, normal != FALSE,
                             background != FALSE, minimized != FALSE});
}

bool KWinBackend::windowRemoved(GVariant* parameters) {
    const char* id = nullptr;
    g_variant_get(parameters, "(&s)", &id);
    return windows_.removed(id);
}

bool KWinBackend::windowActivated(GVariant* parameters) {
    const char* id = nullptr;
    g_variant_get(parameters, "(&s)", &id);
    return windows_.activated(id);
}

// --- Requests to the script -------------------------------------------------------------

void KWinBackend::holdCommandRequest(GDBusMethodInvocation* invocation) {
    // One request is held at a time; an older one ends its loop in the script.
    if (commandRequest_ != nullptr) {
        g_dbus_method_invocation_return_dbus_error(commandRequest_, superseded,
                                                   "A newer request came");
    }
    commandRequest_ = invocation;
    if (requestOverdue_ != 0) {
        g_source_remove(requestOverdue_);
        requestOverdue_ = 0;
    }
    if (idleAnswer_ != 0) {
        g_source_remove(idleAnswer_);
    }
    idleAnswer_ = g_timeout_add_seconds(idleAnswerSeconds, &KWinBackend::onIdleAnswerDue, this);
    deliverCommands();
}

gboolean KWinBackend::onIdleAnswerDue(gpointer data) {
    auto* self = static_cast<KWinBackend*>(data);
    self->idleAnswer_ = 0;
    if (self->commandRequest_ != nullptr) {
        g_dbus_method_invocation_return_value(self->commandRequest_, g_variant_new("(s)", "[]"));
        self->commandRequest_ = nullptr;
        self->expectRequest();
    }
    return G_SOURCE_REMOVE;
}

void KWinBackend::send(std::string command) {
    commands_.push_back(std::move(command));
    while (commands_.size() > mostWaitingCommands) {
        commands_.pop_front();
    }
    deliverCommands();
    if (!commands_.empty()) {
        expectRequest();
    }
}

void KWinBackend::expectRequest() {
    if (requestOverdue_ == 0) {
        requestOverdue_ =
            g_timeout_add(requestOverdueMilliseconds, &KWinBackend::onRequestOverdue, this);
    }
}

gboolean KWinBackend::onRequestOverdue(gpointer data) {
    // Somebody stopped or unloaded the script: load it again. What it was sent last
    // is lost; what waited is stale by now.
    auto* self = static_cast<KWinBackend*>(data);
    self->requestOverdue_ = 0;
    self->forgetKWin();
    self->beginLoading();
    return G_SOURCE_REMOVE;
}

void KWinBackend::deliverCommands() {
    if (commandRequest_ == nullptr || commands_.empty()) {
        return;
    }
    std::string text = "[";
    for (const auto& command : commands_) {
        text += (text.size() > 1 ? "," : "") + command;
    }
    text += "]";
    commands_.clear();
    g_dbus_method_invocation_return_value(commandRequest_, g_variant_new("(s)", text.c_str()));
    commandRequest_ = nullptr;
    expectRequest();
    if (idleAnswer_ != 0) {
        g_source_remove(idleAnswer_);
        idleAnswer_ = 0;
    }
}

// --- What the workspace asks ----------------------------------------------------------------

std::optional<engine::RunningApplication> KWinBackend::frontmost() const {
    return windows_.frontmost();
}

void KWinBackend::hide(const engine::RunningApplication& application) {
    if (!ready_) {
        return;
    }
    if (auto command = windows_.hide(application)) {
        send(std::move(*command));
    }
}

bool KWinBackend::raise(const std::string& desktopId) {
    if (!ready_) {
        return false;
    }
    auto command = windows_.raise(desktopId);
    if (!command) {
        return false;
    }
    send(std::move(*command));
    return true;
}

void KWinBackend::reidentifyWindows() {
    windows_.reidentify();
}

} // namespace tarnell::platform
