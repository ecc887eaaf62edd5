#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnell {

// The per-user key-value store that keeps the shortcuts and settings.
class KeyValueStore {
public:
    virtual ~KeyValueStore() = default;

    // The data value stored under the key, or nullopt when absent or not data.
    virtual std::optional<std::string> dataForKey(std::string_view key) = 0;
    // The stored value converted to a Boolean (a Boolean, or a number equal to 0
    // or 1), or nullopt when absent or of another kind or value.
    virtual std::optional<bool> boolForKey(std::string_view key) = 0;

    // Writes happen at once and atomically; failures are not reported.
    virtual void setData(std::string_view key, std::string_view bytes) = 0;
    virtual void setBool(std::string_view key, bool value) = 0;

    // The value now stored under the key was found unreadable by its reader: keep a
    // copy of it aside before the next write replaces it, so nothing is lost.
    virtual void preserveUnreadable(std::string_view key) = 0;
};

} // namespace tarnell
