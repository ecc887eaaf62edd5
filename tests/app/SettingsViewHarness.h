#pragma once

#include "FakeApplicationCatalog.h"
#include "MonitorHarness.h"
#include "app/SettingsView.h"
#include "bindings/BindingStore.h"
#include "support/FakeApplicationDirectory.h"
#include "support/InMemoryKeyValueStore.h"
#include "support/QtApplication.h"

#include <memory>

namespace tarnell::test {

// A settings view over a store in memory, a monitor on fake services and fake
// platform services, all owned together.
struct SettingsViewHarness {
    SettingsViewHarness()
        : SettingsViewHarness(std::make_unique<testing::InMemoryKeyValueStore>()) {}
    // Over the given settings, e.g. real settings files.
    explicit SettingsViewHarness(std::unique_ptr<KeyValueStore> settings)
        : ownSettings(std::move(settings)), defaults(*ownSettings) {
        store->setBindings({});
    }

    // Starts the monitor with the given access and makes the view.
    app::SettingsView& makeView(bool trusted, bool launchesAtLogin = false) {
        harness.trust.trusted = trusted;
        harness.monitor->start();
        testing::settle();
        view = std::make_unique<app::SettingsView>(*store, *harness.monitor, loginItems, access,
                                                   catalog, launchesAtLogin);
        return *view;
    }

    // Grants access and lets the monitor's poll find it.
    void grantAccess() {
        harness.trust.trusted = true;
        harness.timers.tick();
        testing::settle();
    }

    std::unique_ptr<KeyValueStore> ownSettings;
    KeyValueStore& defaults;
    tarnell::testing::FakeApplicationDirectory directory;
    std::shared_ptr<BindingStore> store = std::make_shared<BindingStore>(defaults, directory);
    MonitorHarness harness{store};
    FakeLoginItems loginItems;
    FakeAccessSettings access;
    FakeApplicationCatalog catalog;
    std::unique_ptr<app::SettingsView> view;
};

} // namespace tarnell::test
