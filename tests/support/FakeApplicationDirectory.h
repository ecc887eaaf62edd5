#pragma once

#include "bindings/ApplicationDirectory.h"
#include "bindings/FileUrl.h"

#include <map>
#include <string>
#include <vector>

namespace tarnell::testing {

// Installed applications by desktop ID, default handlers by content type and
// display names by path; a path without a name shows its last component.
class FakeApplicationDirectory final : public ApplicationDirectory {
public:
    std::map<std::string, std::string, std::less<>> installed; // desktop ID -> URL
    std::map<std::string, std::string, std::less<>> defaultHandlers;
    std::map<std::string, std::string, std::less<>> names; // path -> display name
    std::vector<std::string> pathsAsked;

    void install(const std::string& desktopId) {
        installed[desktopId] = fileUrlFromPath("/usr/share/applications/" + desktopId);
    }

    std::optional<std::string> urlForApplication(std::string_view identifier) override {
        const auto found = installed.find(identifier);
        return found == installed.end() ? std::nullopt : std::optional(found->second);
    }
    std::optional<std::string> defaultApplicationFor(std::string_view contentType) override {
        const auto found = defaultHandlers.find(contentType);
        return found == defaultHandlers.end() ? std::nullopt : std::optional(found->second);
    }
    std::string displayNameAtPath(std::string_view path) override {
        pathsAsked.emplace_back(path);
        const auto found = names.find(path);
        if (found != names.end()) {
            return found->second;
        }
        return std::string(path.substr(path.rfind('/') + 1));
    }
};

} // namespace tarnell::testing
