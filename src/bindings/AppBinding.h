#pragma once

#include "bindings/Uuid.h"

#include <string>

namespace tarnell {

// One shortcut: the key that, pressed while Hyper is held, opens one application.
struct AppBinding {
    Uuid id = Uuid::random();
    std::string key;    // as assigned or as stored; never normalised
    std::string appURL; // absolute URL string: file URL of the application's .desktop file

    // id, then key (canonically equivalent text is equal, case matters), then appURL.
    friend bool operator==(const AppBinding& a, const AppBinding& b);
};

// Exact key equality: canonically equivalent Unicode text compares equal.
bool keysEqual(std::string_view a, std::string_view b);

} // namespace tarnell

template <> struct std::hash<tarnell::AppBinding> {
    std::size_t operator()(const tarnell::AppBinding& binding) const noexcept;
};
