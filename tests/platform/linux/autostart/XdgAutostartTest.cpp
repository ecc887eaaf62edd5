#include "platform/linux/autostart/XdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

namespace tarnell::platform {
namespace {

using app::LoginItemStatus;

constexpr const char* kId = "io.github.tarnell.Tarnell.desktop";

// A user and a system configuration directory of their own for each test.
class XdgAutostartTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("user")));
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("system/autostart")));
        ::setenv("XDG_CONFIG_HOME", qPrintable(userDir()), 1);
        ::setenv("XDG_CONFIG_DIRS", qPrintable(root.filePath(QStringLiteral("system"))), 1);
    }

    QString userDir() const { return root.filePath(QStringLiteral("user")); }
    QString userEntry() const { return userDir() + "/autostart/" + kId; }
    QString systemEntry() const { return root.filePath(QStringLiteral("system/autostart/")) + kId; }

    static void write(const QString& path, const QByteArray& contents) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }

    static QString read(const QString& path, const char* key) {
        QSettings entry(path, QSettings::IniFormat);
        return entry.value(QStringLiteral("Desktop Entry/") + key).toString();
    }

    QTemporaryDir root;
    XdgAutostart autostart{kId, "/usr/bin/tarnell"};
};

TEST_F(XdgAutostartTest, RegisterWritesAnEntryAndUnregisterRemovesIt) {
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);

    ASSERT_TRUE(autostart.registerItem());
    EXPECT_EQ(autostart.userEntryPath(), userEntry().toStdString());
    EXPECT_EQ(read(userEntry(), "Type"), QStringLiteral("Application"));
    EXPECT_EQ(read(userEntry(), "Name"), QStringLiteral("Tarnell"));
    EXPECT_EQ(read(userEntry(), "Exec"), QStringLiteral("/usr/bin/tarnell"));
    EXPECT_EQ(read(userEntry(), "X-GNOME-Autostart-enabled"), QStringLiteral("true"));
    EXPECT_EQ(autostart.status(), LoginItemStatus::enabled);
    // Written through a temporary file that is gone once the entry is in place.
    EXPECT_EQ(QDir(userDir() + "/autostart").entryList(QDir::Files),
              QStringList{QString::fromLatin1(kId)});

    ASSERT_TRUE(autostart.registerItem());
    EXPECT_EQ(autostart.status(), LoginItemStatus::enabled);

    ASSERT_TRUE(autostart.unregisterItem());
    EXPECT_FALSE(QFile::exists(userEntry()));
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);
    EXPECT_TRUE(autostart.unregisterItem());
}

TEST_F(XdgAutostartTest, HomeConfigIsTheDefaultUserDirectory) {
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", qPrintable(root.filePath(QStringLiteral("home"))), 1);
    EXPECT_EQ(autostart.userEntryPath(),
              root.filePath(QStringLiteral("home/.config/autostart/")).toStdString() + kId);
    ASSERT_TRUE(autostart.registerItem());
    EXPECT_EQ(autostart.status(), LoginItemStatus::enabled);
}

TEST_F(XdgAutostartTest, SystemEntryIsHiddenForTheUserRatherThanRemoved) {
    write(systemEntry(), "[Desktop Entry]\nType=Application\nName=Tarnell\nExec=tarnell\n");
    EXPECT_EQ(autostart.status(), LoginItemStatus::enabled);

    ASSERT_TRUE(autostart.unregisterItem());
    EXPECT_TRUE(QFile::exists(systemEntry()));
    EXPECT_EQ(read(userEntry(), "Hidden"), QStringLiteral("true"));
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);

    ASSERT_TRUE(autostart.registerItem());
    EXPECT_EQ(read(userEntry(), "Hidden"), QString());
    EXPECT_EQ(autostart.status(), LoginItemStatus::enabled);
}

TEST_F(XdgAutostartTest, DisabledOrHiddenEntriesAreNotInForce) {
    write(systemEntry(),
          "[Desktop Entry]\nType=Application\nExec=tarnell\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);

    write(userEntry(), "[Desktop Entry]\nType=Application\nExec=tarnell\nHidden=true\n");
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);

    // The user's entry replaces the system's entirely.
    write(userEntry(), "[Desktop Entry]\nType=Application\nExec=tarnell\n");
    EXPECT_EQ(autostart.status(), LoginItemStatus::enabled);
}

TEST_F(XdgAutostartTest, UnreadableUserEntryIsNotFound) {
    write(userEntry(), "this is not a desktop entry\n");
    EXPECT_EQ(autostart.status(), LoginItemStatus::notFound);
    write(userEntry(), "[Something Else]\nExec=tarnell\n");
    EXPECT_EQ(autostart.status(), LoginItemStatus::notFound);

    // Registering replaces it with a sound entry.
    ASSERT_TRUE(autostart.registerItem());
    EXPECT_EQ(autostart.status(), LoginItemStatus::enabled);
}

TEST_F(XdgAutostartTest, FailuresReturnFalse) {
    // The configuration directory is a file, so no entry can be made below it.
    write(root.filePath(QStringLiteral("blocked")), "");
    ::setenv("XDG_CONFIG_HOME", qPrintable(root.filePath(QStringLiteral("blocked"))), 1);
    EXPECT_FALSE(autostart.registerItem());
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);

    // An entry that is a non-empty directory cannot be removed.
    ::setenv("XDG_CONFIG_HOME", qPrintable(userDir()), 1);
    write(userEntry() + "/inside", "");
    EXPECT_FALSE(autostart.unregisterItem());
    EXPECT_FALSE(autostart.registerItem());
}

TEST_F(XdgAutostartTest, DefaultEntryStartsTheRunningProgram) {
    XdgAutostart own;
    ASSERT_TRUE(own.registerItem());
    EXPECT_EQ(own.userEntryPath(), userEntry().toStdString());
    const QString exec = read(userEntry(), "Exec");
    EXPECT_TRUE(exec.startsWith('/'));
    EXPECT_TRUE(QFileInfo(exec).isExecutable());
    EXPECT_TRUE(exec.endsWith(QStringLiteral("platform_autostart")));
}

TEST(XdgAutostartExec, QuotesWhatDesktopEntriesReserve) {
    EXPECT_EQ(XdgAutostart::execValue("/usr/bin/tarnell"), "/usr/bin/tarnell");
    EXPECT_EQ(XdgAutostart::execValue("/opt/My Apps/tarnell"), "\"/opt/My Apps/tarnell\"");
    EXPECT_EQ(XdgAutostart::execValue("/opt/$HOME/a\"b"), "\"/opt/\\$HOME/a\\\"b\"");
    EXPECT_EQ(XdgAutostart::execValue("/opt/100%/tarnell"), "/opt/100%%/tarnell");
    // White space of any kind would split the command.
    EXPECT_EQ(XdgAutostart::execValue("/opt/a\fb\rc"), "\"/opt/a\fb\rc\"");
}

TEST_F(XdgAutostartTest, ExecIsWrittenSoThatItReadsBackQuoted) {
    XdgAutostart spaced(kId, "/opt/My Apps/back\\slash/tarnell");
    ASSERT_TRUE(spaced.registerItem());
    QFile file(userEntry());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    // Quoting escapes the backslash once, the key file once more.
    EXPECT_TRUE(file.readAll().contains("Exec=\"/opt/My Apps/back\\\\\\\\slash/tarnell\"\n"));
}

} // namespace
} // namespace tarnell::platform
