#include "platform/linux/workspace/PendingLaunches.h"

#include <gtest/gtest.h>

namespace tarnell::platform {
namespace {

using namespace std::chrono_literals;

TEST(PendingLaunchesTest, UnderWayUntilItsWindowItsCompletionOrItsTimeIsUp) {
    PendingLaunches pending;
    const auto start = PendingLaunches::Clock::time_point{} + 1h;
    const auto timeUp = start + PendingLaunches::patience;

    const auto first = pending.start("alpha.desktop", start);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(pending.start("alpha.desktop", timeUp - 1ms), 0u);
    EXPECT_NE(pending.start("beta.desktop", start), 0u) << "another application is held up";
    pending.completed(""); // a launch without an ID is not ended by every message
    EXPECT_EQ(pending.start("alpha.desktop", start), 0u);

    const auto second = pending.start("alpha.desktop", timeUp);
    ASSERT_NE(second, 0u) << "never gives up waiting";
    pending.windowShown("alpha.desktop");
    const auto third = pending.start("alpha.desktop", timeUp);
    ASSERT_NE(third, 0u) << "the window did not end the launch";

    // An ID arriving late for a launch that is over names nothing: it cannot end a
    // later one.
    pending.identify(third, "id-3");
    pending.identify(second, "id-2");
    pending.completed("id-2");
    EXPECT_EQ(pending.start("alpha.desktop", timeUp), 0u);
    pending.completed("id-3");
    EXPECT_NE(pending.start("alpha.desktop", timeUp), 0u);
}

} // namespace
} // namespace tarnell::platform
