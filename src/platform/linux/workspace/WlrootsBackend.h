#pragma once

#include "platform/linux/workspace/SwayWindows.h"
#include "platform/linux/workspace/WindowBackend.h"
#include "platform/linux/workspace/WindowIdentity.h"

#include <cstdint>
#include <glib-unix.h>
#include <glib.h>
#include <map>
#include <memory>
#include <string>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct wl_array;
struct wl_output;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct xdg_activation_v1;
struct xdg_activation_token_v1;

namespace tarnell::platform {

// Windows of a wlroots compositor, through its foreign-toplevel protocol. The list of
// windows, their application IDs, which are minimised and the focused one are kept
// current from the protocol's events, read on the default GLib main context. sway
// does not minimise on request, so on sway windows are hidden in its scratchpad and
// brought back through its IPC.
class WlrootsBackend final : public WindowBackend {
public:
    // nullptr when the display cannot be reached or does not offer the protocol.
    // `display` is a socket name or an absolute path.
    static std::unique_ptr<WlrootsBackend> connect(const char* display,
                                                   const WindowIdentifier& identifier);
    ~WlrootsBackend() override;
    WlrootsBackend(const WlrootsBackend&) = delete;
    WlrootsBackend& operator=(const WlrootsBackend&) = delete;

    std::optional<engine::RunningApplication> frontmost() const override;
    void hide(const engine::RunningApplication& application) override;
    bool raise(const std::string& desktopId) override;
    // Asks the compositor for an activation token for the program (when it offers
    // activation); the program hands it over with its first window.
    void prepareLaunch(std::function<void(Environment)> ready) override;
    void reidentifyWindows() override;

    // The application IDs of the windows, in the order they appeared.
    std::vector<std::string> applicationIds() const;

private:
    struct Toplevel {
        WlrootsBackend* owner = nullptr;
        zwlr_foreign_toplevel_handle_v1* handle = nullptr;
        std::uint64_t key = 0;
        std::string appId;
        std::string pendingAppId;
        bool activated = false;
        bool pendingActivated = false;
        bool minimized = false;
        bool pendingMinimized = false;
        bool hiddenByHide = false; // minimised by `hide` and not shown since
        std::optional<std::string> identity;
        std::uint64_t lastActivated = 0; // 0: never had the focus
    };

    WlrootsBackend(wl_display* display, const WindowIdentifier& identifier);
    bool bind();
    static gboolean onReadable(gint fd, GIOCondition condition, gpointer self);
    void flush();
    std::vector<Toplevel*> toplevelsOf(const engine::RunningApplication& application);

    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t version);
    static void onGlobalRemove(void* data, wl_registry* registry, std::uint32_t name);
    static void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1* manager,
                           zwlr_foreign_toplevel_handle_v1* handle);
    static void onFinished(void* data, zwlr_foreign_toplevel_manager_v1* manager);
    static void onTitle(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* title);
    static void onAppId(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* appId);
    static void onOutput(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_output* output);
    static void onState(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* states);
    static void onDone(void* data, zwlr_foreign_toplevel_handle_v1* handle);
    static void onClosed(void* data, zwlr_foreign_toplevel_handle_v1* handle);
    static void onParent(void* data, zwlr_foreign_toplevel_handle_v1* handle,
                         zwlr_foreign_toplevel_handle_v1* parent);
    static void onToken(void* data, xdg_activation_token_v1* token, const char* text);
    void abandonTokenRequests();

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
    xdg_activation_v1* activation_ = nullptr;
    std::map<xdg_activation_token_v1*, std::function<void(Environment)>> tokenRequests_;
    const WindowIdentifier& identifier_;
    std::map<std::uint64_t, std::unique_ptr<Toplevel>> toplevels_;
    std::uint64_t nextKey_ = 1;
    std::uint64_t activationCount_ = 0;
    const Toplevel* active_ = nullptr;
    std::unique_ptr<SwayWindows> sway_;
    guint watch_ = 0;
};

} // namespace tarnell::platform
