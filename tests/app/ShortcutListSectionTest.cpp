#include "app/ShortcutListSection.h"

#include "FakeApplicationCatalog.h"
#include "app/AppChooserDialog.h"
#include "app/ElidedLabel.h"
#include "app/ShortcutRow.h"
#include "bindings/BindingStore.h"
#include "bindings/FileUrl.h"
#include "support/FakeApplicationDirectory.h"
#include "support/InMemoryKeyValueStore.h"
#include "support/QtApplication.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>
#include <set>

namespace tarnell::app {
namespace {

using testing::settle;

std::string urlOf(const std::string& name) {
    return fileUrlFromPath("/usr/share/applications/" + name + ".desktop");
}

AppBinding binding(const std::string& key, const std::string& name) {
    return AppBinding{Uuid::random(), key, urlOf(name)};
}

QStringList titles(const QComboBox* picker) {
    QStringList result;
    for (int i = 0; i < picker->count(); ++i) {
        result.append(picker->itemText(i));
    }
    return result;
}

QStringList values(const QComboBox* picker) {
    QStringList result;
    for (int i = 0; i < picker->count(); ++i) {
        result.append(picker->itemData(i).toString());
    }
    return result;
}

// Picks the option as the user does, through the picker's activation.
void choose(ShortcutRow* row, const QString& title) {
    QComboBox* picker = row->keyPicker();
    const int index = picker->findText(title);
    ASSERT_GE(index, 0) << title.toStdString();
    picker->setCurrentIndex(index);
    emit picker->activated(index);
}

std::vector<std::string> keysOf(const BindingStore& store) {
    std::vector<std::string> keys;
    for (const AppBinding& b : store.bindings()) {
        keys.push_back(b.key);
    }
    return keys;
}

class ShortcutListSectionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testing::qtApplication(); }

    void SetUp() override { store.setBindings({}); }

    ShortcutListSection& makeSection() {
        section = std::make_unique<ShortcutListSection>(store, catalog);
        return *section;
    }

    tarnell::testing::InMemoryKeyValueStore defaults;
    tarnell::testing::FakeApplicationDirectory directory;
    BindingStore store{defaults, directory};
    test::FakeApplicationCatalog catalog;
    std::unique_ptr<ShortcutListSection> section;
};

TEST_F(ShortcutListSectionTest, EmptyListShowsOnlyTheAddButton) {
    ShortcutListSection& list = makeSection();
    EXPECT_TRUE(list.rows().empty());
    EXPECT_EQ(list.addButton()->text(), QString::fromUtf8("Add App\u2026"));
}

TEST_F(ShortcutListSectionTest, RowsFollowTheStoredOrderWithIconAndName) {
    directory.names["/usr/share/applications/editor.desktop"] = "Editor.app Helper.app";
    store.setBindings({binding("s", "mail"), binding("c", "editor"), binding("f", "files")});
    ShortcutListSection& list = makeSection();

    const auto rows = list.rows();
    ASSERT_EQ(rows.size(), 3U);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i]->bindingId(), store.bindings()[i].id);
    }
    EXPECT_EQ(rows[1]->nameLabel()->text(), QStringLiteral("Editor Helper"));
    EXPECT_EQ(rows[0]->nameLabel()->text(), QStringLiteral("mail.desktop"));
    EXPECT_EQ(rows[0]->iconLabel()->pixmap().size(), QSize(20, 20));
    EXPECT_TRUE(
        catalog.iconRequests.contains(QStringLiteral("/usr/share/applications/mail.desktop")));

    EXPECT_EQ(rows[0]->removeButton()->toolTip(), QStringLiteral("Remove Shortcut"));
    EXPECT_EQ(rows[0]->removeButton()->toolButtonStyle(), Qt::ToolButtonIconOnly);
    EXPECT_FALSE(rows[0]->removeButton()->icon().isNull());
}

TEST_F(ShortcutListSectionTest, PickerOffersFreeKeysAndItsOwnInPlace) {
    store.setBindings({binding("c", "editor"), binding("s", "mail"), binding("f", "files")});
    ShortcutListSection& list = makeSection();
    const QComboBox* picker = list.rows()[1]->keyPicker();

    EXPECT_EQ(picker->count(), 34);
    const QStringList keys = values(picker);
    EXPECT_FALSE(keys.contains(QStringLiteral("c")));
    EXPECT_FALSE(keys.contains(QStringLiteral("f")));
    EXPECT_EQ(keys.indexOf(QStringLiteral("s")), keys.indexOf(QStringLiteral("r")) + 1);
    EXPECT_EQ(keys.indexOf(QStringLiteral("t")), keys.indexOf(QStringLiteral("s")) + 1);
    EXPECT_EQ(keys.last(), QStringLiteral("9"));
    EXPECT_EQ(titles(picker).mid(0, 4),
              (QStringList{QString::fromUtf8("\u21EA A"), QString::fromUtf8("\u21EA B"),
                           QString::fromUtf8("\u21EA D"), QString::fromUtf8("\u21EA E")}));
    EXPECT_EQ(picker->currentData().toString(), QStringLiteral("s"));
    EXPECT_EQ(picker->currentText(), QString::fromUtf8("\u21EA S"));
}

TEST_F(ShortcutListSectionTest, WithAllKeysHeldEachPickerOffersItsOwnAndAddingAddsNothing) {
    std::vector<AppBinding> bindings;
    for (const std::string& key : allKeys()) {
        bindings.push_back(binding(key, "app-" + key));
    }
    store.setBindings(bindings);
    ShortcutListSection& list = makeSection();
    list.setChooser([](QWidget*) { return std::vector<std::string>{urlOf("another")}; });

    for (ShortcutRow* row : list.rows()) {
        ASSERT_EQ(row->keyPicker()->count(), 1);
        EXPECT_EQ(row->keyPicker()->currentIndex(), 0);
    }
    list.addButton()->click();
    settle();
    EXPECT_EQ(store.bindings().size(), 36U);
    EXPECT_EQ(list.rows().size(), 36U);
}

TEST_F(ShortcutListSectionTest, ChoosingAKeyStoresItAndRerendersEveryRow) {
    store.setBindings({binding("a", "editor"), binding("b", "mail")});
    ShortcutListSection& list = makeSection();
    ShortcutRow* first = list.rows()[0];
    first->keyPicker()->setFocus();

    choose(first, QString::fromUtf8("\u21EA Q"));
    EXPECT_EQ(keysOf(store), (std::vector<std::string>{"q", "b"}));
    BindingStore reloaded(defaults, directory);
    EXPECT_EQ(keysOf(reloaded), (std::vector<std::string>{"q", "b"}));

    settle();
    // The same row widget shows the new key; the other row offers a again, not q.
    EXPECT_EQ(list.rows()[0], first);
    EXPECT_EQ(first->keyPicker()->currentData().toString(), QStringLiteral("q"));
    const QStringList other = values(list.rows()[1]->keyPicker());
    EXPECT_TRUE(other.contains(QStringLiteral("a")));
    EXPECT_FALSE(other.contains(QStringLiteral("q")));
}

TEST_F(ShortcutListSectionTest, TwoRecordsWithOneKeyBothShowIt) {
    store.setBindings({binding("k", "editor"), binding("k", "mail"), binding("m", "files")});
    ShortcutListSection& list = makeSection();
    const auto rows = list.rows();
    EXPECT_EQ(rows[0]->keyPicker()->currentData().toString(), QStringLiteral("k"));
    EXPECT_EQ(rows[1]->keyPicker()->currentData().toString(), QStringLiteral("k"));
    EXPECT_FALSE(values(rows[2]->keyPicker()).contains(QStringLiteral("k")));
}

TEST_F(ShortcutListSectionTest, AKeyOutsideTheOptionsSelectsNothingUntilReplaced) {
    store.setBindings({binding("Q", "editor"), binding(";", "mail")});
    ShortcutListSection& list = makeSection();
    for (ShortcutRow* row : list.rows()) {
        EXPECT_EQ(row->keyPicker()->currentIndex(), -1);
        EXPECT_EQ(row->keyPicker()->count(), 36);
    }
    choose(list.rows()[1], QString::fromUtf8("\u21EA 7"));
    EXPECT_EQ(keysOf(store), (std::vector<std::string>{"Q", "7"}));
}

TEST_F(ShortcutListSectionTest, RemoveButtonAndContextMenuRemoveAtOnce) {
    store.setBindings({binding("a", "editor"), binding("b", "mail"), binding("c", "files")});
    const Uuid kept = store.bindings()[1].id;
    ShortcutListSection& list = makeSection();

    list.rows()[0]->removeButton()->click();
    ASSERT_EQ(store.bindings().size(), 2U);
    settle();
    ASSERT_EQ(list.rows().size(), 2U);

    ShortcutRow* last = list.rows()[1];
    EXPECT_EQ(last->contextMenuPolicy(), Qt::DefaultContextMenu);
    EXPECT_EQ(last->removeAction()->text(), QStringLiteral("Remove Shortcut"));
    last->removeAction()->trigger();
    settle();

    ASSERT_EQ(store.bindings().size(), 1U);
    EXPECT_EQ(store.bindings()[0].id, kept);
    ASSERT_EQ(list.rows().size(), 1U);
    EXPECT_EQ(list.rows()[0]->bindingId(), kept);
}

TEST_F(ShortcutListSectionTest, ContextMenuOffersRemoval) {
    store.setBindings({binding("a", "editor")});
    ShortcutListSection& list = makeSection();
    list.show();
    ShortcutRow* row = list.rows()[0];

    // Choose the menu's only item once it is open.
    QTimer::singleShot(0, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(menu->actions().size(), 1);
        EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("Remove Shortcut"));
        menu->actions()[0]->trigger();
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), row->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(row, &event);
    settle();
    EXPECT_TRUE(store.bindings().empty());
    EXPECT_TRUE(list.rows().empty());
}

TEST_F(ShortcutListSectionTest, ChosenApplicationsAreAddedInOrderWithDifferentKeys) {
    store.setBindings({binding("e", "editor")});
    ShortcutListSection& list = makeSection();
    list.setChooser([](QWidget*) {
        return std::vector<std::string>{urlOf("mail"), urlOf("files"), urlOf("editor")};
    });
    list.addButton()->click();
    settle();

    const auto& bindings = store.bindings();
    ASSERT_EQ(bindings.size(), 4U);
    EXPECT_EQ(bindings[1].appURL, urlOf("mail"));
    EXPECT_EQ(bindings[2].appURL, urlOf("files"));
    // An application already bound gets a second shortcut with another key.
    EXPECT_EQ(bindings[3].appURL, urlOf("editor"));
    const std::set<std::string> keys{bindings[0].key, bindings[1].key, bindings[2].key,
                                     bindings[3].key};
    EXPECT_EQ(keys.size(), 4U);
    ASSERT_EQ(list.rows().size(), 4U);
    EXPECT_EQ(list.rows()[3]->bindingId(), bindings[3].id);
}

TEST_F(ShortcutListSectionTest, CancelledChooserChangesNothing) {
    store.setBindings({binding("e", "editor")});
    ShortcutListSection& list = makeSection();
    list.setChooser([](QWidget*) { return std::vector<std::string>{}; });
    list.addButton()->click();
    settle();
    EXPECT_EQ(store.bindings().size(), 1U);
}

TEST_F(ShortcutListSectionTest, DefaultChooserIsTheApplicationDialog) {
    catalog.applications = {
        {QStringLiteral("mail.desktop"),
         QStringLiteral("Mail"),
         QStringLiteral("/usr/share/applications/mail.desktop"),
         {}},
        {QStringLiteral("files.desktop"),
         QStringLiteral("Files"),
         QStringLiteral("/usr/share/applications/files.desktop"),
         {}},
    };
    ShortcutListSection& list = makeSection();
    list.show();
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<AppChooserDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->list()->selectAll();
        dialog->addButton()->click();
    });
    list.addButton()->click();
    settle();

    // Added in the order shown: by name.
    ASSERT_EQ(store.bindings().size(), 2U);
    EXPECT_EQ(store.bindings()[0].appURL, urlOf("files"));
    EXPECT_EQ(store.bindings()[1].appURL, urlOf("mail"));
}

TEST_F(ShortcutListSectionTest, RowsAreUpdatedInPlace) {
    store.setBindings({binding("a", "editor"), binding("b", "mail")});
    ShortcutListSection& list = makeSection();
    list.show();
    list.activateWindow();
    const auto before = list.rows();
    before[1]->keyPicker()->setFocus();
    settle();
    ASSERT_EQ(QApplication::focusWidget(), before[1]->keyPicker());

    store.addApp(urlOf("files"));
    settle();
    const auto after = list.rows();
    ASSERT_EQ(after.size(), 3U);
    EXPECT_EQ(after[0], before[0]);
    EXPECT_EQ(after[1], before[1]);
    EXPECT_EQ(QApplication::focusWidget(), before[1]->keyPicker());
}

} // namespace
} // namespace tarnell::app
