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
    KeyboardSet::Options keyboardOptions;
};

// The keyboard tap: captures the keyboards, hands their keys to the
// callback from the Qt event loop and writes what is handed on to the virtual
// keyboard. Disabled, it lets the keyboards go; invalidated, it closes
// everything and destroys the virtual keyboard after releasing its keys. Each
// tap runs a StallGuard, so the keyboards are let go when the loop stops taking
// their input; it reports that as "disabled by timeout" on the loop's next turn.
// Made on the main thread (the guard dies with the thread that made it).
class KeyboardTap : public engine::EventTap, private KeyboardSet::Listener {
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

    // Caps Lock as the desktop last showed it, and a press and release of it.
    [[nodiscard]] bool capsLockLed() const;
    void toggleCapsLockOutput(bool locked);

    [[nodiscard]] bool isValid() const { return output_ != nullptr; }
    [[nodiscard]] KeyboardSet& keyboards() { return *keyboards_; }

private:
    void keyboardAdded(InputDevice& device) override;
    void keyboardRemoved(InputDevice& device) override;
    void watch(InputDevice& device);
    void scheduleTick();
    void takeUdevChanges();
    void takeLedChanges();
    void takeStall();

    std::unique_ptr<OutputKeyboard> output_;
    std::unique_ptr<KeyTextSource> text_;
    std::unique_ptr<UdevKeyboards> udev_;
    std::vector<std::string> devicePaths_;
    std::unique_ptr<StallGuard> guard_;
    StallGuardPage unguarded_; // shared with nobody when the guard cannot run
    std::unique_ptr<KeyRouter> router_;
    std::unique_ptr<KeyboardSet> keyboards_;
    bool inMainLoop_ = false;

    QObject context_; // owns the notifiers and the timer
    std::map<InputDevice*, QSocketNotifier*> deviceNotifiers_;
    std::vector<QSocketNotifier*> fixedNotifiers_;
    QSocketNotifier* guardNotifier_ = nullptr;
    QTimer tickTimer_;
};

} // namespace tarnell::input
