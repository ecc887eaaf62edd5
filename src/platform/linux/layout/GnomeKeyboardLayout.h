#pragma once

#include "platform/linux/gnome/GnomeShellClient.h"
#include "platform/linux/layout/NamedKeyboardLayout.h"

#include <memory>

// The layout GNOME Shell types with: the input source that Tarnell's extension
// reports, and each change of it. Only "xkb" sources name a layout; with another
// (an input method) or none, the last layout stays.
namespace tarnell::layout {

class GnomeKeyboardLayout final : public NamedKeyboardLayout {
public:
    // nullptr without a session bus.
    static std::unique_ptr<GnomeKeyboardLayout> connect();
    ~GnomeKeyboardLayout() override;
    GnomeKeyboardLayout(const GnomeKeyboardLayout&) = delete;
    GnomeKeyboardLayout& operator=(const GnomeKeyboardLayout&) = delete;

private:
    explicit GnomeKeyboardLayout(GDBusConnection* bus);
    void follow();

    GDBusConnection* bus_;
    platform::gnome::GnomeShellClient client_;
    platform::gnome::GnomeShellClient::InputSource followed_;
};

} // namespace tarnell::layout
