#pragma once

#include "platform/linux/layout/NamedKeyboardLayout.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using GDBusConnection = struct _GDBusConnection;
using GCancellable = struct _GCancellable;
using GVariant = struct _GVariant;

// The layout KWin types with on KDE Plasma. KWin makes its keymap from the [Layout]
// group of kxkbrc and offers the active layout (and, on KWin 5 only while there are
// two or more, the list) as org.kde.keyboard /Layouts. The names come from kxkbrc,
// the only place that keeps the variants, unless KWin's list disagrees with it; the
// active layout from KWin. Followed through the settings' reloadConfig broadcast,
// KWin's layoutChanged and layoutListChanged, and the service coming and going.
namespace tarnell::layout {

// The names KWin makes of a kxkbrc text: LayoutList, VariantList, Model (pc104 when
// absent), Options only when ResetOldOptions is true; empty fields take the XKB
// defaults.
input::XkbNames kxkbrcNames(std::string_view text);

class KdeKeyboardLayout final : public NamedKeyboardLayout {
public:
    // nullptr without a session bus.
    static std::unique_ptr<KdeKeyboardLayout> connect();
    ~KdeKeyboardLayout() override;
    KdeKeyboardLayout(const KdeKeyboardLayout&) = delete;
    KdeKeyboardLayout& operator=(const KdeKeyboardLayout&) = delete;

private:
    explicit KdeKeyboardLayout(GDBusConnection* bus);
    // Reads kxkbrc again and asks KWin for its list and active layout.
    void refresh();
    void publishGroup(std::uint32_t group);
    void call(const char* method, void (*done)(KdeKeyboardLayout&, GVariant*));

    static void onSignal(GDBusConnection*, const char*, const char*, const char*, const char* name,
                         GVariant* parameters, void* self);
    static void onServiceAppeared(GDBusConnection*, const char*, const char*, void* self);
    static void onServiceVanished(GDBusConnection*, const char*, void* self);

    GDBusConnection* bus_;
    GCancellable* cancellable_;
    std::vector<unsigned> subscriptions_;
    unsigned nameWatch_ = 0;
    bool servicePresent_ = false;
    input::XkbNames configured_;           // from kxkbrc
    std::vector<std::string> kwinLayouts_; // KWin's list, when it offers one
};

} // namespace tarnell::layout
