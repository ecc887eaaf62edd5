#pragma once

#include <functional>

namespace tarnell::app {

// A part of Tarnell that runs inside the desktop itself, where the desktop lets no
// other program bring applications forward or hide them (GNOME Shell's extension).
// Until it runs, applications are opened but not brought to the front or hidden.
class DesktopExtension {
public:
    enum class Status {
        Running,   // it runs, or the desktop needs none
        Off,       // the desktop has it but it is turned off
        NotLoaded, // the desktop has not read it yet: it does so when the user logs in
        Failed,    // the desktop could not start it (made for another version)
    };

    virtual ~DesktopExtension() = default;

    [[nodiscard]] virtual Status status() const = 0;
    // Asks the desktop to turn it on; returns at once. The status follows.
    virtual void enable() = 0;
    // Called on the main thread after the status may have changed; one observer,
    // replaced by the next call (an empty function stops the calls).
    virtual void setOnStatusChanged(std::function<void()> changed) = 0;
};

} // namespace tarnell::app
