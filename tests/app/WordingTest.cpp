#include "app/Wording.h"

#include "SettingsViewHarness.h"
#include "app/FormSection.h"

#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

namespace tarnell::app {
namespace {

QString translated(const char* source) {
    return QCoreApplication::translate("Tarnell", source);
}

class WordingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(installLinuxWording(testing::qtApplication())); }
};

TEST_F(WordingTest, NamesLinuxPlacesAndKeys) {
    EXPECT_EQ(translated("Tarnell needs Accessibility access"),
              QStringLiteral("Tarnell needs input access"));
    EXPECT_EQ(translated("Open Settings"), QString::fromUtf8("Grant Access\u2026"));
    EXPECT_EQ(translated("Waiting for Accessibility access\u2026"),
              QString::fromUtf8("Waiting for input access\u2026"));
    EXPECT_FALSE(translated("Allow Tarnell in Privacy & Security \u203A Accessibility to use "
                            "Caps Lock as the Hyper key.")
                     .contains(QStringLiteral("Privacy")));
}

TEST_F(WordingTest, LeavesEveryOtherTextAsWritten) {
    for (const char* source : {"Remove Shortcut", "Add App\u2026", "Shortcuts", "Settings\u2026",
                               "Quit Tarnell", "Launch at login", "Key"}) {
        EXPECT_EQ(translated(source), QString::fromUtf8(source));
    }
}

TEST_F(WordingTest, SettingsFormShowsTheLinuxWording) {
    test::SettingsViewHarness h;
    SettingsView& view = h.makeView(false);
    EXPECT_EQ(view.accessTitle()->text(), QStringLiteral("Tarnell needs input access"));
    EXPECT_EQ(view.openSettingsButton()->text(), QString::fromUtf8("Grant Access\u2026"));

    const QString footer = view.behaviourSection()->footerText();
    EXPECT_TRUE(footer.contains(QStringLiteral("Ctrl+Alt+Shift+Super + key")));
    EXPECT_TRUE(footer.startsWith(QStringLiteral("Hold Caps Lock and press a key")));
    EXPECT_TRUE(footer.contains(QStringLiteral(".\n\nTray icon hidden?")));
    EXPECT_FALSE(footer.contains(QString::fromUtf8("\u2318")));
}

} // namespace
} // namespace tarnell::app
