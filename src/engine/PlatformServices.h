#pragma once

#include "engine/KeyEvent.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The services the engine needs from the system it runs on. The Linux layers in
// src/platform/linux implement them; tests use fakes.
namespace tarnell::engine {

// --- Input access (the permission to read keyboards and write keys) -----------
class TrustService {
public:
    virtual ~TrustService() = default;
    // Whether the process may capture and produce key events. Never prompts.
    virtual bool isProcessTrusted() = 0;
    // The same answer; when not trusted, asks the user to grant access (at most
    // once per call; the implementation decides how).
    virtual bool isProcessTrustedWithPrompt() = 0;
};

// --- Event tap --------------------------------------------------------------------
// Called for every event the tap delivers. Returns the event to hand on (possibly
// changed in place) or nullptr to drop it.
using EventTapCallback = KeyEvent* (*)(void* proxy, std::uint32_t type, KeyEvent* event,
                                       void* userInfo);

class EventTap {
public:
    virtual ~EventTap() = default;
    // Starts delivering events to the callback from the main loop.
    virtual void addToMainLoop() = 0;
    virtual void removeFromMainLoop() = 0;
    virtual void enable(bool enabled) = 0;
    // Stops the tap for good: releases every device and key it holds.
    virtual void invalidate() = 0;
};

class EventTapService {
public:
    virtual ~EventTapService() = default;
    // nullptr when no tap can be made. userInfo is passed to the callback as is.
    virtual std::unique_ptr<EventTap> createTap(std::uint64_t eventMask, EventTapCallback callback,
                                                void* userInfo) = 0;
};

// --- Timers -----------------------------------------------------------------------
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
    virtual void invalidate() = 0;
};

class TimerService {
public:
    virtual ~TimerService() = default;
    // Fires `block` on the main loop every interval until invalidated.
    virtual std::unique_ptr<RepeatingTimer>
    scheduleRepeating(std::chrono::milliseconds interval,
                      std::function<void(RepeatingTimer&)> block) = 0;
};

// --- Key mapping utility (Caps Lock to F18) ----------------------------------------
class KeyMappingUtility {
public:
    virtual ~KeyMappingUtility() = default;
    // Runs the utility with these arguments and returns once it has finished.
    // Returns false when it could not be started or reported a failure. Output is
    // discarded.
    virtual bool run(const std::vector<std::string>& arguments) = 0;
};

// --- Modifier lock state (Caps Lock) -----------------------------------------------
class LockStateConnection {
public:
    virtual ~LockStateConnection() = default;
    // false when the state cannot be read.
    virtual bool getCapsLockState(bool& locked) = 0;
    virtual bool setCapsLockState(bool locked) = 0;
};

class LockStateService {
public:
    virtual ~LockStateService() = default;
    // nullptr when there is no service or it cannot be opened.
    virtual std::unique_ptr<LockStateConnection> open() = 0;
};

// --- Workspace (applications and their windows) -------------------------------------
struct RunningApplication {
    std::optional<std::string> identifier; // desktop file ID, when known
    std::uint64_t handle = 0;              // the backend's own reference to it
};

class Workspace {
public:
    virtual ~Workspace() = default;
    // The identifier of the application at this location, or nullopt.
    virtual std::optional<std::string> applicationIdentifierAt(std::string_view appURL) = 0;
    // The application in front (of the focused window), or nullopt when none.
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    virtual void hide(const RunningApplication& application) = 0;
    // Opens the application (launching it if needed) and brings it to the front.
    // Returns without waiting; the outcome is not reported.
    virtual void openApplication(std::string_view appURL) = 0;
};

// Everything the monitor needs. The references must outlive the monitor.
struct PlatformServices {
    TrustService& trust;
    EventTapService& taps;
    TimerService& timers;
    KeyMappingUtility& keyMapping;
    LockStateService& lockState;
    Workspace& workspace;
};

} // namespace tarnell::engine
