#pragma once

#include "platform/linux/workspace/KWinWindows.h"
#include "platform/linux/workspace/WindowBackend.h"
#include "platform/linux/workspace/WindowIdentity.h"

#include <deque>
#include <gio/gio.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnell::platform {

// Windows of KWin (KDE Plasma 5.27 and 6), through a script of ours that KWin runs:
// the script reports every window, its changes and the focus to a D-Bus object of
// ours, and fetches our requests to activate and minimise windows by calling us back.
// Only KWin may call that object, and what it says is checked like any input.
//
// The script is (re)loaded whenever KWin appears on the session bus, a script of ours
// left behind by an earlier run is unloaded first, and ours is unloaded when this
// goes. Until the script has reported back, the workspace can only launch.
class KWinBackend final : public WindowBackend {
public:
    // nullptr when the session is not KWin's: XDG_CURRENT_DESKTOP names no KDE and
    // nobody owns org.kde.KWin, or there is no session bus.
    static std::unique_ptr<KWinBackend> connect(const WindowIdentifier& identifier);
    ~KWinBackend() override;
    KWinBackend(const KWinBackend&) = delete;
    KWinBackend& operator=(const KWinBackend&) = delete;

    std::optional<engine::RunningApplication> frontmost() const override;
    void hide(const engine::RunningApplication& application) override;
    bool raise(const std::string& desktopId) override;
    void reidentifyWindows() override;

    // The script runs and has reported back.
    bool ready() const { return ready_; }
    // The name KWin knows our script by.
    static const char* pluginName();

    // The windows as KWin last reported them, oldest first.
    std::vector<KWinWindows::State> windows() const { return windows_.states(); }

private:
    struct Setup;
    struct LoadingCall;
    using Step = void (KWinBackend::*)(const std::shared_ptr<Setup>& setup, GVariant* reply,
                                       GError* error);

    KWinBackend(GDBusConnection* bus, const WindowIdentifier& identifier);
    static void onKWinAppeared(GDBusConnection* bus, const char* name, const char* owner,
                               gpointer self);
    static void onKWinVanished(GDBusConnection* bus, const char* name, gpointer self);
    static void onMethodCall(GDBusConnection* bus, const char* sender, const char* path,
                             const char* interface, const char* method, GVariant* parameters,
                             GDBusMethodInvocation* invocation, gpointer self);
    void handleCall(std::string_view method, GVariant* parameters,
                    GDBusMethodInvocation* invocation);
    bool windowChanged(GVariant* parameters);
    bool windowRemoved(GVariant* parameters);
    bool windowActivated(GVariant* parameters);
    bool hello(GVariant* parameters);
    void holdCommandRequest(GDBusMethodInvocation* invocation);
    static gboolean onIdleAnswerDue(gpointer self);
    static gboolean onRequestOverdue(gpointer self);

    // Loading the script, step by step; each step drops out when a newer load began
    // or this is gone.
    void beginLoading();
    void callKWin(const std::shared_ptr<Setup>& setup, const char* path, const char* interface,
                  const char* method, GVariant* parameters, const GVariantType* replyType,
                  Step then);
    void load(const std::shared_ptr<Setup>& setup, GVariant* reply, GError* error);
    void loaded(const std::shared_ptr<Setup>& setup, GVariant* reply, GError* error);
    void ranOnPlasma6Path(const std::shared_ptr<Setup>& setup, GVariant* reply, GError* error);
    static gboolean onHelloOverdue(gpointer self);
    // Calls KWin's scripting without waiting for the answer.
    void tellKWin(const char* method, GVariant* parameters);
    void forgetKWin();

    void send(std::string command);
    void deliverCommands();
    // The script asks for work again at once after each answer; when it does not, it
    // is gone.
    void expectRequest();

    GDBusConnection* bus_;
    KWinWindows windows_;
    std::string scriptPath_;
    guint registration_ = 0;
    guint nameWatch_ = 0;
    GCancellable* cancellable_;
    std::string kwinOwner_; // the unique name of KWin; only it may call us
    std::shared_ptr<Setup> setup_;
    bool ready_ = false;
    guint helloDeadline_ = 0;
    int overdueCount_ = 0;

    std::deque<std::string> commands_; // JSON objects waiting for the script
    GDBusMethodInvocation* commandRequest_ = nullptr;
    guint idleAnswer_ = 0;
    guint requestOverdue_ = 0;
};

} // namespace tarnell::platform
