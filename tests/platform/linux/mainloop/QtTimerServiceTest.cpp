#include "platform/linux/mainloop/QtTimerService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

namespace tarnell::platform {
namespace {

using namespace std::chrono_literals;

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    return application;
}

// Runs the event loop until `done` holds or the time is up.
bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 2000ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limit.count()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return done();
}

void runFor(std::chrono::milliseconds span) {
    runUntil([] { return false; }, span);
}

class QtTimerServiceTest : public ::testing::Test {
protected:
    void SetUp() override { app(); }
    QtTimerService service;
};

TEST_F(QtTimerServiceTest, FiresRepeatedlyOnTheEventLoopUntilInvalidated) {
    int ticks = 0;
    auto timer = service.scheduleRepeating(10ms, [&](engine::RepeatingTimer&) { ++ticks; });
    EXPECT_EQ(ticks, 0) << "nothing fires before the loop runs";
    ASSERT_TRUE(runUntil([&] { return ticks >= 3; }));

    timer->invalidate();
    const int atInvalidation = ticks;
    runFor(60ms);
    EXPECT_EQ(ticks, atInvalidation);
}

TEST_F(QtTimerServiceTest, KeepsItsInterval) {
    QElapsedTimer clock;
    clock.start();
    qint64 firstTick = -1;
    auto timer = service.scheduleRepeating(100ms, [&](engine::RepeatingTimer&) {
        if (firstTick < 0) {
            firstTick = clock.elapsed();
        }
    });
    ASSERT_TRUE(runUntil([&] { return firstTick >= 0; }));
    EXPECT_GE(firstTick, 80);
    EXPECT_LT(firstTick, 1000);
}

TEST_F(QtTimerServiceTest, DestroyingTheTimerStopsIt) {
    int ticks = 0;
    auto timer = service.scheduleRepeating(10ms, [&](engine::RepeatingTimer&) { ++ticks; });
    timer.reset();
    runFor(60ms);
    EXPECT_EQ(ticks, 0);
}

TEST_F(QtTimerServiceTest, BlockMayInvalidateAndDestroyItsOwnTimer) {
    // What the trust polling does: invalidate the firing timer, drop the owner,
    // then go on using what the block captured.
    std::unique_ptr<engine::RepeatingTimer> timer;
    int ticks = 0;
    std::string capturedAfterwards;
    std::string captured = "still here";
    timer = service.scheduleRepeating(10ms, [&, captured](engine::RepeatingTimer& firing) {
        ++ticks;
        firing.invalidate();
        timer.reset();
        capturedAfterwards = captured; // the block's own state outlives the owner
        firing.invalidate();           // and so does the reference it was given
    });
    ASSERT_TRUE(runUntil([&] { return ticks == 1; }));
    EXPECT_EQ(timer, nullptr);
    EXPECT_EQ(capturedAfterwards, "still here");
    runFor(60ms);
    EXPECT_EQ(ticks, 1);
}

TEST_F(QtTimerServiceTest, BlockMayReplaceItsTimerWithANewOne) {
    std::unique_ptr<engine::RepeatingTimer> timer;
    int firstTicks = 0;
    int secondTicks = 0;
    timer = service.scheduleRepeating(10ms, [&](engine::RepeatingTimer& firing) {
        ++firstTicks;
        firing.invalidate();
        timer = service.scheduleRepeating(10ms, [&](engine::RepeatingTimer&) { ++secondTicks; });
    });
    ASSERT_TRUE(runUntil([&] { return secondTicks >= 2; }));
    EXPECT_EQ(firstTicks, 1);
    timer.reset();
}

TEST_F(QtTimerServiceTest, InvalidatingOneTimerLeavesOthersRunning) {
    int a = 0;
    int b = 0;
    auto first = service.scheduleRepeating(10ms, [&](engine::RepeatingTimer&) { ++a; });
    auto second = service.scheduleRepeating(10ms, [&](engine::RepeatingTimer&) { ++b; });
    first->invalidate();
    ASSERT_TRUE(runUntil([&] { return b >= 3; }));
    EXPECT_EQ(a, 0);
}

} // namespace
} // namespace tarnell::platform
