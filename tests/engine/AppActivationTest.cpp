#include "engine/AppActivation.h"

#include "support/FakePlatformServices.h"

#include <gtest/gtest.h>

namespace tarnell::engine {
namespace {

constexpr std::string_view kMail = "file:///usr/share/applications/org.example.Mail.desktop";

struct AppActivation : ::testing::Test {
    testing::FakeWorkspace workspace;
    void front(std::optional<std::string> identifier) {
        workspace.frontmost = RunningApplication{std::move(identifier), 7};
    }
};

TEST_F(AppActivation, HidesTheFrontmostBoundApplicationOnlyWithTheSettingOn) {
    workspace.identifiers[std::string(kMail)] = "org.example.Mail.desktop";
    front("org.example.Mail.desktop");
    activateApp(workspace, true, kMail);
    EXPECT_EQ(workspace.hidden, std::vector<std::uint64_t>{7});
    EXPECT_TRUE(workspace.opened.empty());

    activateApp(workspace, false, kMail);
    EXPECT_EQ(workspace.hidden.size(), 1u);
    EXPECT_EQ(workspace.opened, std::vector<std::string>{std::string(kMail)});
}

TEST_F(AppActivation, OpensWhenAnotherApplicationOrNoneIsInFront) {
    workspace.identifiers[std::string(kMail)] = "org.example.Mail.desktop";
    front("org.example.Editor.desktop");
    activateApp(workspace, true, kMail);
    workspace.frontmost.reset();
    activateApp(workspace, true, kMail);
    EXPECT_TRUE(workspace.hidden.empty());
    EXPECT_EQ(workspace.opened.size(), 2u);
}

TEST_F(AppActivation, IdentifiersThatDifferInCaseDiffer) {
    workspace.identifiers[std::string(kMail)] = "org.example.Mail.desktop";
    front("org.example.mail.desktop");
    activateApp(workspace, true, kMail);
    EXPECT_TRUE(workspace.hidden.empty());
    EXPECT_EQ(workspace.opened.size(), 1u);
}

TEST_F(AppActivation, TwoAbsentIdentifiersCountAsTheSameApplication) {
    front(std::nullopt); // the bound location is not a desktop entry either
    activateApp(workspace, true, "file:///tmp/not-an-app");
    EXPECT_EQ(workspace.hidden.size(), 1u);

    front("org.example.Mail.desktop");
    activateApp(workspace, true, "file:///tmp/not-an-app");
    EXPECT_EQ(workspace.opened.size(), 1u);
}

} // namespace
} // namespace tarnell::engine
