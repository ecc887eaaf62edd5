#pragma once

#include "bindings/KeyValueStore.h"

#include <filesystem>
#include <set>
#include <string>

namespace tarnell::platform {

// The per-user key-value store: one directory of small files.
//  - A data value under key K is the file "K.json", holding exactly the bytes.
//  - Boolean values are members of "settings.json", a JSON object with one member a
//    line that people may read and edit; members this program does not know survive
//    every rewrite.
// Data keys are limited to ASCII letters, digits, '-' and '_' (and may not be
// "settings"); other keys read as absent and are never written. A file larger than
// kStoredJsonMaxBytes is unreadable, and a value that large is never written.
//
// Every write replaces its file atomically and is on disk when the call returns. A
// file may be a symbolic link, as dotfile managers make them: a write then replaces
// the file the link names and leaves the link in place. Failures are not reported,
// and never cost the old value: an unreadable settings.json, a data file the caller
// reports unreadable and a data file that could not be read at all are first copied
// to a side file "<file>.unreadable-YYYYMMDD-HHMMSS"; when that copy cannot be made
// the write is skipped. So what cannot be read and copied (a directory, FIFO or
// device, a link that leads nowhere or in a loop) is never replaced.
//
// Opening a store removes the temporary files that writes cut short left behind.
class SettingsFileStore final : public KeyValueStore {
public:
    static constexpr std::string_view kSettingsFileName = "settings.json";

    // The user's store: $XDG_CONFIG_HOME/tarnell, or ~/.config/tarnell when that
    // variable is unset or not an absolute path.
    SettingsFileStore();
    // A store kept in the given directory, made (mode 0700) on the first write.
    explicit SettingsFileStore(std::filesystem::path directory);

    [[nodiscard]] static std::filesystem::path defaultDirectory();
    [[nodiscard]] const std::filesystem::path& directory() const { return directory_; }

    std::optional<std::string> dataForKey(std::string_view key) override;
    std::optional<bool> boolForKey(std::string_view key) override;
    void setData(std::string_view key, std::string_view bytes) override;
    void setBool(std::string_view key, bool value) override;
    void preserveUnreadable(std::string_view key) override;

private:
    [[nodiscard]] std::optional<std::filesystem::path> dataFile(std::string_view key) const;
    [[nodiscard]] std::filesystem::path settingsFile() const;
    // With --verbose: the file cannot be read, and why; once per file.
    void reportUnreadable(const std::filesystem::path& file, const char* why);

    std::filesystem::path directory_;
    // Data keys whose unreadable value still has to be copied aside before they
    // may be written.
    std::set<std::string, std::less<>> unpreserved_;
    std::set<std::filesystem::path> reportedUnreadable_;
};

} // namespace tarnell::platform
