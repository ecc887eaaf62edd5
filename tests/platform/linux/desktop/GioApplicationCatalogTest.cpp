#include "platform/linux/desktop/GioApplicationCatalog.h"

#include "app/AppChooserDialog.h"
#include "bindings/FileUrl.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <gtest/gtest.h>

namespace tarnell::platform {
namespace {

QTemporaryDir* root = nullptr;

QString rootPath(const QString& relative) {
    return root->filePath(relative);
}

void write(const QString& relative, const QByteArray& contents) {
    const QString path = rootPath(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
}

void writeIcon(const QString& relative, QColor colour) {
    QDir().mkpath(QFileInfo(rootPath(relative)).path());
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(colour);
    ASSERT_TRUE(image.save(rootPath(relative)));
}

QByteArray entry(const char* name, const char* extra = "") {
    return QByteArray("[Desktop Entry]\nType=Application\nExec=true\nName=") + name + "\n" + extra;
}

QColor colourOf(const QIcon& icon) {
    return icon.pixmap(16).toImage().pixelColor(8, 8);
}

// GIO reads the XDG directories once per process, so they are set up before
// anything asks it, together with an icon theme of known colours.
class DesktopEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        root = new QTemporaryDir();
        ASSERT_TRUE(root->isValid());
        const QByteArray home = rootPath(QStringLiteral("home")).toUtf8();
        const QByteArray system = rootPath(QStringLiteral("system")).toUtf8();
        ::setenv("XDG_DATA_HOME", home.constData(), 1);
        ::setenv("XDG_DATA_DIRS", system.constData(), 1);
        ::unsetenv("XDG_CURRENT_DESKTOP");

        write(QStringLiteral("home/applications/notes.desktop"),
              entry("Zeta Notes",
                    QByteArray("Icon=") + rootPath(QStringLiteral("notes.png")).toUtf8() + "\n"));
        write(QStringLiteral("home/applications/dup.desktop"), entry("Duplicate (user)"));
        write(QStringLiteral("system/applications/dup.desktop"), entry("Duplicate (system)"));
        write(QStringLiteral("system/applications/hidden.desktop"),
              entry("Hidden One", "Hidden=true\n"));
        write(QStringLiteral("system/applications/nodisplay.desktop"),
              entry("Not Shown", "NoDisplay=true\n"));
        write(QStringLiteral("system/applications/themed.desktop"),
              entry("Themed", "Icon=tarnell-test-icon\n"));
        write(QStringLiteral("system/applications/missing-icon.desktop"),
              entry("Missing Icon", "Icon=no-such-icon-anywhere\n"));
        write(QStringLiteral("system/applications/kde/sub.desktop"), entry("Nested"));

        writeIcon(QStringLiteral("notes.png"), Qt::red);
        write(QStringLiteral("icons/tarnelltest/index.theme"),
              "[Icon Theme]\nName=Test\nDirectories=apps/16\n\n"
              "[apps/16]\nSize=16\nContext=Applications\nType=Fixed\n");
        writeIcon(QStringLiteral("icons/tarnelltest/apps/16/tarnell-test-icon.png"), Qt::green);
        writeIcon(QStringLiteral("icons/tarnelltest/apps/16/application-x-executable.png"),
                  Qt::blue);

        static int argc = 1;
        static char name[] = "tarnell-test";
        static char* argv[] = {name, nullptr};
        application = new QApplication(argc, argv);
        QIcon::setThemeSearchPaths({rootPath(QStringLiteral("icons"))});
        QIcon::setThemeName(QStringLiteral("tarnelltest"));
    }
    void TearDown() override {
        delete application;
        delete root;
    }

private:
    QApplication* application = nullptr;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new DesktopEnvironment);

std::map<QString, app::InstalledApplication> byId(GioApplicationCatalog& catalog) {
    std::map<QString, app::InstalledApplication> result;
    for (auto& application : catalog.installedApplications()) {
        EXPECT_TRUE(result.emplace(application.desktopId, application).second)
            << application.desktopId.toStdString();
    }
    return result;
}

TEST(GioApplicationCatalog, ListsShownApplicationsOncePerDesktopId) {
    GioApplicationCatalog catalog;
    const auto applications = byId(catalog);

    QStringList ids;
    for (const auto& [id, application] : applications) {
        ids.append(id);
    }
    EXPECT_EQ(ids,
              (QStringList{QStringLiteral("dup.desktop"), QStringLiteral("kde-sub.desktop"),
                           QStringLiteral("missing-icon.desktop"), QStringLiteral("notes.desktop"),
                           QStringLiteral("themed.desktop")}));

    // The user's entry stands in front of the system's of the same ID.
    const auto& dup = applications.at(QStringLiteral("dup.desktop"));
    EXPECT_EQ(dup.name, QStringLiteral("Duplicate (user)"));
    EXPECT_EQ(dup.path, rootPath(QStringLiteral("home/applications/dup.desktop")));
    EXPECT_EQ(applications.at(QStringLiteral("kde-sub.desktop")).path,
              rootPath(QStringLiteral("system/applications/kde/sub.desktop")));
    EXPECT_EQ(colourOf(applications.at(QStringLiteral("themed.desktop")).icon), QColor(Qt::green));
}

TEST(GioApplicationCatalog, IconsComeFromFilesTheThemeOrTheGenericIcon) {
    GioApplicationCatalog catalog;
    EXPECT_EQ(
        colourOf(catalog.iconForPath(rootPath(QStringLiteral("home/applications/notes.desktop")))),
        QColor(Qt::red));
    EXPECT_EQ(colourOf(catalog.iconForPath(
                  rootPath(QStringLiteral("system/applications/themed.desktop")))),
              QColor(Qt::green));
    const QColor generic(Qt::blue);
    EXPECT_EQ(colourOf(catalog.iconForPath(
                  rootPath(QStringLiteral("system/applications/missing-icon.desktop")))),
              generic);
    EXPECT_EQ(
        colourOf(catalog.iconForPath(rootPath(QStringLiteral("home/applications/dup.desktop")))),
        generic);
    EXPECT_EQ(colourOf(catalog.iconForPath(QStringLiteral("/nowhere/gone.desktop"))), generic);
    EXPECT_EQ(colourOf(catalog.iconForPath(rootPath(QStringLiteral("notes.png")))), generic);
}

TEST(GioApplicationCatalog, TellsWhenApplicationsAreInstalledOrRemoved) {
    GioApplicationCatalog catalog;
    int changes = 0;
    const auto subscription = catalog.changes().subscribe([&changes] { ++changes; });

    const auto waitForChange = [&changes] {
        const int before = changes;
        const QDeadlineTimer deadline(10000);
        while (changes == before && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        return changes > before;
    };

    write(QStringLiteral("home/applications/fresh.desktop"), entry("Fresh"));
    ASSERT_TRUE(waitForChange());
    EXPECT_TRUE(byId(catalog).contains(QStringLiteral("fresh.desktop")));

    ASSERT_TRUE(QFile::remove(rootPath(QStringLiteral("home/applications/fresh.desktop"))));
    ASSERT_TRUE(waitForChange());
    EXPECT_FALSE(byId(catalog).contains(QStringLiteral("fresh.desktop")));
}

TEST(GioApplicationCatalog, ChooserListsTheCatalogueByName) {
    GioApplicationCatalog catalog;
    app::AppChooserDialog dialog(catalog);
    QStringList names;
    for (int i = 0; i < dialog.list()->count(); ++i) {
        names.append(dialog.list()->item(i)->text());
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("Duplicate (user)"),
                                  QStringLiteral("Missing Icon"), QStringLiteral("Nested"),
                                  QStringLiteral("Themed"), QStringLiteral("Zeta Notes")}));

    QTimer::singleShot(0, [] {
        auto* shown = qobject_cast<app::AppChooserDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(shown, nullptr);
        shown->list()->item(4)->setSelected(true);
        shown->list()->item(1)->setSelected(true);
        shown->addButton()->click();
    });
    EXPECT_EQ(
        app::AppChooserDialog::chooseApplications(catalog, nullptr),
        (std::vector<std::string>{
            fileUrlFromPath(
                rootPath(QStringLiteral("system/applications/missing-icon.desktop")).toStdString()),
            fileUrlFromPath(
                rootPath(QStringLiteral("home/applications/notes.desktop")).toStdString())}));

    QTimer::singleShot(0, [] {
        auto* shown = qobject_cast<app::AppChooserDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(shown, nullptr);
        shown->list()->selectAll();
        shown->reject();
    });
    EXPECT_TRUE(app::AppChooserDialog::chooseApplications(catalog, nullptr).empty());
}

} // namespace
} // namespace tarnell::platform
