#include "platform/linux/access/PkexecAccessSettings.h"

#include <QApplication>
#include <QMessageBox>
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

std::vector<QMessageBox*> openBoxes() {
    std::vector<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
            boxes.push_back(box);
        }
    }
    return boxes;
}

class PkexecAccessSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { app(); }
    void TearDown() override {
        for (QMessageBox* box : openBoxes()) {
            box->close();
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
    EXPECT_TRUE(openBoxes().empty());
}

TEST_F(PkexecAccessSettingsTest, WithoutInstalledHelperTellsTheCommandToRun) {
    // The built helper, as it sits in the build tree: not root's to trust.
    const auto built = PkexecAccessSettings::builtAccessHelperPath();
    ASSERT_TRUE(std::filesystem::exists(built)) << built;
    PkexecAccessSettings settings(config("/usr/libexec/tarnell/not-installed"), built);
    settings.openAccessSettings(nullptr);
    EXPECT_TRUE(launched.empty());
    const auto boxes = openBoxes();
    ASSERT_EQ(boxes.size(), 1U) << "shown without blocking the caller";
    EXPECT_EQ(boxes[0]->informativeText(), QStringLiteral("sudo ") + QString::fromStdString(built));
}

} // namespace
} // namespace tarnell::platform
