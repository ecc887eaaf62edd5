#pragma once

#include "platform/linux/layout/NamedKeyboardLayout.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnell::platform {
class SwayIpc;
}

// The layout sway types with, from its IPC: the input list at start, then its input
// events (a new keymap, another active layout, keyboards coming and going). sway
// names layouts by their descriptions ("German"); the XKB registry turns them back
// into XKB names.
namespace tarnell::layout {

// A keyboard as sway's IPC shows it.
struct SwayKeyboard {
    std::string identifier;
    bool tarnells = false; // Tarnell's own virtual keyboard
    std::vector<std::string> layoutNames;
    std::uint32_t activeLayout = 0; // within layoutNames
};

// The keyboards of a `get_inputs` reply, in sway's order. Anything malformed,
// oversized or not a keyboard is left out.
std::vector<SwayKeyboard> swayKeyboards(std::string_view reply);

// An `input` event: what changed ("added", "removed", "xkb_keymap", "xkb_layout", ...),
// the input's identifier and, when the input is a well-formed keyboard, the keyboard.
struct SwayInputChange {
    std::string change;
    std::string identifier;
    std::optional<SwayKeyboard> keyboard;
};
std::optional<SwayInputChange> swayInputChange(std::string_view event);

class SwayKeyboardLayout final : public NamedKeyboardLayout {
public:
    // nullptr when the socket cannot be reached.
    static std::unique_ptr<SwayKeyboardLayout> connect(const std::string& socketPath);
    ~SwayKeyboardLayout() override;
    SwayKeyboardLayout(const SwayKeyboardLayout&) = delete;
    SwayKeyboardLayout& operator=(const SwayKeyboardLayout&) = delete;

private:
    explicit SwayKeyboardLayout(std::unique_ptr<platform::SwayIpc> ipc);
    void onEvent(std::uint32_t type, std::string_view payload);
    // Follows Tarnell's own keyboard, whose keys the user types with, else the first.
    void follow();

    std::unique_ptr<platform::SwayIpc> ipc_;
    std::vector<SwayKeyboard> keyboards_;
    std::map<std::string, std::optional<input::XkbNames>, std::less<>> described_;
};

} // namespace tarnell::layout
