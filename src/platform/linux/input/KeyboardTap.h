#pragma once

#include "engine/PlatformServices.h"
#include "platform/linux/input/KeyMap.h"
#include "platform/linux/input/KeyRouter.h"
#include "platform/linux/input/KeyThread.h"
#include "platform/linux/input/KeyboardSet.h"
#include "platform/linux/input/MainLoopQueue.h"
#include "platform/linux/input/StallGuard.h"
#include "platform/linux/input/StallGuardPage.h"
#include "platform/linux/input/VirtualKeyboard.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
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
// and writes what is handed on to the virtual keyboard. Disabled, it lets the
// keyboards go; invalidated, it closes everything and destroys the virtual
// keyboard after releasing its keys.
//
// Keys take a thread of their own (a KeyThread) from addToMainLoop() to
// removeFromMainLoop(): it reads the keyboards, calls the callback and writes the
// output, and takes the desktop's LED changes. Everything else (hotplug, the
// login session, the desktop opening the output, the guard, retries) runs on the
// main loop and reaches the keyboards, the router and the key text only while the
// key thread waits between two keys (betweenKeys()). Work the callback wants done
// on the main loop goes through runOnMainLoop().
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
    // Ends the key thread before anything else.
    void removeFromMainLoop() override;
    void enable(bool enabled) override;
    void invalidate() override;
    // From the key thread, queued for the main loop; elsewhere, at once.
    void runOnMainLoop(std::function<void()> work) override;

    // Runs `work` with the keys held back: between two keys on the key thread,
    // which waits meanwhile; at once on that thread itself or while it does not
    // run. Input written before the call has been handled when `work` runs. The
    // one way in from another thread to the keyboards, the router and the key text.
    template <typename Work> decltype(auto) betweenKeys(Work&& work) {
        return keys_.exclusive(std::forward<Work>(work));
    }

    // The login session became the active one at its seat, or stopped being it.
    void setSessionActive(bool active);

    // Caps Lock as the desktop last showed it, and a press and release of it.
    [[nodiscard]] bool capsLockLed();
    void toggleCapsLockOutput(bool locked);

    [[nodiscard]] bool isValid() const { return output_ != nullptr; }
    // Only inside betweenKeys() while the key thread runs.
    [[nodiscard]] KeyboardSet& keyboards() { return *keyboards_; }

private:
    void keyboardAdded(InputDevice& device) override;
    void keyboardRemoved(InputDevice& device) override;
    bool watch(InputDevice& device) override;
    void forget(InputDevice& device) override;

    void openKeyboards();
    void applyGrabbing();
    void listenTo(InputDevice& device);
    // On the main loop, with the keys held back; from the key thread it is asked for.
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
    KeyThread keys_;
    bool inMainLoop_ = false;
    bool enabled_ = false;
    bool sessionActive_ = true;
    bool outputOpened_ = false;
    KeyboardSet::Clock::time_point guardStarted_;

    QObject context_;                   // owns the notifiers and the timers, on the main loop
    MainLoopQueue mainLoop_;            // work from the key thread, and for the loop's next turn
    std::vector<InputDevice*> devices_; // the keyboards open, watched by the key thread
    std::vector<QSocketNotifier*> fixedNotifiers_;
    QSocketNotifier* guardNotifier_ = nullptr;
    QSocketNotifier* outputOpenNotifier_ = nullptr;
    QTimer tickTimer_;
    QTimer outputOpenTimer_;
    QTimer guardRetryTimer_;
};

} // namespace tarnell::input
