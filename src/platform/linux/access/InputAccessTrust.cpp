#include "platform/linux/access/InputAccessTrust.h"

#include "platform/linux/access/AccessHelperPath.h"
#include "platform/linux/diagnostics/Diagnostics.h"

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libudev.h>
#include <linux/input.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnell::platform {
namespace {

// 0 when the path opens, else why not (an errno value).
int openError(const std::filesystem::path& path, int mode) {
    const int fd = open(path.c_str(), mode | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return errno;
    }
    close(fd);
    return 0;
}

bool opens(const std::filesystem::path& path, int mode) {
    return openError(path, mode) == 0;
}

std::vector<std::filesystem::path> udevKeyboards() {
    std::vector<std::filesystem::path> nodes;
    udev* context = udev_new();
    if (context == nullptr) {
        return nodes;
    }
    udev_enumerate* enumerate = udev_enumerate_new(context);
    udev_enumerate_add_match_subsystem(enumerate, "input");
    udev_enumerate_add_match_property(enumerate, "ID_INPUT_KEYBOARD", "1");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
        udev_device* device =
            udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        if (device == nullptr) {
            continue;
        }
        const char* node = udev_device_get_devnode(device);
        if (node != nullptr && std::strncmp(node, "/dev/input/event", 16) == 0) {
            nodes.emplace_back(node);
        }
        udev_device_unref(device);
    }
    udev_enumerate_unref(enumerate);
    udev_unref(context);
    return nodes;
}

// Without udev's data (no udev daemon, as in containers and small machines), the
// event nodes themselves tell which are keyboards.
std::vector<std::filesystem::path> eventNodesWithLetterKeys() {
    std::vector<std::filesystem::path> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/input", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("event", 0) == 0 && reportsLetterKeys(entry.path())) {
            nodes.push_back(entry.path());
        }
    }
    return nodes;
}

bool ownedByRootAndWritableByNoOneElse(const struct stat& status) {
    return status.st_uid == 0 && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

bool reportsLetterKeys(const std::filesystem::path& node) {
    const int fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::array<unsigned char, KEY_MAX / 8 + 1> keys{};
    const bool answered = ioctl(fd, EVIOCGBIT(EV_KEY, keys.size()), keys.data()) >= 0;
    close(fd);
    const auto has = [&](unsigned code) { return (keys[code / 8] & (1U << (code % 8))) != 0; };
    return answered && has(KEY_A) && has(KEY_Z) && has(KEY_SPACE);
}

InputAccessConfig InputAccessConfig::system() {
    InputAccessConfig config;
    config.keyboardNodes = [] {
        auto nodes = udevKeyboards();
        return nodes.empty() ? eventNodesWithLetterKeys() : nodes;
    };
    config.helper = installedAccessHelperPath();
    config.launch = launchWithQProcess;
    return config;
}

InputAccessTrust::InputAccessTrust(InputAccessConfig config) : config_(std::move(config)) {}

bool InputAccessTrust::isProcessTrusted() {
    const auto keyboards =
        config_.keyboardNodes ? config_.keyboardNodes() : std::vector<std::filesystem::path>{};
    const bool canRead = std::any_of(keyboards.begin(), keyboards.end(),
                                     [](const auto& node) { return opens(node, O_RDONLY); });
    const int uinputError = openError(config_.uinputDevice, O_WRONLY);
    const bool trusted = canRead && uinputError == 0;
    if (diagnosticsEnabled() && lastAnswer_ != trusted) {
        if (trusted) {
            diagnose("input access: granted");
        } else {
            diagnose("input access: waiting; %zu keyboard(s) found, %s; %s: %s", keyboards.size(),
                     canRead ? "one can be read" : "none can be read", config_.uinputDevice.c_str(),
                     uinputError == 0 ? "can be written" : std::strerror(uinputError));
        }
    }
    lastAnswer_ = trusted;
    return trusted;
}

bool InputAccessTrust::isProcessTrustedWithPrompt() {
    if (isProcessTrusted()) {
        return true;
    }
    if (*promptOpen_ || !config_.launch) {
        return false;
    }
    if (const auto helper = safeHelper()) {
        // The flag is shared so that a prompt ending after this object is gone
        // touches nothing. The helper takes no arguments.
        *promptOpen_ = config_.launch(config_.pkexec, {helper->string()},
                                      [open = promptOpen_] { *open = false; });
        diagnose("input access: %s %s through %s",
                 *promptOpen_ ? "asking for it with" : "could not start", helper->c_str(),
                 config_.pkexec.c_str());
    } else {
        diagnose("input access: %s or %s is missing or not installed safely, so access is not "
                 "asked for",
                 config_.helper.c_str(), config_.pkexec.c_str());
    }
    return false;
}

bool InputAccessTrust::canPrompt() const {
    return safeHelper().has_value();
}

std::optional<std::filesystem::path> InputAccessTrust::safeHelper() const {
    if (config_.helper.empty() || access(config_.pkexec.c_str(), X_OK) != 0) {
        return std::nullopt;
    }
    // Resolved once: the path checked is the path run, with no link left to repoint.
    std::error_code error;
    auto resolved = std::filesystem::canonical(config_.helper, error);
    if (error || !isSafelyInstalled(resolved)) {
        return std::nullopt;
    }
    return resolved;
}

bool InputAccessTrust::isSafelyInstalled(const std::filesystem::path& helper) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(helper, error);
    if (error) {
        return false;
    }
    struct stat status {};
    if (stat(resolved.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
        (status.st_mode & S_IXUSR) == 0 || !ownedByRootAndWritableByNoOneElse(status)) {
        return false;
    }
    // Whoever may write to a directory on the way may swap the file for another.
    for (std::filesystem::path directory = resolved.parent_path();;
         directory = directory.parent_path()) {
        if (stat(directory.c_str(), &status) != 0 || !ownedByRootAndWritableByNoOneElse(status)) {
            return false;
        }
        if (directory == directory.root_path()) {
            return true;
        }
    }
}

bool launchWithQProcess(const std::filesystem::path& program,
                        const std::vector<std::string>& arguments, std::function<void()> finished) {
    auto* process = new QProcess;
    QStringList list;
    for (const std::string& argument : arguments) {
        list << QString::fromStdString(argument);
    }
    process->setProgram(QString::fromStdString(program.string()));
    process->setArguments(list);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    auto done = std::make_shared<std::function<void()>>(std::move(finished));
    const auto end = [process, done] {
        if (*done) {
            std::exchange(*done, nullptr)();
        }
        process->deleteLater();
    };
    QObject::connect(process, &QProcess::finished, process, end);
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [end](QProcess::ProcessError failure) {
                         if (failure == QProcess::FailedToStart) {
                             end();
                         }
                     });
    process->start();
    return true;
}

} // namespace tarnell::platform
