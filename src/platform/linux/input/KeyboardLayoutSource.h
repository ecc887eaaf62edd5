#pragma once

#include "platform/linux/input/XkbKeymap.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

namespace tarnell::input {

// The layout the desktop types with: a keymap and which of its layouts (groups) is
// active.
struct KeyboardLayout {
    std::shared_ptr<const XkbKeymap> keymap; // null while not known
    std::uint32_t group = 0;
    friend bool operator==(const KeyboardLayout&, const KeyboardLayout&) = default;
};

// The keyboard layout in use in the session, followed through the events of the
// desktop that owns it (one implementation per desktop). Lives on the main loop and
// tells its listener there, once per change of the keymap or of the active group.
class KeyboardLayoutSource {
public:
    using Listener = std::function<void(const KeyboardLayout&)>;

    virtual ~KeyboardLayoutSource() = default;

    [[nodiscard]] const KeyboardLayout& current() const { return current_; }
    // One listener; an empty one stops the calls.
    void setListener(Listener listener) { listener_ = std::move(listener); }

protected:
    KeyboardLayoutSource() = default;
    // A layout without a keymap changes nothing; a group the keymap does not have
    // is taken as its first.
    void publish(KeyboardLayout layout) {
        if (!layout.keymap) {
            return;
        }
        if (layout.group >= layout.keymap->layoutCount()) {
            layout.group = 0;
        }
        if (layout == current_) {
            return;
        }
        current_ = std::move(layout);
        if (listener_) {
            listener_(current_);
        }
    }

private:
    KeyboardLayout current_;
    Listener listener_;
};

} // namespace tarnell::input
