#pragma once

#include "platform/linux/input/KeyboardLayoutSource.h"

#include <cstdint>
#include <glib.h>
#include <memory>

struct xcb_connection_t;

// The layout of an X server's core keyboard, followed through XKB's events: a new
// keyboard or a new map (setxkbmap, the desktop's settings) brings the keymap anew,
// and the state's locked group is the active layout.
namespace tarnell::layout {

class X11KeyboardLayout final : public input::KeyboardLayoutSource {
public:
    // nullptr when no X server with XKB answers at the display (nullptr: $DISPLAY).
    static std::unique_ptr<X11KeyboardLayout> connect(const char* display = nullptr);
    ~X11KeyboardLayout() override;
    X11KeyboardLayout(const X11KeyboardLayout&) = delete;
    X11KeyboardLayout& operator=(const X11KeyboardLayout&) = delete;

private:
    X11KeyboardLayout(xcb_connection_t* connection, std::int32_t device, std::uint8_t xkbEvent);
    bool selectEvents();
    static gboolean onReadable(gint fd, GIOCondition condition, gpointer self);
    void takeEvents();
    // The server's keymap and locked group as they are now.
    void readLayout();

    xcb_connection_t* connection_;
    std::int32_t device_;
    std::uint8_t xkbEvent_;
    guint watch_ = 0; // on GLib's default main context
};

} // namespace tarnell::layout
