#pragma once

#include "bindings/ApplicationDirectory.h"
#include "bindings/KeyValueStore.h"

#include <map>
#include <string>
#include <variant>

namespace tarnell::test {

// A key-value store in memory; two stores made from one of these see the same data.
class MemoryKeyValueStore final : public KeyValueStore {
public:
    std::optional<std::string> dataForKey(std::string_view key) override {
        const auto found = values.find(std::string(key));
        if (found == values.end() || !std::holds_alternative<std::string>(found->second)) {
            return std::nullopt;
        }
        return std::get<std::string>(found->second);
    }
    std::optional<bool> boolForKey(std::string_view key) override {
        const auto found = values.find(std::string(key));
        if (found == values.end() || !std::holds_alternative<bool>(found->second)) {
            return std::nullopt;
        }
        return std::get<bool>(found->second);
    }
    void setData(std::string_view key, std::string_view bytes) override {
        values[std::string(key)] = std::string(bytes);
    }
    void setBool(std::string_view key, bool value) override { values[std::string(key)] = value; }
    void preserveUnreadable(std::string_view) override {}

    std::map<std::string, std::variant<bool, std::string>, std::less<>> values;
};

// Applications known by path; names for other paths are their last component.
class FakeApplicationDirectory final : public ApplicationDirectory {
public:
    std::optional<std::string> urlForApplication(std::string_view) override { return std::nullopt; }
    std::optional<std::string> defaultApplicationFor(std::string_view) override {
        return std::nullopt;
    }
    std::string displayNameAtPath(std::string_view path) override {
        if (const auto found = names.find(std::string(path)); found != names.end()) {
            return found->second;
        }
        const auto slash = path.rfind('/');
        return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
    }

    std::map<std::string, std::string> names;
};

} // namespace tarnell::test
