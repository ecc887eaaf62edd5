#pragma once

#include "platform/linux/workspace/SwayIpc.h"
#include "platform/linux/workspace/WindowIdentity.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// sway's windows as its IPC shows them, for hiding an application in the scratchpad
// (sway does not minimise) and bringing it back. Each request acts on sway's tree as
// sway sends it in answer to that request, so that what happened by other means is
// seen: the user's own `scratchpad show`, a window closed while hidden, a window made
// floating. Which window had the focus last follows sway's window events.
namespace tarnell::platform {

class SwayWindows {
public:
    // nullptr when the socket cannot be reached.
    static std::unique_ptr<SwayWindows> connect(const std::string& socketPath,
                                                const WindowIdentifier& identifier);
    SwayWindows(const SwayWindows&) = delete;
    SwayWindows& operator=(const SwayWindows&) = delete;

    // Moves every shown window of the application into the scratchpad. Without an
    // identifier: the focused window, when it has none either.
    void hide(const std::optional<std::string>& identifier);
    // Shows again every window that `hide` put away and that is still hidden, each as
    // it was (floating or tiled), and focuses the application's most recently focused
    // window.
    void raise(const std::string& desktopId);
    void reidentify();

private:
    struct Window {
        // As sway's tree tells it.
        std::string appId; // or the class of an X11 window
        std::optional<std::string> identity;
        bool floating = false;
        bool hidden = false; // in the scratchpad, out of sight
        // Ours.
        std::uint64_t lastFocused = 0; // 0: not focused since we connected
        bool hiddenByHide = false;     // until sway shows it again, by any means
        bool tiledBeforeHide = false;
        std::uint64_t hideMessage = 0; // the message that hid it
    };

    SwayWindows(std::unique_ptr<SwayIpc> ipc, const WindowIdentifier& identifier);
    void onEvent(std::uint32_t type, std::string_view payload);
    // Runs `action` once sway's tree as it is now has been read.
    void withCurrentTree(std::function<void()> action);
    void readTree(std::string_view payload, std::uint64_t request);
    void hideNow(const std::optional<std::string>& identifier);
    void raiseNow(const std::string& desktopId);

    std::unique_ptr<SwayIpc> ipc_;
    const WindowIdentifier& identifier_;
    std::map<std::int64_t, Window> windows_; // by container ID
    std::int64_t focused_ = -1;
    std::uint64_t focusCount_ = 0;
};

} // namespace tarnell::platform
