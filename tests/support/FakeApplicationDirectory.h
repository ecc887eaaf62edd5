#pragma once

#include "bindings/ApplicationDirectory.h"

#include <map>
#include <string>

namespace tarnell::testing {

// Installed applications by identifier, and display names by path.
class FakeApplicationDirectory : public ApplicationDirectory {
public:
    std::optional<std::string> urlForApplication(std::string_view identifier) override {
        const auto it = installed.find(std::string(identifier));
        return it == installed.end() ? std::nullopt : std::optional(it->second);
    }
    std::optional<std::string> defaultApplicationFor(std::string_view contentType) override {
        const auto it = defaults.find(std::string(contentType));
        return it == defaults.end() ? std::nullopt : std::optional(it->second);
    }
    std::string displayNameAtPath(std::string_view path) override {
        const auto it = names.find(std::string(path));
        if (it != names.end()) {
            return it->second;
        }
        const auto slash = path.rfind('/');
        return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
    }

    std::map<std::string, std::string> installed; // identifier -> URL
    std::map<std::string, std::string> defaults;  // content type -> identifier
    std::map<std::string, std::string> names;     // path -> display name
};

} // namespace tarnell::testing
