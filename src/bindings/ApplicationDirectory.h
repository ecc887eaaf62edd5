#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnell {

// What the store needs to know about installed applications. On Linux an
// application's identity is its desktop file ID and its location is the file URL
// of its .desktop file.
class ApplicationDirectory {
public:
    virtual ~ApplicationDirectory() = default;

    // The file URL of the installed application with this identifier, or nullopt.
    virtual std::optional<std::string> urlForApplication(std::string_view identifier) = 0;
    // The identifier of the default application for a content type, or nullopt.
    virtual std::optional<std::string> defaultApplicationFor(std::string_view contentType) = 0;
    // The name under which the user sees the item at this path: a desktop entry's
    // localized Name, else the last path component. Never fails.
    virtual std::string displayNameAtPath(std::string_view path) = 0;
};

} // namespace tarnell
