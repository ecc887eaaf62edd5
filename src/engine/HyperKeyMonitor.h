#pragma once

#include "bindings/BindingStore.h"
#include "bindings/ChangeNotifier.h"
#include "engine/HyperDecision.h"
#include "engine/PlatformServices.h"

#include <functional>
#include <memory>

namespace tarnell::engine {

// The engine object: asks for input access and waits for it, installs the event
// tap, maps Caps Lock to the Hyper trigger, decides every key event and carries out
// the decided action inside the tap's callback, and undoes all of it on stop.
// Main thread only.
class HyperKeyMonitor : public std::enable_shared_from_this<HyperKeyMonitor> {
public:
    static std::shared_ptr<HyperKeyMonitor> create(std::shared_ptr<BindingStore> store,
                                                   const PlatformServices& services);
    HyperKeyMonitor(const HyperKeyMonitor&) = delete;
    HyperKeyMonitor& operator=(const HyperKeyMonitor&) = delete;
    // Releases what the monitor holds and nothing more; call stop() first.
    ~HyperKeyMonitor();

    // Published fields: observers are told before each assignment.
    [[nodiscard]] bool isTrusted() const { return isTrusted_; }
    [[nodiscard]] bool isRunning() const { return isRunning_; }
    [[nodiscard]] ChangeNotifier& changes() { return changes_; }

    void setOnOpenSettings(std::function<void()> callback) {
        onOpenSettings_ = std::move(callback);
    }

    void start();
    void stop();

    // The tap's entry point: hands on the event or returns nullptr to drop it.
    static KeyEvent* eventTapCallback(void* proxy, std::uint32_t type, KeyEvent* event,
                                      void* userInfo);
    KeyEvent* handleEvent(std::uint32_t type, KeyEvent& event);

    // Caps Lock mapping and lock state.
    void setCapsLockRemapping(bool enabled);
    void toggleCapsLock();
    // Opens, raises or hides the bound application.
    void activateApp(std::string_view appURL);

    [[nodiscard]] const HyperState& hyperState() const { return state_; }
    [[nodiscard]] BindingStore& store() { return *store_; }

    // The two texts handed to the key mapping utility.
    static const std::string& remappingText(bool enabled);

private:
    HyperKeyMonitor(std::shared_ptr<BindingStore> store, const PlatformServices& services);

    bool checkTrust();
    void startTrustPolling();
    bool installEventTap();
    void setTrusted(bool value);
    void setRunning(bool value);

    PlatformServices services_;
    ChangeNotifier changes_;
    bool isTrusted_;
    bool isRunning_ = false;
    std::function<void()> onOpenSettings_;
    const std::shared_ptr<BindingStore> store_;
    std::unique_ptr<EventTap> tap_;
    bool runLoopSourceAdded_ = false;
    std::unique_ptr<RepeatingTimer> trustTimer_;
    HyperState state_;
};

} // namespace tarnell::engine
