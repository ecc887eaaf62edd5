// Against a headless sway: the layout changes through sway's own commands while the
// input layer runs. That sway has no keyboard of its own, so the test brings one, as
// a Wayland virtual keyboard, for sway to apply its input settings to.
#include "platform/linux/layout/SwayKeyboardLayout.h"

#include "platform/linux/layout/HyperTyping.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

using namespace tarnell::layout;
using namespace tarnell::layout::testing;

namespace {

class WaylandVirtualKeyboard {
public:
    WaylandVirtualKeyboard() : display_(wl_display_connect(nullptr)) {
        if (display_ == nullptr) {
            return;
        }
        wl_registry* registry = wl_display_get_registry(display_);
        static const wl_registry_listener listener{&WaylandVirtualKeyboard::global,
                                                   [](void*, wl_registry*, std::uint32_t) {}};
        wl_registry_add_listener(registry, &listener, this);
        wl_display_roundtrip(display_);
        if (seat_ != nullptr && manager_ != nullptr) {
            keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager_, seat_);
            sendKeymap();
            ready_ = wl_display_roundtrip(display_) >= 0;
        }
        wl_registry_destroy(registry);
    }
    ~WaylandVirtualKeyboard() {
        if (keyboard_ != nullptr) {
            zwp_virtual_keyboard_v1_destroy(keyboard_);
        }
        if (manager_ != nullptr) {
            zwp_virtual_keyboard_manager_v1_destroy(manager_);
        }
        if (seat_ != nullptr) {
            wl_seat_destroy(seat_);
        }
        if (display_ != nullptr) {
            wl_display_disconnect(display_);
        }
    }
    WaylandVirtualKeyboard(const WaylandVirtualKeyboard&) = delete;
    WaylandVirtualKeyboard& operator=(const WaylandVirtualKeyboard&) = delete;

    [[nodiscard]] bool ready() const { return ready_; }

private:
    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t) {
        auto& self = *static_cast<WaylandVirtualKeyboard*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && self.seat_ == nullptr) {
            self.seat_ =
                static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
            self.manager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
        }
    }
    // A keyboard must bring a keymap; sway then gives it the one of its settings.
    void sendKeymap() {
        xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        xkb_keymap* keymap =
            xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
        char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        const std::size_t size = std::strlen(text) + 1;
        const int fd = memfd_create("keymap", MFD_CLOEXEC);
        if (fd >= 0 && ::write(fd, text, size) == static_cast<ssize_t>(size)) {
            zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                           static_cast<std::uint32_t>(size));
        }
        if (fd >= 0) {
            ::close(fd);
        }
        std::free(text);
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
    }

    wl_display* display_;
    wl_seat* seat_ = nullptr;
    zwp_virtual_keyboard_manager_v1* manager_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    bool ready_ = false;
};

int sway(const std::string& command) {
    return std::system(("swaymsg -q -- " + command).c_str());
}

} // namespace

TEST(SwayKeyboardLayout, KeyTextFollowsSwaysKeymapAndActiveLayout) {
    WaylandVirtualKeyboard device;
    ASSERT_TRUE(device.ready());
    auto layout = SwayKeyboardLayout::connect(std::getenv("SWAYSOCK"));
    ASSERT_NE(layout, nullptr);
    HyperTyping typing(*layout);
    EXPECT_TRUE(typing.typesEventually(KEY_Y, u"y"));

    ASSERT_EQ(sway("input type:keyboard xkb_layout de"), 0);
    EXPECT_TRUE(typing.typesEventually(KEY_Y, u"z"));

    ASSERT_EQ(sway("'input type:keyboard xkb_layout \"us,ru\"'"), 0);
    EXPECT_TRUE(typing.typesEventually(KEY_S, u"s"));
    ASSERT_EQ(sway("input type:keyboard xkb_switch_layout 1"), 0);
    EXPECT_TRUE(typing.typesEventually(KEY_S, u"ы"));
    ASSERT_EQ(sway("input type:keyboard xkb_switch_layout 0"), 0);
    EXPECT_TRUE(typing.typesEventually(KEY_S, u"s"));
}
