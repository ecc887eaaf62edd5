#include "platform/linux/layout/GnomeKeyboardLayout.h"

#include "platform/linux/diagnostics/Diagnostics.h"
#include "platform/linux/layout/InputSourceNames.h"

namespace tarnell::layout {

std::unique_ptr<GnomeKeyboardLayout> GnomeKeyboardLayout::connect() {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<GnomeKeyboardLayout>(new GnomeKeyboardLayout(bus));
}

GnomeKeyboardLayout::GnomeKeyboardLayout(GDBusConnection* bus) : bus_(bus), client_(bus) {
    client_.setOnChange([this] { follow(); });
}

GnomeKeyboardLayout::~GnomeKeyboardLayout() {
    g_object_unref(bus_);
}

void GnomeKeyboardLayout::follow() {
    const auto& source = client_.inputSource();
    if (source == followed_) {
        return; // focus and windows change far more often than the layout
    }
    followed_ = source;
    if (source.type != "xkb") {
        return;
    }
    if (const auto names = xkbNamesOfInputSource(source.id)) {
        publishNames(*names, 0);
    } else {
        platform::diagnose("key text: GNOME's input source %s names no layout", source.id.c_str());
    }
}

} // namespace tarnell::layout
