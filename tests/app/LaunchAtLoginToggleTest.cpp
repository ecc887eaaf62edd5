#include "app/LaunchAtLoginToggle.h"

#include "FakeApplicationCatalog.h"

#include <gtest/gtest.h>

namespace tarnell::app {
namespace {

using test::FakeLoginItems;

TEST(LaunchAtLoginToggle, InitialValueIsOnOnlyWhenEnabled) {
    FakeLoginItems service;
    const std::pair<LoginItemStatus, bool> cases[] = {
        {LoginItemStatus::notRegistered, false},
        {LoginItemStatus::enabled, true},
        {LoginItemStatus::notFound, false},
    };
    for (const auto& [status, expected] : cases) {
        service.currentStatus = status;
        EXPECT_EQ(LaunchAtLoginToggle::initialValue(service), expected);
    }
    EXPECT_EQ(service.registrations + service.unregistrations, 0);
}

TEST(LaunchAtLoginToggle, InitialValueIsNotAChange) {
    FakeLoginItems service;
    LaunchAtLoginToggle toggle(service, true);
    toggle.setValue(true);
    EXPECT_TRUE(toggle.value());
    EXPECT_EQ(service.registrations + service.unregistrations + service.statusReads, 0);
}

TEST(LaunchAtLoginToggle, SuccessfulRegistrationKeepsValueWithoutReadingStatus) {
    FakeLoginItems service;
    service.currentStatus = LoginItemStatus::notFound;
    LaunchAtLoginToggle toggle(service, false);
    std::vector<bool> shown;
    toggle.setOnValueChanged([&](bool value) { shown.push_back(value); });

    toggle.setValue(true);
    EXPECT_TRUE(toggle.value());
    EXPECT_EQ(service.registrations, 1);
    EXPECT_EQ(service.statusReads, 0);
    EXPECT_EQ(shown, std::vector<bool>{true});

    toggle.setValue(false);
    EXPECT_FALSE(toggle.value());
    EXPECT_EQ(service.unregistrations, 1);
    EXPECT_EQ(service.statusReads, 0);
}

TEST(LaunchAtLoginToggle, RefusedRegistrationTurnsOffAndUnregistersOnce) {
    FakeLoginItems service;
    service.registerSucceeds = false;
    LaunchAtLoginToggle toggle(service, false);
    std::vector<bool> shown;
    toggle.setOnValueChanged([&](bool value) { shown.push_back(value); });

    toggle.setValue(true);
    EXPECT_FALSE(toggle.value());
    EXPECT_EQ(service.registrations, 1);
    EXPECT_EQ(service.unregistrations, 1);
    EXPECT_EQ(service.statusReads, 1);
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
}

TEST(LaunchAtLoginToggle, RefusedUnregistrationWhileEnabledTurnsBackOnAndRegistersOnce) {
    FakeLoginItems service;
    service.currentStatus = LoginItemStatus::enabled;
    service.unregisterSucceeds = false;
    LaunchAtLoginToggle toggle(service, true);

    toggle.setValue(false);
    EXPECT_TRUE(toggle.value());
    EXPECT_EQ(service.unregistrations, 1);
    EXPECT_EQ(service.registrations, 1);
    EXPECT_EQ(service.statusReads, 1);
}

TEST(LaunchAtLoginToggle, SecondRefusalStopsWithValueMatchingStatus) {
    FakeLoginItems service;
    service.currentStatus = LoginItemStatus::enabled;
    service.registerSucceeds = false;
    service.unregisterSucceeds = false;
    LaunchAtLoginToggle toggle(service, true);

    toggle.setValue(false);
    // Refused twice: the value ends where the status puts it and nothing more runs.
    EXPECT_TRUE(toggle.value());
    EXPECT_EQ(service.unregistrations, 1);
    EXPECT_EQ(service.registrations, 1);
    EXPECT_EQ(service.statusReads, 2);
}

TEST(LaunchAtLoginToggle, RefusedUnregistrationWithItemGoneStaysOff) {
    FakeLoginItems service;
    service.currentStatus = LoginItemStatus::notFound;
    service.unregisterSucceeds = false;
    LaunchAtLoginToggle toggle(service, true);

    toggle.setValue(false);
    EXPECT_FALSE(toggle.value());
    EXPECT_EQ(service.registrations, 0);
    EXPECT_EQ(service.statusReads, 1);
}

} // namespace
} // namespace tarnell::app
