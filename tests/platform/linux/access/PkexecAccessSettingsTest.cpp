#include "platform/linux/access/PkexecAccessSettings.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <gtest/gtest.h>

namespace tarnell::platform {
namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    static QApplication application(argc, argv);
    return application;
}

std::vector<QDialog*> openDialogs() {
    std::vector<QDialog*> dialogs;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(widget);
            dialog != nullptr && dialog->isVisible()) {
            dialogs.push_back(dialog);
        }
    }
    return dialogs;
}

class PkexecAccessSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { app(); }
    void TearDown() override {
        for (QDialog* dialog : openDialogs()) {
            dialog->close();
        }
        QApplication::processEvents();
    }

    InputAccessConfig config(std::filesystem::path helper) {
        InputAccessConfig result;
        result.keyboardNodes = [] { return std::vector<std::filesystem::path>{}; };
        result.uinputDevice = "/nonexistent/uinput";
        result.helper = std::move(helper);
        result.pkexec = "/usr/bin/true";
        result.launch = [this](const std::filesystem::path& program,
                               const std::vector<std::string>& arguments, std::function<void()>) {
            launched.push_back(program.string() + " " + arguments.at(0));
            return true;
        };
        return result;
    }

    std::vector<std::string> launched;
};

TEST_F(PkexecAccessSettingsTest, InstalledHelperRunsThroughPkexecWithoutAnyWindow) {
    PkexecAccessSettings settings(config("/usr/bin/true"), "/unused");
    settings.openAccessSettings(nullptr);
    EXPECT_EQ(launched, std::vector<std::string>{"/usr/bin/true /usr/bin/true"});
    EXPECT_TRUE(openDialogs().empty());
}

TEST_F(PkexecAccessSettingsTest, WithoutInstalledHelperTellsTheCommandToRun) {
    // The built helper, as it sits in the build tree: not root's to trust.
    const auto built = PkexecAccessSettings::builtAccessHelperPath();
    ASSERT_TRUE(std::filesystem::exists(built)) << built;
    PkexecAccessSettings settings(config("/usr/libexec/tarnell/not-installed"), built);
    settings.openAccessSettings(nullptr);
    EXPECT_TRUE(launched.empty());
    const auto dialogs = openDialogs();
    ASSERT_EQ(dialogs.size(), 1U) << "shown without blocking the caller";
    // On one line, whole and ready to copy: never broken at a hyphen of the path.
    const auto* command = dialogs[0]->findChild<QLineEdit*>(QStringLiteral("command"));
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->text(), QStringLiteral("sudo ") + QString::fromStdString(built));
    EXPECT_TRUE(command->isReadOnly());
    EXPECT_EQ(command->selectedText(), command->text());
    EXPECT_GE(command->width(), command->fontMetrics().horizontalAdvance(command->text()));
}

} // namespace
} // namespace tarnell::platform
