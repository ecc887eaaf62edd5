#pragma once

// Everything the program's shell is given, fake: settings in memory, listed
// applications, the engine's services and the login item.
#include "FakeApplicationCatalog.h"
#include "app/AppDelegate.h"
#include "support/FakeApplicationDirectory.h"
#include "support/FakePlatformServices.h"
#include "support/InMemoryKeyValueStore.h"

#include <QWidget>
#include <memory>

namespace tarnell::testing {

struct ShellFakes {
    // Input access is refused until the test grants it.
    ShellFakes() { fakes.trust.trusted = false; }

    // The dependencies over these fakes; by default the settings form is a plain widget.
    app::AppDelegate::Dependencies
    dependencies(app::SettingsContentFactory makeSettingsContent = plainSettingsContent) {
        return {.settings = defaults,
                .applications = applications,
                .engine = fakes.services(),
                .loginItems = loginItems,
                .makeSettingsContent = std::move(makeSettingsContent)};
    }

    static std::unique_ptr<QWidget> plainSettingsContent(BindingStore&, engine::HyperKeyMonitor&,
                                                         bool) {
        return std::make_unique<QWidget>();
    }

    InMemoryKeyValueStore defaults;
    FakeApplicationDirectory applications;
    FakePlatform fakes;
    test::FakeLoginItems loginItems;
};

} // namespace tarnell::testing
