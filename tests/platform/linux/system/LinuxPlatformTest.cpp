#include "platform/linux/system/LinuxPlatform.h"

#include "app/LoginItemService.h"

#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tarnell::platform {
namespace {

namespace fs = std::filesystem;

class LinuxPlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tarnell-platform-XXXXXX").string();
        home_ = mkdtemp(pattern.data());
        setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (home_ / "system").c_str(), 1);
        setenv("XDG_DATA_HOME", (home_ / "data").c_str(), 1);
        static int argc = 1;
        static char name[] = "test_linux_platform";
        static char* argv[] = {name, nullptr};
        static QCoreApplication application(argc, argv);
    }
    void TearDown() override { fs::remove_all(home_); }

    static std::string read(const fs::path& path) {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    fs::path home_;
};

TEST_F(LinuxPlatformTest, SettingsGoToTheUsersConfigDirectory) {
    LinuxPlatform platform;
    platform.settings().setBool("quickTapTogglesCapsLock", false);
    EXPECT_NE(read(home_ / "config/tarnell/settings.json").find("\"quickTapTogglesCapsLock\""),
              std::string::npos);
    EXPECT_EQ(platform.settings().boolForKey("quickTapTogglesCapsLock"), false);
}

TEST_F(LinuxPlatformTest, ServicesAreTheSameObjectsEveryTime) {
    LinuxPlatform platform;
    const engine::PlatformServices first = platform.services();
    const engine::PlatformServices second = platform.services();
    EXPECT_EQ(&first.trust, &second.trust);
    EXPECT_EQ(&first.taps, &second.taps);
    EXPECT_EQ(&first.timers, &second.timers);
    EXPECT_EQ(&first.keyMapping, &second.keyMapping);
    EXPECT_EQ(&first.lockState, &second.lockState);
    EXPECT_EQ(&first.workspace, &second.workspace);
    EXPECT_EQ(&platform.loginItems(), &platform.loginItems());
}

TEST_F(LinuxPlatformTest, LoginItemStartsThisProgramUnderTheInstalledEntryName) {
    LinuxPlatform platform;
    EXPECT_EQ(platform.loginItems().status(), app::LoginItemStatus::notRegistered);
    ASSERT_TRUE(platform.loginItems().registerItem());
    const std::string entry = read(home_ / "config/autostart/io.github.tarnell.Tarnell.desktop");
    EXPECT_NE(entry.find(QCoreApplication::applicationFilePath().toStdString()), std::string::npos)
        << entry;
    EXPECT_EQ(platform.loginItems().status(), app::LoginItemStatus::enabled);
}

} // namespace
} // namespace tarnell::platform
