#pragma once

#include "engine/PlatformServices.h"
#include "platform/linux/input/KeyMap.h"
#include "platform/linux/input/KeyMappingTool.h"
#include "platform/linux/input/XkbKeyText.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnell::input {

class DeviceOpener;
class KeyboardLayoutSource;
class KeyboardTap;
class LoginSession;
class OutputKeyboard;

// The input layer of Tarnell on Linux: keyboards in (evdev, grabbed), one virtual
// keyboard out (uinput), key text (xkbcommon), the Caps Lock mapping and the Caps
// Lock state. Hands the engine its event tap service, key mapping utility and lock
// state service. Needs a QCoreApplication (the taps watch their descriptors on the
// Qt event loop), must outlive every tap it made, and is used on the main thread.
//
// The defaults suit both the desktop and a machine without one: every keyboard of
// seat0 through udev (or, with no udev daemon, every event device with letter
// keys, watched through the kernel's announcements), /dev/uinput, the user's
// layout for key text (X server, system configuration, XKB defaults), and the
// keyboards taken only while the login session is the active one at its seat
// (logind; without it, always).
class LinuxInput {
public:
    struct Options {
        // Keyboards to capture besides those udev lists; with followUdev off,
        // exactly these.
        std::vector<std::string> devicePaths;
        // Capture every keyboard of this seat and follow hotplug (empty seat:
        // every seat). By default the session's seat (XDG_SEAT), else seat0.
        bool followUdev = true;
        std::string seat = sessionSeat();
        std::string uinputPath = "/dev/uinput";
        // The layout for key text; nullopt: the layout source's, else the user's (X
        // server, else the system keyboard configuration, else the XKB defaults).
        std::optional<XkbNames> layout;
        // The desktop's layout in use, followed by the live tap's key text from each
        // change on. Must outlive the LinuxInput.
        KeyboardLayoutSource* layoutSource = nullptr;
        std::chrono::milliseconds stallTimeout{1000};
        std::chrono::milliseconds grabWait{1000};
        // The longest wait for the desktop to open a new virtual keyboard.
        std::chrono::milliseconds desktopOpenWait{1000};
        // Let go of the keyboards while another session has the seat.
        bool followLoginSession = true;
        // Tests: their own devices and output instead of evdev and uinput.
        DeviceOpener* opener = nullptr;
        std::function<std::unique_ptr<OutputKeyboard>()> makeOutput;
    };

    LinuxInput();
    explicit LinuxInput(Options options);
    // XDG_SEAT when set, else "seat0".
    static std::string sessionSeat();
    ~LinuxInput();
    LinuxInput(const LinuxInput&) = delete;
    LinuxInput& operator=(const LinuxInput&) = delete;

    engine::EventTapService& tapService();
    engine::KeyMappingUtility& keyMapping() { return mappingTool_; }
    engine::LockStateService& lockState();

    // The key mapping in force (read by the taps).
    [[nodiscard]] const KeyMap& mapping() const { return map_; }
    // The tap made last, while it lives.
    [[nodiscard]] KeyboardTap* currentTap() const;

private:
    class TapService;
    class LockState;

    Options options_;
    KeyMap map_;
    KeyMappingTool mappingTool_{map_};
    std::unique_ptr<DeviceOpener> evdevOpener_;
    std::unique_ptr<LoginSession> session_;
    std::unique_ptr<TapService> taps_;
    std::unique_ptr<LockState> lockState_;
};

} // namespace tarnell::input
