#pragma once

#include <array>
#include <cstdint>
#include <linux/input-event-codes.h>
#include <utility>
#include <vector>

namespace tarnell::input {

// The input layer's whole key mapping: which kernel key each key produces before
// anything else sees it. Identity unless a mapping was set.
class KeyMap {
public:
    KeyMap() { clear(); }

    [[nodiscard]] std::uint16_t apply(std::uint16_t code) const {
        return code < table_.size() ? table_[code] : code;
    }

    void clear() {
        for (std::size_t i = 0; i < table_.size(); ++i) {
            table_[i] = static_cast<std::uint16_t>(i);
        }
    }

    // Replaces the whole mapping with these (source, destination) kernel key pairs.
    void set(const std::vector<std::pair<std::uint16_t, std::uint16_t>>& pairs) {
        clear();
        for (const auto& [from, to] : pairs) {
            if (from < table_.size() && to < table_.size()) {
                table_[from] = to;
            }
        }
    }

    [[nodiscard]] bool isIdentity() const {
        for (std::size_t i = 0; i < table_.size(); ++i) {
            if (table_[i] != i) {
                return false;
            }
        }
        return true;
    }

private:
    std::array<std::uint16_t, KEY_CNT> table_{};
};

} // namespace tarnell::input
