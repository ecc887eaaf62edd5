#include "SettingsViewHarness.h"
#include "app/FormSection.h"
#include "app/ShortcutListSection.h"
#include "bindings/FileUrl.h"

#include <QCheckBox>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <gtest/gtest.h>

namespace tarnell::app {
namespace {

using test::settle;

const QString kInstructions = QString::fromUtf8(
    "Hold Caps Lock and press a key to open an app. Other keys are sent as "
    "\u2303\u2325\u21E7\u2318 + key. Tap Caps Lock on its own to turn capitals on or off."
    "\n\nMenu bar icon hidden? Hold Caps Lock and press , or open Tarnell again to get back "
    "here.");

class SettingsViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::qtApplication(); }
    test::SettingsViewHarness h;
};

TEST_F(SettingsViewTest, WithoutAccessTheWarningComesFirst) {
    SettingsView& view = h.makeView(false);
    EXPECT_EQ(view.visibleSections(),
              (std::vector<FormSection*>{view.accessSection(), view.behaviourSection(),
                                         view.shortcutsSection()}));

    EXPECT_EQ(view.accessSection()->headerText(), QString());
    EXPECT_EQ(view.accessSection()->footerText(), QString());
    EXPECT_EQ(view.accessTitle()->text(), QStringLiteral("Tarnell needs Accessibility access"));
    EXPECT_TRUE(view.accessTitle()->font().bold());
    EXPECT_EQ(view.accessExplanation()->text(),
              QString::fromUtf8("Allow Tarnell in Privacy & Security \u203A Accessibility to use "
                                "Caps Lock as the Hyper key."));
    EXPECT_EQ(view.openSettingsButton()->text(), QStringLiteral("Open Settings"));
    const auto* icon = view.accessSection()->findChild<QLabel*>(QStringLiteral("accessIcon"));
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull());
}

TEST_F(SettingsViewTest, BehaviourAndShortcutSectionsCarryTheirTexts) {
    SettingsView& view = h.makeView(true);
    EXPECT_EQ(view.visibleSections(),
              (std::vector<FormSection*>{view.behaviourSection(), view.shortcutsSection()}));

    EXPECT_EQ(view.behaviourSection()->headerText(), QString());
    EXPECT_EQ(view.behaviourSection()->footerText(), kInstructions);
    EXPECT_EQ(view.behaviourSection()->footerText().toUtf8().size(), 232);
    EXPECT_EQ(view.launchAtLoginToggle()->text(), QStringLiteral("Launch at login"));
    EXPECT_EQ(view.hidesFrontmostAppToggle()->text(),
              QString::fromUtf8("Hide the app if it\u2019s already in front"));
    EXPECT_EQ(view.quickTapToggle()->text(), QStringLiteral("Quick tap toggles Caps Lock"));

    // The toggles are rows of the behaviour group, in this order.
    const QWidget* group = view.behaviourSection()->group();
    const QWidget* toggles[] = {view.launchAtLoginToggle(), view.hidesFrontmostAppToggle(),
                                view.quickTapToggle()};
    for (const QWidget* toggle : toggles) {
        EXPECT_EQ(toggle->parentWidget(), group);
    }
    EXPECT_LT(group->layout()->indexOf(view.launchAtLoginToggle()),
              group->layout()->indexOf(view.hidesFrontmostAppToggle()));
    EXPECT_LT(group->layout()->indexOf(view.hidesFrontmostAppToggle()),
              group->layout()->indexOf(view.quickTapToggle()));

    EXPECT_EQ(view.shortcutsSection()->headerText(), QStringLiteral("Shortcuts"));
    EXPECT_EQ(view.shortcutsSection()->footerText(), QString());
    EXPECT_TRUE(view.shortcutsSection()->isAncestorOf(view.shortcutList()));
}

TEST_F(SettingsViewTest, WarningLeavesWhenAccessArrivesWhileOpen) {
    SettingsView& view = h.makeView(false);
    view.show();
    h.harness.timers.fire(); // still refused
    settle();
    EXPECT_EQ(view.visibleSections().front(), view.accessSection());

    h.grantAccess();
    EXPECT_TRUE(view.accessSection()->isHidden());
    EXPECT_EQ(view.visibleSections().front(), view.behaviourSection());
}

TEST_F(SettingsViewTest, OpenSettingsAsksEveryTimeAndChangesNothingElse) {
    SettingsView& view = h.makeView(false);
    const int writes = h.defaults.writes;
    view.openSettingsButton()->click();
    view.openSettingsButton()->click();
    EXPECT_EQ(h.access.opened, 2);
    EXPECT_EQ(h.access.lastParent, view.window());
    EXPECT_EQ(h.defaults.writes, writes);
    EXPECT_FALSE(view.accessSection()->isHidden());
}

TEST_F(SettingsViewTest, IsFixedWidthWithAMinimumHeight) {
    SettingsView& view = h.makeView(false);
    view.show();
    EXPECT_EQ(view.width(), 460);
    EXPECT_GE(view.height(), 360);
    EXPECT_EQ(view.minimumWidth(), 460);
    EXPECT_EQ(view.maximumWidth(), 460);
    EXPECT_EQ(view.minimumHeight(), 360);

    // Many shortcuts scroll inside the view rather than widen it.
    for (int i = 0; i < 30; ++i) {
        h.store->addApp(fileUrlFromPath("/usr/share/applications/a-long-application-name-" +
                                        std::to_string(i) + ".desktop"));
    }
    settle();
    EXPECT_EQ(view.width(), 460);
}

TEST_F(SettingsViewTest, StoreTogglesWriteThroughAndFollowTheStore) {
    SettingsView& view = h.makeView(true);
    ASSERT_TRUE(view.quickTapToggle()->isChecked());
    ASSERT_TRUE(view.hidesFrontmostAppToggle()->isChecked());

    view.quickTapToggle()->click();
    EXPECT_FALSE(h.store->quickTapTogglesCapsLock());
    view.hidesFrontmostAppToggle()->click();
    EXPECT_FALSE(h.store->hidesFrontmostApp());

    // A store loaded afresh from the same settings sees the new values.
    BindingStore reloaded(h.defaults, h.directory);
    EXPECT_FALSE(reloaded.quickTapTogglesCapsLock());
    EXPECT_FALSE(reloaded.hidesFrontmostApp());

    // Changes made elsewhere show in the toggles.
    h.store->setQuickTapTogglesCapsLock(true);
    settle();
    EXPECT_TRUE(view.quickTapToggle()->isChecked());
    EXPECT_FALSE(view.hidesFrontmostAppToggle()->isChecked());
}

TEST_F(SettingsViewTest, LaunchAtLoginShowsTheGivenValueAndFollowsRefusals) {
    h.loginItems.currentStatus = LoginItemStatus::enabled;
    SettingsView& view = h.makeView(true, true);
    EXPECT_TRUE(view.launchAtLoginToggle()->isChecked());
    EXPECT_EQ(h.loginItems.registrations + h.loginItems.unregistrations, 0);

    h.loginItems.unregisterSucceeds = false;
    view.launchAtLoginToggle()->click();
    settle();
    EXPECT_TRUE(view.launchAtLoginToggle()->isChecked());
    EXPECT_TRUE(view.launchesAtLogin());
    EXPECT_EQ(h.loginItems.unregistrations, 1);
    EXPECT_EQ(h.loginItems.registrations, 1);

    h.loginItems.unregisterSucceeds = true;
    view.launchAtLoginToggle()->click();
    // A store change re-renders the form; the toggle keeps its own value.
    h.store->setHidesFrontmostApp(false);
    settle();
    EXPECT_FALSE(view.launchAtLoginToggle()->isChecked());
    EXPECT_EQ(h.loginItems.unregistrations, 2);
}

} // namespace
} // namespace tarnell::app
