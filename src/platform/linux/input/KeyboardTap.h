#pragma once

#include "engine/PlatformServices.h"
#include "platform/linux/input/KeyMap.h"
#include "platform/linux/input/KeyRouter.h"
#include "platform/linux/input/KeyboardSet.h"
#include "platform/linux/input/StallGuard.h"
#include "platform/linux/input/StallGuardPage.h"
#include "platform/linux/input/VirtualKeyboard.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarnell::input {

class NodeOpenWatch;
class UdevKeyboards;
class XkbKeyText;

// What a tap is made of; LinuxInput fills it in.
struct KeyboardTapParts {
    std::unique_ptr<OutputKeyboard> output;
    std::unique_ptr<KeyTextSource> text;
    DeviceOpener* opener = nullptr;
    std::unique_ptr<UdevKeyboards> udev;  // null: only devicePaths
    std::vector<std::string> devicePaths; // named devices, taken besides udev's
    std::chrono::milliseconds stallTimeout{1000};
    // The longest wait for the desktop to open the virtual keyboard.
    std::chrono::milliseconds desktopOpenWait{1000};
    // Whether the login session is the active one at its seat.
    bool sessionActive = true;
    KeyboardSet::Options keyboardOptions;
};

// The keyboard tap: captures the keyboards, hands their keys to the callback
// from the Qt event loop and writes what is handed on to the virtual keyboard.
// Disabled, it lets the keyboards go; invalidated, it closes everything and
// destroys the virtual keyboard after releasing its keys.
//
// It grabs only while all of these hold, and lets go (releasing every key the
// virtual keyboard holds) as soon as one does not:
//  - it is enabled;
//  - the desktop has opened the virtual keyboard (or a short wait is over): keys
//    written before that would reach nobody;
//  - the login session is the active one at its seat: while another session
//    has the seat, the keyboards are closed and their keys are none of ours;
//  - its StallGuard runs and watches the keyboard. A guard that ends is
//    replaced; while none can run, nothing is grabbed. The guard lets the
//    keyboards go when the loop stops taking their input, which the tap reports
//    as "disabled by timeout" on the loop's next turn.
// Made on the main thread (the guard dies with the thread that made it).
class KeyboardTap : public engine::EventTap,
                    private KeyboardSet::Listener,
                    private KeyboardSet::Watcher {
public:
    KeyboardTap(KeyboardTapParts parts, const KeyMap& map, engine::EventTapCallback callback,
                void* userInfo);
    ~KeyboardTap() override;
    KeyboardTap(const KeyboardTap&) = delete;
    KeyboardTap& operator=(const KeyboardTap&) = delete;

    void addToMainLoop() override;
    void removeFromMainLoop() override;
    void enable(bool enabled) override;
    void invalidate() override;

    // The login session became the active one at its seat, or stopped being it.
    void setSessionActive(bool active);

    // Caps Lock as the desktop last showed it, and a press and release of it.
    [[nodiscard]] bool capsLockLed() const;
    void toggleCapsLockOutput(bool locked);

    [[nodiscard]] bool isValid() const { return output_ != nullptr; }
    [[nodiscard]] KeyboardSet& keyboards() { return *keyboards_; }

private:
    void keyboardAdded(InputDevice& device) override;
    void keyboardRemoved(InputDevice& device) override;
    bool watch(InputDevice& device) override;
    void forget(InputDevice& device) override;

    void openKeyboards();
    void applyGrabbing();
    void listenTo(InputDevice& device);
    void scheduleTick();
    void takeUdevChanges();
    void takeLedChanges();
    void desktopOpenedOutput();
    void stopWatchingOutputOpens();
    void takeGuardNotice();
    void catchUpWithGuard();
    void guardMayHaveEnded();
    void reviveGuard();
    void listenToGuard();
    void stopListeningToGuard();

    std::unique_ptr<OutputKeyboard> output_;
    std::unique_ptr<KeyTextSource> text_;
    std::unique_ptr<UdevKeyboards> udev_;
    std::vector<std::string> devicePaths_;
    std::string outputNode_; // never opened as a keyboard: that is the desktop's sign
    std::unique_ptr<StallGuard> guard_;
    StallGuardPage unguarded_; // when no page can be shared: then nothing is grabbed
    std::unique_ptr<KeyRouter> router_;
    std::unique_ptr<KeyboardSet> keyboards_;
    std::unique_ptr<NodeOpenWatch> outputOpens_;
    bool inMainLoop_ = false;
    bool enabled_ = false;
    bool sessionActive_ = true;
    bool outputOpened_ = false;
    KeyboardSet::Clock::time_point guardStarted_;

    QObject context_; // owns the notifiers and the timers
    std::map<InputDevice*, QSocketNotifier*> deviceNotifiers_;
    std::vector<QSocketNotifier*> fixedNotifiers_;
    QSocketNotifier* guardNotifier_ = nullptr;
    QSocketNotifier* outputOpenNotifier_ = nullptr;
    QTimer tickTimer_;
    QTimer outputOpenTimer_;
    QTimer guardRetryTimer_;
};

} // namespace tarnell::input
