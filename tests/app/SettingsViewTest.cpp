#include "SettingsViewHarness.h"
#include "ThemePalettes.h"
#include "app/Contrast.h"
#include "app/ElidedLabel.h"
#include "app/FormSection.h"
#include "app/SettingsWindow.h"
#include "app/ShortcutListSection.h"
#include "app/ShortcutRow.h"
#include "bindings/FileUrl.h"
#include "platform/linux/settings/SettingsFileStore.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QToolTip>
#include <gtest/gtest.h>
#include <random>

namespace tarnell::app {
namespace {

using testing::settle;

const QString kInstructions = QString::fromUtf8(
    "Hold Caps Lock and press a key to open an app. Other keys are sent as "
    "\u2303\u2325\u21E7\u2318 + key. Tap Caps Lock on its own to turn capitals on or off."
    "\n\nMenu bar icon hidden? Hold Caps Lock and press , or open Tarnell again to get back "
    "here.");

class SettingsViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testing::qtApplication(); }
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
    h.harness.timers.tick(); // still refused
    settle();
    EXPECT_EQ(view.visibleSections().front(), view.accessSection());

    h.grantAccess();
    EXPECT_TRUE(view.accessSection()->isHidden());
    EXPECT_EQ(view.visibleSections().front(), view.behaviourSection());
}

TEST_F(SettingsViewTest, OpenSettingsAsksEveryTimeAndChangesNothingElse) {
    SettingsView& view = h.makeView(false);
    auto& settings = static_cast<tarnell::testing::InMemoryKeyValueStore&>(h.defaults);
    const auto writes = settings.writes;
    view.openSettingsButton()->click();
    view.openSettingsButton()->click();
    EXPECT_EQ(h.access.opened, 2);
    EXPECT_EQ(h.access.lastParent, view.window());
    EXPECT_EQ(settings.writes, writes);
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

TEST_F(SettingsViewTest, TheWindowShowsTheWholeFormAndFollowsItBothWays) {
    // With the notice the form is taller than its least height, so every row counts.
    SettingsView& view = h.makeView(false);
    SettingsWindow window(std::move(h.view));
    window.show();
    settle();
    const auto* scroll = view.findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    EXPECT_EQ(window.width(), 460);
    EXPECT_EQ(scroll->verticalScrollBar()->maximum(), 0);
    const int empty = window.height();
    ASSERT_GT(empty, SettingsView::kMinimumHeight);

    const std::string app = fileUrlFromPath("/usr/share/applications/app.desktop");
    h.store->addApp(app);
    settle();
    const int oneRow = window.height();
    EXPECT_GT(oneRow, empty);
    for (int i = 0; i < 3; ++i) {
        h.store->addApp(app);
    }
    settle();
    EXPECT_GT(window.height(), oneRow);
    EXPECT_EQ(scroll->verticalScrollBar()->maximum(), 0);

    // Never taller than most of the screen: the rest scrolls.
    for (int i = 0; i < 32; ++i) {
        h.store->addApp(app);
    }
    settle();
    EXPECT_LE(window.height(), window.screen()->availableGeometry().height());
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);

    // Rows removed, the window shrinks at once, down to where it started; so it does
    // when the notice goes.
    h.store->setBindings({h.store->bindings().front()});
    settle();
    EXPECT_EQ(window.height(), oneRow);
    view.shortcutList()->rows().front()->removeButton()->click();
    settle();
    EXPECT_EQ(window.height(), empty);
    h.grantAccess();
    EXPECT_LT(window.height(), empty);
    EXPECT_EQ(window.width(), 460);
}

TEST_F(SettingsViewTest, ALongNameIsShortenedAndNeitherWidensNorCutsTheForm) {
    const std::string longName = "Integrated Development Environment for Scientific Computing "
                                 "and Data Visualisation";
    ASSERT_GE(longName.size(), 80U);
    h.directory.names["/usr/share/applications/long.desktop"] = longName;
    h.store->addApp(fileUrlFromPath("/usr/share/applications/long.desktop"));
    h.store->addApp(fileUrlFromPath("/usr/share/applications/mail.desktop"));
    SettingsView& view = h.makeView(true);
    SettingsWindow window(std::move(h.view));
    window.show();
    settle();
    EXPECT_EQ(window.width(), 460);

    // Every control and the instructions lie inside the window.
    const auto rows = view.shortcutList()->rows();
    ASSERT_EQ(rows.size(), 2U);
    std::vector<const QWidget*> shown = {view.behaviourSection()->footer()};
    for (const ShortcutRow* row : rows) {
        shown.insert(shown.end(), {row->nameLabel(), row->keyPicker(), row->removeButton()});
    }
    for (const QWidget* widget : shown) {
        const QRect area(widget->mapTo(&window, QPoint(0, 0)), widget->size());
        EXPECT_TRUE(window.rect().contains(area))
            << widget->metaObject()->className() << " at " << area.x() << "+" << area.width();
    }

    // The long name loses its middle and shows whole as its tooltip; the short one
    // is shown as it is.
    const ElidedLabel* name = rows[0]->nameLabel();
    EXPECT_EQ(name->text(), QString::fromStdString(longName));
    EXPECT_TRUE(name->shownText().contains(QChar(0x2026))) << name->shownText().toStdString();
    EXPECT_LE(name->fontMetrics().horizontalAdvance(name->shownText()), name->width());
    QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), name->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(rows[0]->nameLabel(), &hover);
    EXPECT_EQ(QToolTip::text(), QString::fromStdString(longName));
    QToolTip::hideText();
    EXPECT_EQ(rows[1]->nameLabel()->shownText(), QStringLiteral("mail.desktop"));
}

TEST_F(SettingsViewTest, CaptionsStayReadableAndSecondaryInLightAndDarkThemes) {
    SettingsView& view = h.makeView(true);
    for (const QPalette& theme : {test::lightPalette(), test::darkPalette()}) {
        view.setPalette(theme);
        for (const QLabel* caption :
             {view.behaviourSection()->footer(), view.shortcutsSection()->header()}) {
            const QColor text = caption->palette().color(QPalette::WindowText);
            EXPECT_GE(contrastRatio(text, theme.color(QPalette::Window)), 4.5)
                << caption->objectName().toStdString() << " " << text.name().toStdString();
            EXPECT_LT(
                contrastRatio(text, theme.color(QPalette::Window)),
                contrastRatio(theme.color(QPalette::WindowText), theme.color(QPalette::Window)));
        }
    }
}

TEST(SecondaryTextColor, KeepsItsContrastOnAnyPaletteAndFallsBackToTheText) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> channel(0, 255);
    auto anyColour = [&] { return QColor(channel(random), channel(random), channel(random)); };
    for (int i = 0; i < 2000; ++i) {
        QPalette palette;
        palette.setColor(QPalette::Window, anyColour());
        palette.setColor(QPalette::WindowText, anyColour());
        const QColor window = palette.color(QPalette::Window);
        const QColor text = palette.color(QPalette::WindowText);
        const QColor secondary = secondaryTextColor(palette);
        const double textContrast = contrastRatio(text, window);
        if (textContrast < kSecondaryTextContrast) {
            EXPECT_EQ(secondary, text) << i;
        } else {
            EXPECT_GE(contrastRatio(secondary, window), kSecondaryTextContrast) << i;
        }
        if (textContrast >= 7.0) {
            EXPECT_NE(secondary, text) << i << ": a strong text is softened";
        }
    }
    EXPECT_DOUBLE_EQ(contrastRatio(Qt::black, Qt::white), 21.0);
    EXPECT_DOUBLE_EQ(contrastRatio(Qt::white, Qt::white), 1.0);
}

TEST(SettingsViewFiles, StoreTogglesWriteThroughAndFollowTheStore) {
    testing::qtApplication();
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const std::filesystem::path settingsDir =
        directory.filePath(QStringLiteral("tarnell")).toStdString();
    test::SettingsViewHarness h(std::make_unique<platform::SettingsFileStore>(settingsDir));
    SettingsView& view = h.makeView(true);
    ASSERT_TRUE(view.quickTapToggle()->isChecked());
    ASSERT_TRUE(view.hidesFrontmostAppToggle()->isChecked());

    view.quickTapToggle()->click();
    EXPECT_FALSE(h.store->quickTapTogglesCapsLock());
    view.hidesFrontmostAppToggle()->click();
    EXPECT_FALSE(h.store->hidesFrontmostApp());

    // A store loaded afresh from the same settings files sees the new values.
    platform::SettingsFileStore files(settingsDir);
    BindingStore reloaded(files, h.directory);
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
