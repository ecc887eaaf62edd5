#include "app/AppChooserDialog.h"

#include "FakeApplicationCatalog.h"
#include "bindings/FileUrl.h"
#include "support/QtApplication.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace tarnell::app {
namespace {

using testing::settle;

InstalledApplication application(const char* id, const char* name) {
    return {QString::fromLatin1(id),
            QString::fromUtf8(name),
            QStringLiteral("/usr/share/applications/") + QString::fromLatin1(id),
            {}};
}

std::string urlOf(const char* id) {
    return fileUrlFromPath(std::string("/usr/share/applications/") + id);
}

QStringList shownNames(const QListWidget* list) {
    QStringList names;
    for (int i = 0; i < list->count(); ++i) {
        if (!list->item(i)->isHidden()) {
            names.append(list->item(i)->text());
        }
    }
    return names;
}

QListWidgetItem* itemNamed(const QListWidget* list, const char* name) {
    const auto found = list->findItems(QString::fromUtf8(name), Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.front();
}

class AppChooserDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testing::qtApplication(); }

    void SetUp() override {
        catalog.applications = {
            application("zed.desktop", "zed"), application("editor.desktop", "Editor"),
            application("eclair.desktop", "Éclair"), application("app10.desktop", "App 10"),
            application("app9.desktop", "App 9")};
    }

    test::FakeApplicationCatalog catalog;
};

TEST_F(AppChooserDialogTest, ListsApplicationsByNameWithTheirPaths) {
    AppChooserDialog dialog(catalog);
    EXPECT_EQ(
        shownNames(dialog.list()),
        (QStringList{QStringLiteral("App 9"), QStringLiteral("App 10"), QString::fromUtf8("Éclair"),
                     QStringLiteral("Editor"), QStringLiteral("zed")}));
    EXPECT_EQ(itemNamed(dialog.list(), "Editor")->toolTip(),
              QStringLiteral("/usr/share/applications/editor.desktop"));
    EXPECT_EQ(dialog.addButton()->text(), QStringLiteral("Add"));
    EXPECT_FALSE(dialog.addButton()->isEnabled());
    EXPECT_EQ(dialog.list()->selectionMode(), QAbstractItemView::ExtendedSelection);
}

TEST_F(AppChooserDialogTest, SearchFiltersByName) {
    AppChooserDialog dialog(catalog);
    dialog.searchField()->setText(QStringLiteral("app"));
    EXPECT_EQ(shownNames(dialog.list()),
              (QStringList{QStringLiteral("App 9"), QStringLiteral("App 10")}));
    dialog.searchField()->clear();
    EXPECT_EQ(shownNames(dialog.list()).size(), 5);
}

TEST_F(AppChooserDialogTest, ChosenEntriesComeInTheOrderShown) {
    AppChooserDialog dialog(catalog);
    itemNamed(dialog.list(), "zed")->setSelected(true);
    itemNamed(dialog.list(), "App 9")->setSelected(true);
    itemNamed(dialog.list(), "Editor")->setSelected(true);
    ASSERT_TRUE(dialog.addButton()->isEnabled());
    dialog.addButton()->click();

    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.chosenUrls(),
              (std::vector<std::string>{urlOf("app9.desktop"), urlOf("editor.desktop"),
                                        urlOf("zed.desktop")}));
}

TEST_F(AppChooserDialogTest, EntriesHiddenBySearchAreNotChosen) {
    AppChooserDialog dialog(catalog);
    dialog.list()->selectAll();
    dialog.searchField()->setText(QStringLiteral("ed"));
    dialog.addButton()->click();
    EXPECT_EQ(dialog.chosenUrls(),
              (std::vector<std::string>{urlOf("editor.desktop"), urlOf("zed.desktop")}));
}

TEST_F(AppChooserDialogTest, FollowsInstallsAndRemovalsKeepingTheSelection) {
    AppChooserDialog dialog(catalog);
    itemNamed(dialog.list(), "Editor")->setSelected(true);

    auto applications = catalog.applications;
    applications.erase(applications.begin()); // zed removed
    applications.push_back(application("browser.desktop", "Browser"));
    catalog.setApplications(applications);
    settle();

    EXPECT_EQ(
        shownNames(dialog.list()),
        (QStringList{QStringLiteral("App 9"), QStringLiteral("App 10"), QStringLiteral("Browser"),
                     QString::fromUtf8("Éclair"), QStringLiteral("Editor")}));
    EXPECT_TRUE(itemNamed(dialog.list(), "Editor")->isSelected());
    EXPECT_TRUE(dialog.addButton()->isEnabled());
}

TEST_F(AppChooserDialogTest, ModalRunReturnsChoicesOrNothingWhenCancelled) {
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<AppChooserDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->reject();
    });
    EXPECT_TRUE(AppChooserDialog::chooseApplications(catalog, nullptr).empty());

    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<AppChooserDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->acceptFiles({QStringLiteral("/opt/My Apps/tool.desktop")});
    });
    EXPECT_EQ(AppChooserDialog::chooseApplications(catalog, nullptr),
              std::vector<std::string>{fileUrlFromPath("/opt/My Apps/tool.desktop")});
}

TEST_F(AppChooserDialogTest, NamesLineUpWhetherOrNotTheEntryHasAnIcon) {
    // Two entries with the same name, one with a pale icon and one without: their
    // names must be drawn at the same place.
    QPixmap pale(24, 24);
    pale.fill(QColor(0xff, 0xe0, 0x80));
    InstalledApplication withIcon = application("a.desktop", "Editor");
    withIcon.icon = QIcon(pale);
    catalog.applications = {withIcon, application("b.desktop", "Editor")};
    AppChooserDialog dialog(catalog);
    dialog.show();
    settle();

    const QImage shot = dialog.list()->viewport()->grab().toImage();
    auto firstDarkColumn = [&shot](const QRect& row) {
        for (int x = row.left(); x <= row.right(); ++x) {
            for (int y = row.top(); y <= row.bottom(); ++y) {
                if (qGray(shot.pixel(x, y)) < 96) {
                    return x;
                }
            }
        }
        return -1;
    };
    const int first = firstDarkColumn(dialog.list()->visualItemRect(dialog.list()->item(0)));
    const int second = firstDarkColumn(dialog.list()->visualItemRect(dialog.list()->item(1)));
    ASSERT_GE(first, 0);
    EXPECT_EQ(second, first);
}

TEST_F(AppChooserDialogTest, BrowseAddsTheChosenEntriesWithAnAddButton) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString entry = directory.filePath(QStringLiteral("tool.desktop"));
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    AppChooserDialog dialog(catalog);
    dialog.show();
    QString acceptText;
    QTimer::singleShot(0, [&] {
        auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(files, nullptr);
        const auto* buttons = files->findChild<QDialogButtonBox*>();
        ASSERT_NE(buttons, nullptr);
        QPushButton* accept = buttons->button(QDialogButtonBox::Open);
        ASSERT_NE(accept, nullptr);
        files->setDirectory(directory.path());
        files->selectFile(entry);
        acceptText = accept->text();
        accept->click();
    });
    dialog.browseButton()->click();

    EXPECT_EQ(acceptText, QStringLiteral("Add"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.chosenUrls(), std::vector<std::string>{fileUrlFromPath(entry.toStdString())});
}

} // namespace
} // namespace tarnell::app
