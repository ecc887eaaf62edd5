#include "platform/linux/settings/SettingsFileStore.h"

#include "bindings/StoredJson.h"
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
        unpreserved_.emplace(key);
    }
    if (contents.status != FileContents::Status::Read) {
        return std::nullopt;
    }
    return std::move(contents.bytes);
}

std::optional<bool> SettingsFileStore::boolForKey(std::string_view key) {
    const auto contents = readWholeFile(settingsFile(), kStoredJsonMaxBytes);
    if (contents.status != FileContents::Status::Read) {
        return std::nullopt;
    }
    const auto settings = readSettings(contents.bytes);
    return settings ? settingAsBool(*settings, key) : std::nullopt;
}

void SettingsFileStore::setData(std::string_view key, std::string_view bytes) {
    const auto file = dataFile(key);
    if (!file || bytes.size() > kStoredJsonMaxBytes) {
        return; // a value this large would not be read back
    }
    if (const auto pending = unpreserved_.find(key); pending != unpreserved_.end()) {
        if (!keepCopyAside(*file)) {
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
        return; // cannot tell what the file holds, so it must not be replaced
    case FileContents::Status::TooLarge:
        if (!keepCopyAside(file)) {
            return;
        }
        break;
    case FileContents::Status::Read:
        if (auto parsed = readSettings(contents.bytes)) {
            settings = std::move(*parsed);
        } else if (!keepCopyAside(file)) {
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
    if (file && !keepCopyAside(*file)) {
        unpreserved_.emplace(key);
    }
}

} // namespace tarnell::platform
