#include "platform/linux/layout/NamedKeyboardLayout.h"

#include <algorithm>

namespace tarnell::layout {
namespace {

// A user switches among a few layouts.
constexpr std::size_t kKeptKeymaps = 4;

} // namespace

void NamedKeyboardLayout::publishNames(const input::XkbNames& names, std::uint32_t group) {
    publish({keymapOf(names), group});
}

std::shared_ptr<const input::XkbKeymap>
NamedKeyboardLayout::keymapOf(const input::XkbNames& names) {
    const auto known = std::find_if(recent_.begin(), recent_.end(),
                                    [&](const auto& entry) { return entry.first == names; });
    if (known != recent_.end()) {
        return known->second;
    }
    auto keymap = input::XkbKeymap::fromNames(names);
    if (keymap) {
        if (recent_.size() == kKeptKeymaps) {
            recent_.pop_front();
        }
        recent_.emplace_back(names, keymap);
    }
    return keymap;
}

} // namespace tarnell::layout
