#include "platform/linux/input/LinuxInput.h"

#include "platform/linux/diagnostics/Diagnostics.h"
#include "platform/linux/input/EvdevDevice.h"
#include "platform/linux/input/KeyboardLayoutSource.h"
#include "platform/linux/input/KeyboardTap.h"
#include "platform/linux/input/LoginSession.h"
#include "platform/linux/input/UdevKeyboards.h"
#include "platform/linux/input/VirtualKeyboard.h"

#include <cstdlib>

namespace tarnell::input {

// Makes taps and remembers the one alive, for the Caps Lock state.
class LinuxInput::TapService final : public engine::EventTapService {
public:
    // Follows the layout source while it lives, unless a fixed layout was asked for.
    explicit TapService(LinuxInput& input) : input_(input) {
        const Options& options = input_.options_;
        if (options.layoutSource != nullptr && !options.layout) {
            options.layoutSource->setListener(
                [this](const KeyboardLayout& layout) { layoutChanged(layout); });
        }
    }
    ~TapService() override {
        if (input_.options_.layoutSource != nullptr) {
            input_.options_.layoutSource->setListener({});
        }
    }
    TapService(const TapService&) = delete;
    TapService& operator=(const TapService&) = delete;

    std::unique_ptr<engine::EventTap> createTap(std::uint64_t /*eventMask*/,
                                                engine::EventTapCallback callback,
                                                void* userInfo) override {
        // Key-down and key-up are all a tap delivers, whatever the mask.
        const Options& options = input_.options_;
        KeyboardTapParts parts;
        parts.output =
            options.makeOutput ? options.makeOutput() : VirtualKeyboard::create(options.uinputPath);
        if (!parts.output) {
            return nullptr;
        }
        std::unique_ptr<XkbKeyText> text;
        if (options.layout) {
            text = XkbKeyText::fromNames(*options.layout);
        } else {
            if (options.layoutSource != nullptr) {
                text = XkbKeyText::forLayout(options.layoutSource->current());
            }
            if (!text) {
                text = XkbKeyText::forUserLayout();
            }
        }
        XkbKeyText* keyText = text.get();
        parts.text = std::move(text);
        parts.opener = options.opener != nullptr ? options.opener : input_.evdevOpener_.get();
        if (options.followUdev) {
            parts.udev = UdevKeyboards::create(options.seat);
        }
        parts.devicePaths = options.devicePaths;
        parts.stallTimeout = options.stallTimeout;
        parts.desktopOpenWait = options.desktopOpenWait;
        parts.sessionActive = !input_.session_ || input_.session_->isActive();
        parts.keyboardOptions.grabWait = options.grabWait;
        auto tap =
            std::make_unique<TrackedTap>(*this, std::move(parts), input_.map_, callback, userInfo);
        if (!tap->isValid()) {
            return nullptr;
        }
        tap->text = keyText;
        current_ = tap.get();
        return tap;
    }

    [[nodiscard]] KeyboardTap* current() const { return current_; }

    // On the main loop, between keys.
    void layoutChanged(const KeyboardLayout& layout) {
        platform::diagnose("key text: the layout in use is now %s",
                           layout.keymap->layoutName(layout.group).c_str());
        if (current_ != nullptr && current_->text != nullptr) {
            current_->text->install(layout);
        }
    }

private:
    class TrackedTap final : public KeyboardTap {
    public:
        TrackedTap(TapService& service, KeyboardTapParts parts, const KeyMap& map,
                   engine::EventTapCallback callback, void* userInfo)
            : KeyboardTap(std::move(parts), map, callback, userInfo), service_(service) {}
        ~TrackedTap() override {
            if (service_.current_ == this) {
                service_.current_ = nullptr;
            }
        }
        TrackedTap(const TrackedTap&) = delete;
        TrackedTap& operator=(const TrackedTap&) = delete;

        XkbKeyText* text = nullptr; // owned by the tap; null when it types no text

    private:
        TapService& service_;
    };

    LinuxInput& input_;
    TrackedTap* current_ = nullptr;
};

// Caps Lock through the virtual keyboard of the live tap: the state is the LED as
// the desktop last set it, and setting it sends a Caps Lock press and release.
class LinuxInput::LockState final : public engine::LockStateService {
public:
    explicit LockState(TapService& taps) : taps_(taps) {}

    std::unique_ptr<engine::LockStateConnection> open() override {
        if (taps_.current() == nullptr || !taps_.current()->isValid()) {
            return nullptr;
        }
        return std::make_unique<Connection>(taps_);
    }

private:
    class Connection final : public engine::LockStateConnection {
    public:
        explicit Connection(TapService& taps) : taps_(taps) {}
        bool getCapsLockState(bool& locked) override {
            KeyboardTap* tap = taps_.current();
            if (tap == nullptr || !tap->isValid()) {
                return false;
            }
            locked = tap->capsLockLed();
            return true;
        }
        bool setCapsLockState(bool locked) override {
            KeyboardTap* tap = taps_.current();
            if (tap == nullptr || !tap->isValid()) {
                return false;
            }
            if (tap->capsLockLed() != locked) {
                tap->toggleCapsLockOutput(locked);
            }
            return true;
        }

    private:
        TapService& taps_;
    };

    TapService& taps_;
};

LinuxInput::LinuxInput() : LinuxInput(Options{}) {}

std::string LinuxInput::sessionSeat() {
    const char* seat = std::getenv("XDG_SEAT");
    return seat != nullptr && *seat != '\0' ? seat : "seat0";
}

LinuxInput::LinuxInput(Options options)
    : options_(std::move(options)), evdevOpener_(std::make_unique<EvdevOpener>()),
      taps_(std::make_unique<TapService>(*this)), lockState_(std::make_unique<LockState>(*taps_)) {
    if (options_.followLoginSession) {
        session_ = LoginSession::follow();
        session_->onActiveChanged = [this](bool active) {
            if (KeyboardTap* tap = taps_->current()) {
                tap->setSessionActive(active);
            }
        };
    }
}

LinuxInput::~LinuxInput() = default;

engine::EventTapService& LinuxInput::tapService() {
    return *taps_;
}

engine::LockStateService& LinuxInput::lockState() {
    return *lockState_;
}

KeyboardTap* LinuxInput::currentTap() const {
    return taps_->current();
}

} // namespace tarnell::input
