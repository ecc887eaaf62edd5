#pragma once

#include "engine/PlatformServices.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnell::platform {

// Where input access is looked for and how it is asked for. The defaults are the
// system's; tests point them at a directory of their own.
struct InputAccessConfig {
    // The keyboard event nodes to try.
    std::function<std::vector<std::filesystem::path>()> keyboardNodes;
    std::filesystem::path uinputDevice = "/dev/uinput";
    // The installed access helper, and the program that runs it as root.
    std::filesystem::path helper;
    std::filesystem::path pkexec = "/usr/bin/pkexec";
    // Starts `program` with `arguments` without waiting for it; calls `finished`
    // from the main loop once it has ended. Returns false when it cannot start.
    std::function<bool(const std::filesystem::path& program,
                       const std::vector<std::string>& arguments, std::function<void()> finished)>
        launch;

    // The real system: keyboards as udev knows them (or, without udev data, every
    // event node that reports letter keys), /dev/uinput, the installed helper.
    static InputAccessConfig system();
};

// Input access stands in for the permission to watch and produce key events: the
// process has it when it can open at least one keyboard for reading and the uinput
// device for writing. Opening decides (not access(2)), and what is opened is
// closed at once.
//
// The prompt runs the installed helper through pkexec, which asks for an
// administrator's password and then grants the active session access to
// keyboards and uinput. It is asked at most once per call and never while an
// earlier prompt is still open. Nothing is run unless the helper and every
// directory above it belong to root and are writable by nobody else.
class InputAccessTrust final : public engine::TrustService {
public:
    explicit InputAccessTrust(InputAccessConfig config = InputAccessConfig::system());

    bool isProcessTrusted() override;
    bool isProcessTrustedWithPrompt() override;

    // Whether `helper` can be handed to pkexec: a regular executable file owned by
    // root and not writable by group or others, in directories that are all the
    // same, symbolic links resolved.
    static bool isSafelyInstalled(const std::filesystem::path& helper);

    // Whether the helper is installed safely, i.e. whether a prompt is possible.
    [[nodiscard]] bool canPrompt() const;

private:
    // The helper's resolved path when it is safe to run and pkexec is there.
    [[nodiscard]] std::optional<std::filesystem::path> safeHelper() const;

    InputAccessConfig config_;
    std::optional<bool> lastAnswer_; // for telling changes, with --verbose
    std::shared_ptr<bool> promptOpen_ = std::make_shared<bool>(false);
};

// Whether the event node reports letter keys; false when it cannot be opened.
bool reportsLetterKeys(const std::filesystem::path& node);

// Starts a program through QProcess, asynchronously; `finished` runs on the
// thread's event loop when it ends.
bool launchWithQProcess(const std::filesystem::path& program,
                        const std::vector<std::string>& arguments, std::function<void()> finished);

} // namespace tarnell::platform
