#pragma once

class QWidget;

namespace tarnell::app {

// Takes the user to where input access for Tarnell is granted. Returns at once;
// whatever follows happens without blocking the caller and reports nothing back.
class AccessSettingsOpener {
public:
    virtual ~AccessSettingsOpener() = default;

    // `parent` is the window the request came from, for anything shown in turn.
    virtual void openAccessSettings(QWidget* parent) = 0;
};

} // namespace tarnell::app
