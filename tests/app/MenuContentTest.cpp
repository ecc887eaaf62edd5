#include "app/MenuContent.h"

#include "bindings/BindingStore.h"
#include "bindings/FileUrl.h"
#include "engine/HyperKeyMonitor.h"
#include "support/FakeApplicationDirectory.h"
#include "support/FakePlatformServices.h"
#include "support/InMemoryKeyValueStore.h"
#include "support/QtApplication.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QTimer>
#include <gtest/gtest.h>

namespace tarnell::app {
namespace {

using testing::FakeApplicationDirectory;
using testing::FakePlatform;
using testing::InMemoryKeyValueStore;

const QString kSeparator = QStringLiteral("---");
const QString kWaiting = QStringLiteral("Waiting for Accessibility access…");
const QString kSettings = QStringLiteral("Settings…");
const QString kQuit = QStringLiteral("Quit Tarnell");

QStringList itemTexts(const QMenu& menu) {
    QStringList texts;
    for (const QAction* action : menu.actions()) {
        texts << (action->isSeparator() ? kSeparator : action->text());
    }
    return texts;
}

AppBinding binding(std::string key, const std::string& path) {
    AppBinding result;
    result.key = std::move(key);
    result.appURL = fileUrlFromPath(path);
    return result;
}

class MenuContentTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::qtApplication();
        applications.names = {{"/apps/editor.desktop", "Editor.app"},
                              {"/apps/mail.desktop", "Mail"},
                              {"/apps/tools.desktop", "My.app Tools.app"},
                              {"/apps/upper.desktop", "Shout.APP"}};
        store = std::make_shared<BindingStore>(defaults, applications);
        store->setBindings({});
    }

    // The monitor as the program makes it, trusted or not from the start.
    void makeMonitor(bool trusted) {
        fakes.trust.trusted = trusted;
        monitor = engine::HyperKeyMonitor::create(store, fakes.services());
        content = std::make_unique<MenuContent>(*store, *monitor, [this] { ++settingsRequests; });
    }

    // Lets queued change notifications arrive.
    static void settle() { QCoreApplication::processEvents(); }

    InMemoryKeyValueStore defaults;
    FakeApplicationDirectory applications;
    FakePlatform fakes;
    std::shared_ptr<BindingStore> store;
    std::shared_ptr<engine::HyperKeyMonitor> monitor;
    std::unique_ptr<MenuContent> content;
    int settingsRequests = 0;
};

TEST_F(MenuContentTest, WithoutShortcutsAndWithAccessShowsOnlyTheTwoCommands) {
    makeMonitor(true);
    EXPECT_EQ(itemTexts(*content->menu()), (QStringList{kSettings, kQuit}));
}

TEST_F(MenuContentTest, WithoutShortcutsOrAccessShowsTheNoticeAndOneSeparator) {
    makeMonitor(false);
    const auto actions = content->menu()->actions();
    EXPECT_EQ(itemTexts(*content->menu()), (QStringList{kWaiting, kSeparator, kSettings, kQuit}));
    EXPECT_FALSE(actions.front()->isEnabled());
}

TEST_F(MenuContentTest, ShortcutsWithoutAccessSitBetweenTwoSeparators) {
    store->setBindings({binding("e", "/apps/editor.desktop")});
    makeMonitor(false);
    EXPECT_EQ(itemTexts(*content->menu()),
              (QStringList{kWaiting, kSeparator, QStringLiteral("⇪ E   Editor"), kSeparator,
                           kSettings, kQuit}));
}

TEST_F(MenuContentTest, ShortcutLinesAreSortedByTheStoredKeyAndCannotBeChosen) {
    store->setBindings({binding("b", "/apps/mail.desktop"), binding("1", "/apps/editor.desktop"),
                        binding("a", "/apps/tools.desktop")});
    makeMonitor(true);
    EXPECT_EQ(itemTexts(*content->menu()),
              (QStringList{QStringLiteral("⇪ 1   Editor"), QStringLiteral("⇪ A   My Tools"),
                           QStringLiteral("⇪ B   Mail"), kSeparator, kSettings, kQuit}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(content->menu()->actions().at(i)->isEnabled()) << i;
    }
    // The stored order is left as it was.
    EXPECT_EQ(store->bindings().front().key, "b");
}

TEST_F(MenuContentTest, SortingComparesComposedFormsAndKeepsEqualKeysInStoredOrder) {
    // "e" + combining acute composes to U+00E9, which comes after "f".
    const std::vector<AppBinding> bindings = {
        binding("e\u0301", "/apps/one.desktop"), binding("f", "/apps/two.desktop"),
        binding("c", "/apps/first.desktop"), binding("c", "/apps/second.desktop")};
    const auto ordered = bindingsInKeyOrder(bindings);
    ASSERT_EQ(ordered.size(), 4U);
    EXPECT_EQ(ordered[0].appURL, bindings[2].appURL);
    EXPECT_EQ(ordered[1].appURL, bindings[3].appURL);
    EXPECT_EQ(ordered[2].key, "f");
    EXPECT_EQ(ordered[3].key, "e\u0301");
}

TEST_F(MenuContentTest, LineTextUsesTheFullUpperCaseAndDropsEveryAppFromTheName) {
    EXPECT_EQ(shortcutLineText(binding("s", "/apps/editor.desktop"), applications),
              QStringLiteral("⇪ S   Editor"));
    EXPECT_EQ(shortcutLineText(binding("ß", "/apps/tools.desktop"), applications),
              QStringLiteral("⇪ SS   My Tools"));
    EXPECT_EQ(shortcutLineText(binding("m", "/apps/mail.desktop"), applications),
              QStringLiteral("⇪ M   Mail"));
    // The removal is case-sensitive.
    EXPECT_EQ(shortcutLineText(binding("u", "/apps/upper.desktop"), applications),
              QStringLiteral("⇪ U   Shout.APP"));
}

TEST_F(MenuContentTest, NamesComeFromTheDecodedPathAndAreShownVerbatim) {
    applications.names["/apps/my editor.desktop"] = "%1 %2 Editor";
    EXPECT_EQ(shortcutLineText(binding("x", "/apps/my editor.desktop"), applications),
              QStringLiteral("⇪ X   %1 %2 Editor"));
    // An application that is gone still gets a line, named after its file.
    EXPECT_EQ(shortcutLineText(binding("g", "/apps/gone.desktop"), applications),
              QStringLiteral("⇪ G   gone.desktop"));
}

TEST_F(MenuContentTest, AStoreChangeRebuildsTheMenuWithoutOpeningIt) {
    makeMonitor(true);
    const QMenu* menu = content->menu();
    store->addApp(fileUrlFromPath("/apps/mail.desktop"));
    settle();
    ASSERT_EQ(menu->actions().size(), 4);
    EXPECT_TRUE(menu->actions().front()->text().endsWith(QStringLiteral("   Mail")));

    store->setBindings({});
    settle();
    EXPECT_EQ(itemTexts(*menu), (QStringList{kSettings, kQuit}));
}

TEST_F(MenuContentTest, AccessArrivingRemovesTheNotice) {
    makeMonitor(false);
    monitor->start();
    ASSERT_EQ(fakes.timers.neverInvalidatedTimers(), 1);
    fakes.trust.trusted = true;
    fakes.timers.tick();
    settle();
    EXPECT_EQ(itemTexts(*content->menu()), (QStringList{kSettings, kQuit}));
    monitor->stop();
}

TEST_F(MenuContentTest, CommandsCarryTheirShortcutsAndActions) {
    makeMonitor(true);
    const auto actions = content->menu()->actions();
    QAction* settings = actions.at(0);
    QAction* quit = actions.at(1);
    EXPECT_EQ(settings->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

    settings->trigger();
    EXPECT_EQ(settingsRequests, 1);

    // Quit ends the event loop; a watchdog fails the test instead of hanging it.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    watchdog.start(5000);
    QTimer::singleShot(0, quit, &QAction::trigger);
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

} // namespace
} // namespace tarnell::app
