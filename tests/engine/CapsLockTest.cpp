#include "engine/HyperKeyMonitor.h"
#include "support/FakeApplicationDirectory.h"
#include "support/FakePlatformServices.h"
#include "support/InMemoryKeyValueStore.h"

#include <gtest/gtest.h>

namespace tarnell::engine {
namespace {

TEST(CapsLockMapping, TextsAreExact) {
    const std::string& enabling = HyperKeyMonitor::remappingText(true);
    EXPECT_EQ(enabling, "{\"UserKeyMapping\":[{\"HIDKeyboardModifierMappingSrc\":0x700000039,"
                        "\"HIDKeyboardModifierMappingDst\":0x70000006D}]}");
    EXPECT_EQ(enabling.size(), 110u);
    EXPECT_EQ(HyperKeyMonitor::remappingText(false), "{\"UserKeyMapping\":[]}");
    EXPECT_EQ(HyperKeyMonitor::remappingText(false).size(), 21u);
}

class CapsLockToggle : public ::testing::Test {
protected:
    CapsLockToggle()
        : store(std::make_shared<BindingStore>(defaults, applications)),
          monitor(HyperKeyMonitor::create(store, platform.services())) {}

    testing::InMemoryKeyValueStore defaults;
    testing::FakeApplicationDirectory applications;
    std::shared_ptr<BindingStore> store;
    testing::FakePlatform platform;
    std::shared_ptr<HyperKeyMonitor> monitor;
};

TEST_F(CapsLockToggle, ReadsThenWritesTheOppositeThenCloses) {
    monitor->toggleCapsLock();
    EXPECT_EQ(platform.lockState.calls,
              (std::vector<std::string>{"open", "get", "set on", "close"}));
    EXPECT_EQ(platform.lockState.openConnections, 0);
}

TEST_F(CapsLockToggle, TwoTogglesRestoreTheState) {
    platform.lockState.locked = true;
    monitor->toggleCapsLock();
    EXPECT_FALSE(platform.lockState.locked);
    monitor->toggleCapsLock();
    EXPECT_TRUE(platform.lockState.locked);
}

TEST_F(CapsLockToggle, UnreadableStateTurnsCapsLockOn) {
    platform.lockState.readable = false;
    platform.lockState.locked = true;
    monitor->toggleCapsLock();
    EXPECT_TRUE(platform.lockState.locked);
    EXPECT_EQ(platform.lockState.calls.at(2), "set on");
}

TEST_F(CapsLockToggle, NoServiceDoesNothing) {
    platform.lockState.available = false;
    monitor->toggleCapsLock();
    EXPECT_EQ(platform.lockState.opens, 1);
    EXPECT_TRUE(platform.lockState.calls.empty());
}

} // namespace
} // namespace tarnell::engine
