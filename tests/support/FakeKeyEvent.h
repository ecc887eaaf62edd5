#pragma once

#include "engine/KeyEvent.h"

#include <algorithm>
#include <string>

namespace tarnell::testing {

struct FakeKeyEvent final : engine::KeyEvent {
    std::int64_t keycode = 0;
    std::int64_t autorepeat = 0;
    std::uint64_t eventFlags = 0;
    std::u16string text;
    mutable int textReads = 0;

    std::int64_t integerValueField(int field) const override {
        if (field == engine::kFieldKeycode) {
            return keycode;
        }
        if (field == engine::kFieldAutorepeat) {
            return autorepeat;
        }
        return 0;
    }
    std::uint64_t flags() const override { return eventFlags; }
    void setFlags(std::uint64_t value) override { eventFlags = value; }
    int unicodeString(char16_t* buffer, int maxLength) const override {
        ++textReads;
        const int n = std::min(static_cast<int>(text.size()), maxLength);
        std::copy_n(text.begin(), n, buffer);
        return n;
    }
};

} // namespace tarnell::testing
