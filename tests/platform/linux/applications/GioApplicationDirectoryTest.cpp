// Runs against desktop entries in a temporary XDG tree. GIO reads the XDG
// variables once, so main sets them before anything touches GIO.

#include "platform/linux/applications/GioApplicationDirectory.h"

#include "bindings/BindingStore.h"
#include "bindings/FileUrl.h"
#include "platform/linux/settings/SettingsFileStore.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarnell::platform {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

// The temporary XDG tree, made by main.
fs::path root;
fs::path dataHome() {
    return root / "data-home";
}
fs::path dataDir() {
    return root / "data-dirs";
}
fs::path configHome() {
    return root / "config";
}

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string entry(const std::string& name, const std::string& extra = "") {
    return "[Desktop Entry]\nType=Application\nExec=true\nName=" + name + "\n" + extra;
}

void makeXdgTree() {
    writeFile(
        dataHome() / "applications/org.example.Files.desktop",
        entry("Files", "Name[de]=Dateien\nIcon=org.example.Files\nMimeType=inode/directory;\n"));
    writeFile(dataHome() / "applications/slack.desktop", entry("Slack (user)"));
    writeFile(dataDir() / "applications/slack.desktop", entry("Slack (system)"));
    writeFile(dataDir() / "applications/google-chrome.desktop",
              entry("Google Chrome", "Icon=" + (root / "icons/chrome.png").string() + "\n"));
    writeFile(root / "icons/chrome.png", "not really an image");
    writeFile(dataDir() / "applications/kde4/okular.desktop", entry("Okular"));
    writeFile(dataDir() / "applications/gone.desktop", entry("Gone", "Hidden=true\n"));
    writeFile(dataDir() / "applications/broken.desktop", "this is no desktop entry\n");
    writeFile(configHome() / "mimeapps.list",
              "[Default Applications]\ninode/directory=org.example.Files.desktop\n");
}

std::string urlOf(const fs::path& path) {
    return fileUrlFromPath(path.string());
}

TEST(GioApplicationDirectory, FindsInstalledApplicationsByDesktopId) {
    GioApplicationDirectory applications;
    EXPECT_EQ(applications.urlForApplication("google-chrome.desktop"),
              urlOf(dataDir() / "applications/google-chrome.desktop"));
    EXPECT_EQ(applications.urlForApplication("kde4-okular.desktop"),
              urlOf(dataDir() / "applications/kde4/okular.desktop"));
    // The user's own entry hides the system one.
    EXPECT_EQ(applications.urlForApplication("slack.desktop"),
              urlOf(dataHome() / "applications/slack.desktop"));
}

TEST(GioApplicationDirectory, MissingHiddenAndBrokenEntriesAreNotInstalled) {
    GioApplicationDirectory applications;
    EXPECT_FALSE(applications.urlForApplication("nemo.desktop"));
    EXPECT_FALSE(applications.urlForApplication("gone.desktop"));
    EXPECT_FALSE(applications.urlForApplication("broken.desktop"));
    EXPECT_FALSE(applications.urlForApplication(""));
}

TEST(GioApplicationDirectory, DefaultHandlerComesFromMimeappsList) {
    GioApplicationDirectory applications;
    EXPECT_EQ(applications.defaultApplicationFor("inode/directory"), "org.example.Files.desktop");
    EXPECT_FALSE(applications.defaultApplicationFor("application/x-nothing-opens-this"));
}

TEST(GioApplicationDirectory, DisplayNameIsTheLocalizedNameOfADesktopEntry) {
    GioApplicationDirectory applications;
    EXPECT_EQ(applications.displayNameAtPath(
                  (dataHome() / "applications/org.example.Files.desktop").string()),
              "Dateien");
    EXPECT_EQ(
        applications.displayNameAtPath((dataDir() / "applications/google-chrome.desktop").string()),
        "Google Chrome");
}

TEST(GioApplicationDirectory, DisplayNameOfAnythingElseIsTheLastPathComponent) {
    GioApplicationDirectory applications;
    EXPECT_EQ(applications.displayNameAtPath((root / "icons/chrome.png").string()), "chrome.png");
    EXPECT_EQ(applications.displayNameAtPath("/opt/Some Thing/"), "Some Thing");
    EXPECT_EQ(applications.displayNameAtPath("/nowhere/missing.desktop"), "missing.desktop");
    EXPECT_EQ(applications.displayNameAtPath((dataDir() / "applications/broken.desktop").string()),
              "broken.desktop");
    EXPECT_EQ(applications.displayNameAtPath("/"), "/");
}

TEST(GioApplicationDirectory, DesktopFileIdIsThePathBelowTheApplicationsDirectory) {
    EXPECT_EQ(GioApplicationDirectory::desktopFileIdForPath(
                  (dataDir() / "applications/kde4/okular.desktop").string()),
              "kde4-okular.desktop");
    EXPECT_EQ(GioApplicationDirectory::desktopFileIdForPath(
                  (dataHome() / "applications/org.example.Files.desktop").string()),
              "org.example.Files.desktop");
    EXPECT_FALSE(
        GioApplicationDirectory::desktopFileIdForPath((root / "elsewhere/a.desktop").string()));
    EXPECT_FALSE(GioApplicationDirectory::desktopFileIdForPath(
        (dataDir() / "applications-old/a.desktop").string()));
    EXPECT_FALSE(GioApplicationDirectory::desktopFileIdForPath(
        (dataDir() / "applications/notes.txt").string()));
}

TEST(GioApplicationDirectory, IconIsAThemeNameOrAnImagePath) {
    EXPECT_EQ(GioApplicationDirectory::iconForDesktopFile(
                  (dataHome() / "applications/org.example.Files.desktop").string()),
              "org.example.Files");
    EXPECT_EQ(GioApplicationDirectory::iconForDesktopFile(
                  (dataDir() / "applications/google-chrome.desktop").string()),
              (root / "icons/chrome.png").string());
    EXPECT_FALSE(GioApplicationDirectory::iconForDesktopFile(
        (dataDir() / "applications/kde4/okular.desktop").string()));
    EXPECT_FALSE(GioApplicationDirectory::iconForDesktopFile("/nowhere/missing.desktop"));
}

TEST(GioApplicationDirectory, StoreStartsFromInstalledApplicationsAndKeepsChanges) {
    GioApplicationDirectory applications;
    const fs::path storeDirectory = root / "store";
    std::vector<AppBinding> saved;
    {
        SettingsFileStore settings(storeDirectory);
        BindingStore store(settings, applications);
        std::vector<std::string> keys;
        for (const auto& binding : store.bindings()) {
            keys.push_back(binding.key);
        }
        ASSERT_THAT(keys, ElementsAre("c", "s", "f"));
        EXPECT_EQ(store.bindings()[0].appURL,
                  urlOf(dataDir() / "applications/google-chrome.desktop"));
        EXPECT_EQ(store.bindings()[1].appURL, urlOf(dataHome() / "applications/slack.desktop"));
        EXPECT_EQ(store.bindings()[2].appURL,
                  urlOf(dataHome() / "applications/org.example.Files.desktop"));
        EXPECT_FALSE(fs::exists(storeDirectory)); // loading writes nothing

        store.addApp(urlOf(dataDir() / "applications/kde4/okular.desktop"));
        ASSERT_EQ(store.bindings().size(), 4u);
        EXPECT_EQ(store.bindings()[3].key, "o");
        saved = store.bindings();
    }
    SettingsFileStore settings(storeDirectory);
    const BindingStore reloaded(settings, applications);
    EXPECT_EQ(reloaded.bindings(), saved);
}

} // namespace
} // namespace tarnell::platform

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "applications-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return 1;
    }
    tarnell::platform::root = pattern;
    ::setenv("XDG_DATA_HOME", tarnell::platform::dataHome().c_str(), 1);
    ::setenv("XDG_DATA_DIRS", tarnell::platform::dataDir().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", tarnell::platform::configHome().c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (tarnell::platform::root / "config-dirs").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (tarnell::platform::root / "cache").c_str(), 1);
    ::setenv("LANGUAGE", "de", 1);
    ::setenv("LANG", "de_DE.UTF-8", 1);
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    ::setenv("GIO_USE_VFS", "local", 1);
    tarnell::platform::makeXdgTree();

    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    fs::remove_all(tarnell::platform::root);
    return result;
}
