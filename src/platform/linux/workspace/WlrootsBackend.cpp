#include "platform/linux/workspace/WlrootsBackend.h"

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
#include "xdg-activation-v1-client-protocol.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <wayland-client.h>

namespace tarnell::platform {
namespace {

constexpr std::uint32_t highestManagerVersion = 3;
constexpr std::uint32_t highestSeatVersion = 1;
constexpr std::uint32_t highestActivationVersion = 1;

} // namespace

std::unique_ptr<WlrootsBackend> WlrootsBackend::connect(const char* display,
                                                        const WindowIdentifier& identifier) {
    wl_display* connection = wl_display_connect(display);
    if (connection == nullptr) {
        return nullptr;
    }
    std::unique_ptr<WlrootsBackend> backend(new WlrootsBackend(connection, identifier));
    if (!backend->bind()) {
        return nullptr;
    }
    return backend;
}

WlrootsBackend::WlrootsBackend(wl_display* display, const WindowIdentifier& identifier)
    : display_(display), identifier_(identifier) {}

WlrootsBackend::~WlrootsBackend() {
    if (watch_ != 0) {
        g_source_remove(watch_);
    }
    for (auto& [key, toplevel] : toplevels_) {
        zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle);
    }
    // Launches still waiting for a token are dropped with us.
    for (auto& [token, ready] : tokenRequests_) {
        xdg_activation_token_v1_destroy(token);
    }
    if (activation_ != nullptr) {
        xdg_activation_v1_destroy(activation_);
    }
    if (manager_ != nullptr) {
        zwlr_foreign_toplevel_manager_v1_stop(manager_);
        zwlr_foreign_toplevel_manager_v1_destroy(manager_);
    }
    if (seat_ != nullptr) {
        wl_seat_destroy(seat_);
    }
    if (registry_ != nullptr) {
        wl_registry_destroy(registry_);
    }
    wl_display_flush(display_);
    wl_display_disconnect(display_);
}

bool WlrootsBackend::bind() {
    static const wl_registry_listener registryListener{&WlrootsBackend::onGlobal,
                                                       &WlrootsBackend::onGlobalRemove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &registryListener, this);
    // Once for the globals, once more for the windows that exist already.
    if (wl_display_roundtrip(display_) < 0 || manager_ == nullptr ||
        wl_display_roundtrip(display_) < 0) {
        return false;
    }
    if (const char* swaySocket = std::getenv("SWAYSOCK"); swaySocket != nullptr) {
        sway_ = SwayWindows::connect(swaySocket, identifier_);
    }
    watch_ = g_unix_fd_add(wl_display_get_fd(display_),
                           static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                           &WlrootsBackend::onReadable, this);
    // Nothing read so far may wait for the socket to become readable again.
    wl_display_dispatch_pending(display_);
    return true;
}

gboolean WlrootsBackend::onReadable(gint, GIOCondition, gpointer self) {
    auto* backend = static_cast<WlrootsBackend*>(self);
    wl_display* display = backend->display_;
    if (wl_display_prepare_read(display) == 0) {
        wl_display_read_events(display);
    }
    wl_display_dispatch_pending(display);
    if (wl_display_get_error(display) != 0) {
        // The compositor is gone: nothing is in front any more.
        backend->active_ = nullptr;
        backend->abandonTokenRequests();
        backend->watch_ = 0;
        return G_SOURCE_REMOVE;
    }
    wl_display_flush(display);
    return G_SOURCE_CONTINUE;
}

void WlrootsBackend::flush() {
    wl_display_flush(display_);
}

void WlrootsBackend::onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                              const char* interface, std::uint32_t version) {
    static const zwlr_foreign_toplevel_manager_v1_listener managerListener{
        &WlrootsBackend::onToplevel, &WlrootsBackend::onFinished};
    auto* self = static_cast<WlrootsBackend*>(data);
    if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0 &&
        self->manager_ == nullptr) {
        self->manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface,
                             std::min(version, highestManagerVersion)));
        zwlr_foreign_toplevel_manager_v1_add_listener(self->manager_, &managerListener, self);
    } else if (std::strcmp(interface, xdg_activation_v1_interface.name) == 0 &&
               self->activation_ == nullptr) {
        self->activation_ = static_cast<xdg_activation_v1*>(
            wl_registry_bind(registry, name, &xdg_activation_v1_interface,
                             std::min(version, highestActivationVersion)));
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->seat_ == nullptr) {
        self->seat_ = static_cast<wl_seat*>(wl_registry_bind(
            registry, name, &wl_seat_interface, std::min(version, highestSeatVersion)));
    }
}

void WlrootsBackend::onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

void WlrootsBackend::onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                                zwlr_foreign_toplevel_handle_v1* handle) {
    static const zwlr_foreign_toplevel_handle_v1_listener listener{
        &WlrootsBackend::onTitle,  &WlrootsBackend::onAppId, &WlrootsBackend::onOutput,
        &WlrootsBackend::onOutput, &WlrootsBackend::onState, &WlrootsBackend::onDone,
        &WlrootsBackend::onClosed, &WlrootsBackend::onParent};
    auto* self = static_cast<WlrootsBackend*>(data);
    auto toplevel = std::make_unique<Toplevel>();
    toplevel->owner = self;
    toplevel->handle = handle;
    toplevel->key = self->nextKey_++;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &listener, toplevel.get());
    self->toplevels_.emplace(toplevel->key, std::move(toplevel));
}

void WlrootsBackend::onFinished(void* data, zwlr_foreign_toplevel_manager_v1* manager) {
    auto* self = static_cast<WlrootsBackend*>(data);
    zwlr_foreign_toplevel_manager_v1_destroy(manager);
    self->manager_ = nullptr;
}

void WlrootsBackend::onTitle(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}

void WlrootsBackend::onAppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
    static_cast<Toplevel*>(data)->pendingAppId = appId != nullptr ? appId : "";
}

void WlrootsBackend::onOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}

void WlrootsBackend::onState(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
    auto* toplevel = static_cast<Toplevel*>(data);
    const auto* first = static_cast<const std::uint32_t*>(states->data);
    const auto* last = first + states->size / sizeof(std::uint32_t);
    toplevel->pendingActivated =
        std::find(first, last, ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) != last;
    toplevel->pendingMinimized =
        std::find(first, last, ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED) != last;
}

void WlrootsBackend::onDone(void* data, zwlr_foreign_toplevel_handle_v1*) {
    auto* toplevel = static_cast<Toplevel*>(data);
    auto* self = toplevel->owner;
    if (toplevel->pendingAppId != toplevel->appId || !toplevel->identity) {
        const auto known = toplevel->identity;
        toplevel->appId = toplevel->pendingAppId;
        toplevel->identity =
            self->identifier_.identifyFromHints(WindowHints{toplevel->appId, {}, {}, 0});
        if (toplevel->identity && toplevel->identity != known) {
            self->reportWindowShown(*toplevel->identity);
        }
    }
    // Shown again, whoever did it: no longer one of the windows to bring back.
    if (toplevel->minimized && !toplevel->pendingMinimized) {
        toplevel->hiddenByHide = false;
    }
    toplevel->minimized = toplevel->pendingMinimized;
    toplevel->activated = toplevel->pendingActivated;
    if (toplevel->activated) {
        toplevel->lastActivated = ++self->activationCount_;
        self->active_ = toplevel;
    } else if (self->active_ == toplevel) {
        self->active_ = nullptr;
    }
}

void WlrootsBackend::onClosed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    auto* toplevel = static_cast<Toplevel*>(data);
    auto* self = toplevel->owner;
    if (self->active_ == toplevel) {
        self->active_ = nullptr;
    }
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
    self->toplevels_.erase(toplevel->key);
}

void WlrootsBackend::onParent(void*, zwlr_foreign_toplevel_handle_v1*,
                              zwlr_foreign_toplevel_handle_v1*) {}

std::optional<engine::RunningApplication> WlrootsBackend::frontmost() const {
    if (active_ == nullptr) {
        return std::nullopt;
    }
    return engine::RunningApplication{active_->identity, active_->key};
}

std::vector<std::string> WlrootsBackend::applicationIds() const {
    std::vector<std::string> ids;
    for (const auto& [key, toplevel] : toplevels_) {
        ids.push_back(toplevel->appId);
    }
    return ids;
}

void WlrootsBackend::reidentifyWindows() {
    for (auto& [key, toplevel] : toplevels_) {
        const auto known = toplevel->identity;
        toplevel->identity = identifier_.identifyFromHints(WindowHints{toplevel->appId, {}, {}, 0});
        if (toplevel->identity && toplevel->identity != known) {
            reportWindowShown(*toplevel->identity);
        }
    }
    if (sway_) {
        sway_->reidentify();
    }
}

std::vector<WlrootsBackend::Toplevel*>
WlrootsBackend::toplevelsOf(const engine::RunningApplication& application) {
    std::vector<Toplevel*> result;
    for (auto& [key, toplevel] : toplevels_) {
        if (key == application.handle ||
            (application.identifier && toplevel->identity == application.identifier)) {
            result.push_back(toplevel.get());
        }
    }
    return result;
}

void WlrootsBackend::hide(const engine::RunningApplication& application) {
    if (sway_) {
        sway_->hide(application.identifier);
        return;
    }
    for (auto* toplevel : toplevelsOf(application)) {
        // A window the user had minimised already stays so when the rest comes back.
        toplevel->hiddenByHide = toplevel->hiddenByHide || !toplevel->minimized;
        zwlr_foreign_toplevel_handle_v1_set_minimized(toplevel->handle);
    }
    flush();
}

bool WlrootsBackend::raise(const std::string& desktopId) {
    // Least recently focused first.
    std::vector<Toplevel*> own;
    for (auto& [key, toplevel] : toplevels_) {
        if (toplevel->identity == desktopId) {
            own.push_back(toplevel.get());
        }
    }
    if (own.empty()) {
        return false;
    }
    if (sway_) {
        sway_->raise(desktopId);
        return true;
    }
    std::stable_sort(own.begin(), own.end(), [](const Toplevel* a, const Toplevel* b) {
        return a->lastActivated < b->lastActivated;
    });
    // In front goes the most recent window that is shown or is coming back; one that
    // the user minimised comes back only when there is no other.
    const auto front = std::find_if(own.rbegin(), own.rend(), [](const Toplevel* toplevel) {
        return toplevel->hiddenByHide || !toplevel->minimized;
    });
    Toplevel* frontWindow = front != own.rend() ? *front : own.back();
    for (auto* toplevel : own) {
        if (toplevel->hiddenByHide && toplevel != frontWindow) {
            zwlr_foreign_toplevel_handle_v1_unset_minimized(toplevel->handle);
        }
        toplevel->hiddenByHide = false;
    }
    zwlr_foreign_toplevel_handle_v1_unset_minimized(frontWindow->handle);
    if (seat_ != nullptr) {
        zwlr_foreign_toplevel_handle_v1_activate(frontWindow->handle, seat_);
    }
    flush();
    return true;
}

void WlrootsBackend::prepareLaunch(std::function<void(Environment)> ready) {
    static const xdg_activation_token_v1_listener listener{&WlrootsBackend::onToken};
    if (activation_ == nullptr) {
        ready({});
        return;
    }
    auto* token = xdg_activation_v1_get_activation_token(activation_);
    xdg_activation_token_v1_add_listener(token, &listener, this);
    tokenRequests_.emplace(token, std::move(ready));
    xdg_activation_token_v1_commit(token);
    flush();
}

void WlrootsBackend::onToken(void* data, xdg_activation_token_v1* token, const char* text) {
    auto* self = static_cast<WlrootsBackend*>(data);
    const auto it = self->tokenRequests_.find(token);
    auto ready = std::move(it->second);
    self->tokenRequests_.erase(it);
    xdg_activation_token_v1_destroy(token);
    ready({{"XDG_ACTIVATION_TOKEN", text != nullptr ? text : ""}});
}

void WlrootsBackend::abandonTokenRequests() {
    // Launch without a token rather than never.
    auto requests = std::move(tokenRequests_);
    tokenRequests_.clear();
    for (auto& [token, ready] : requests) {
        xdg_activation_token_v1_destroy(token);
        ready({});
    }
}

} // namespace tarnell::platform
