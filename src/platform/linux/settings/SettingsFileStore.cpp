#include "platform/linux/settings/SettingsFileStore.h"

#include "bindings/StoredJson.h"
#include "platform/linux/diagnostics/Diagnostics.h"
#include "platform/linux/settings/AtomicFile.h"
#include "platform/linux/settings/SettingsDocument.h"

#include <algorithm>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace tarnell::platform {
namespace {

constexpr std::string_view kDataFileExtension = ".json";

bool isSafeDataKey(std::string_view key) {
    return !key.empty() && key != "settings" && std::all_of(key.begin(), key.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    });
}

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    std::vector<char> buffer(16 * 1024);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "/";
}

// A file of this store, whose temporaries are its own too.
bool isOwnFile(std::string_view name) {
    if (name == SettingsFileStore::kSettingsFileName) {
        return true;
    }
    return name.ends_with(kDataFileExtension) &&
           isSafeDataKey(name.substr(0, name.size() - kDataFileExtension.size()));
}

const char* whyUnreadable(FileContents::Status status) {
    return status == FileContents::Status::TooLarge ? "is too large"
                                                    : "cannot be read as a regular file";
}

// Keeps what cannot be read before it is replaced; says so when it cannot.
bool keptAside(const std::filesystem::path& file) {
    if (keepCopyAside(file)) {
        return true;
    }
    diagnose("settings: %s could not be copied aside, so it is left as it is and the change "
             "is not saved",
             file.c_str());
    return false;
}

} // namespace

SettingsFileStore::SettingsFileStore() : SettingsFileStore(defaultDirectory()) {}

SettingsFileStore::SettingsFileStore(std::filesystem::path directory)
    : directory_(std::move(directory)) {
    removeStaleTemporaries(directory_, isOwnFile);
}

std::filesystem::path SettingsFileStore::defaultDirectory() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::filesystem::path base = configHome != nullptr && configHome[0] == '/'
                                           ? std::filesystem::path(configHome)
                                           : homeDirectory() / ".config";
    return base / "tarnell";
}

std::optional<std::filesystem::path> SettingsFileStore::dataFile(std::string_view key) const {
    if (!isSafeDataKey(key)) {
        return std::nullopt;
    }
    return directory_ / (std::string(key) + std::string(kDataFileExtension));
}

std::filesystem::path SettingsFileStore::settingsFile() const {
    return directory_ / kSettingsFileName;
}

std::optional<std::string> SettingsFileStore::dataForKey(std::string_view key) {
    const auto file = dataFile(key);
    if (!file) {
        return std::nullopt;
    }
    auto contents = readWholeFile(*file, kStoredJsonMaxBytes);
    if (contents.status == FileContents::Status::Failed ||
        contents.status == FileContents::Status::TooLarge) {
        // The caller will take the value for absent; it must not be lost to the
        // next write all the same.
        reportUnreadable(*file, whyUnreadable(contents.status));
        unpreserved_.emplace(key);
    }
    if (contents.status != FileContents::Status::Read) {
        return std::nullopt;
    }
    return std::move(contents.bytes);
}

std::optional<bool> SettingsFileStore::boolForKey(std::string_view key) {
    const auto file = settingsFile();
    const auto contents = readWholeFile(file, kStoredJsonMaxBytes);
    if (contents.status != FileContents::Status::Read) {
        if (contents.status != FileContents::Status::Missing) {
            reportUnreadable(file, whyUnreadable(contents.status));
        }
        return std::nullopt;
    }
    const auto settings = readSettings(contents.bytes);
    if (!settings) {
        reportUnreadable(file, "is not a settings object");
        return std::nullopt;
    }
    return settingAsBool(*settings, key);
}

void SettingsFileStore::setData(std::string_view key, std::string_view bytes) {
    const auto file = dataFile(key);
    if (!file || bytes.size() > kStoredJsonMaxBytes) {
        return; // a value this large would not be read back
    }
    if (const auto pending = unpreserved_.find(key); pending != unpreserved_.end()) {
        if (!keptAside(*file)) {
            return; // the unreadable value could not be kept: leave it in place
        }
        unpreserved_.erase(pending);
    }
    if (ensurePrivateDirectory(directory_)) {
        writeFileAtomically(*file, bytes);
    }
}

void SettingsFileStore::setBool(std::string_view key, bool value) {
    const auto file = settingsFile();
    const auto contents = readWholeFile(file, kStoredJsonMaxBytes);
    auto settings = SettingsObject::object();
    switch (contents.status) {
    case FileContents::Status::Missing:
        break;
    case FileContents::Status::Failed:
        // Cannot tell what the file holds, so it must not be replaced.
        diagnose("settings: %s cannot be read as a regular file, so the change is not saved",
                 file.c_str());
        return;
    case FileContents::Status::TooLarge:
        if (!keptAside(file)) {
            return;
        }
        break;
    case FileContents::Status::Read:
        if (auto parsed = readSettings(contents.bytes)) {
            settings = std::move(*parsed);
        } else if (!keptAside(file)) {
            return;
        }
        break;
    }
    settings[std::string(key)] = value;
    const auto text = writeSettings(settings);
    if (text && ensurePrivateDirectory(directory_)) {
        writeFileAtomically(file, *text);
    }
}

void SettingsFileStore::preserveUnreadable(std::string_view key) {
    const auto file = dataFile(key);
    if (file && !keptAside(*file)) {
        unpreserved_.emplace(key);
    }
}

void SettingsFileStore::reportUnreadable(const std::filesystem::path& file, const char* why) {
    // Each setting is read on its own; one line for the file is enough.
    if (diagnosticsEnabled() && reportedUnreadable_.insert(file).second) {
        diagnose("settings: %s %s; the defaults apply", file.c_str(), why);
    }
}

} // namespace tarnell::platform
