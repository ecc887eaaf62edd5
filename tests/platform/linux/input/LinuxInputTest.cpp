#include "platform/linux/input/LinuxInput.h"

#include "platform/linux/input/FakeInput.h"
#include "platform/linux/input/KeyboardTap.h"
#include "platform/linux/input/MiniEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

using namespace tarnell;
using namespace tarnell::input;
using namespace tarnell::input::testing;
using namespace std::chrono_literals;
using Out = std::vector<std::string>;

namespace {

// An output whose LED changes the test writes, as a desktop would.
class FakeOutput : public RecordingSink {
public:
    FakeOutput() {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            readEnd_ = fds[0];
            writeEnd_ = fds[1];
        }
    }
    ~FakeOutput() override {
        ::close(readEnd_);
        ::close(writeEnd_);
        if (destroyed != nullptr) {
            *destroyed = true;
        }
    }
    FakeOutput(const FakeOutput&) = delete;
    FakeOutput& operator=(const FakeOutput&) = delete;

    [[nodiscard]] int fd() const override { return readEnd_; }
    std::vector<LedChange> readLedChanges() override {
        char drain[16];
        while (::read(readEnd_, drain, sizeof(drain)) > 0) {
        }
        return std::exchange(pendingLeds_, {});
    }
    void desktopSetsLed(std::uint16_t code, bool on) {
        pendingLeds_.push_back({code, on});
        const char byte = 1;
        [[maybe_unused]] auto written = ::write(writeEnd_, &byte, 1);
    }
    bool* destroyed = nullptr;

private:
    int readEnd_ = -1;
    int writeEnd_ = -1;
    std::vector<LedChange> pendingLeds_;
};

// The processes this thread started: the tap's stall guard.
std::vector<pid_t> children() {
    std::ifstream file("/proc/thread-self/children");
    std::vector<pid_t> pids;
    for (pid_t pid = 0; file >> pid;) {
        pids.push_back(pid);
    }
    return pids;
}

const std::string kEnable = R"({"UserKeyMapping":[{"HIDKeyboardModifierMappingSrc":0x700000039,)"
                            R"("HIDKeyboardModifierMappingDst":0x70000006D}]})";

class LinuxInputTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "input_linux_input_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }

    LinuxInputTest() : input(options()) {}

    LinuxInput::Options options() {
        LinuxInput::Options o;
        o.followUdev = false;
        o.followLoginSession = false;
        o.devicePaths = {"/dev/input/event1"};
        o.layout = XkbNames{"evdev", "pc105", "us", "", ""};
        o.stallTimeout = 80ms;
        o.grabWait = 1s;
        o.opener = &opener;
        o.makeOutput = [this] {
            auto made = std::make_unique<FakeOutput>();
            made->destroyed = &outputDestroyed;
            output = made.get();
            return made;
        };
        keyboard = &opener.add("/dev/input/event1");
        keyboard->destroyed = &keyboardClosed;
        return o;
    }

    void startTap() {
        tap = input.tapService().createTap(engine::kKeyEventMask, &MiniEngine::callback, &engine);
        ASSERT_NE(tap, nullptr);
        tap->addToMainLoop();
        tap->enable(true);
    }

    // Runs the event loop until the condition holds (or the time is up).
    template <typename Condition> bool spinUntil(Condition condition, int limitMs = 1000) {
        QElapsedTimer timer;
        timer.start();
        while (!condition() && timer.elapsed() < limitMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return condition();
    }
    void type(std::initializer_list<input_event> events, std::size_t outputSize) {
        keyboard->push(events);
        spinUntil([&] { return output->out.size() >= outputSize; });
    }

    FakeOpener opener;
    FakeDevice* keyboard = nullptr;
    bool keyboardClosed = false;
    FakeOutput* output = nullptr;
    bool outputDestroyed = false;
    MiniEngine engine;
    LinuxInput input;
    std::unique_ptr<engine::EventTap> tap;
};

} // namespace

TEST_F(LinuxInputTest, KeysTravelFromTheKeyboardThroughTheEngineToTheOutput) {
    startTap();
    EXPECT_TRUE(keyboard->grabbed);
    EXPECT_EQ(input.currentTap(), tap.get());
    type({key(KEY_LEFTSHIFT, 1), syn(), key(KEY_S, 1), syn()}, 4);
    EXPECT_EQ(output->take(), (Out{"+42", "|", "+31", "|"}));
    ASSERT_EQ(engine.seen.size(), 1U);
    EXPECT_EQ(engine.seen[0].text, "S") << "xkb follows the Shift that passed";
    EXPECT_EQ(engine.seen[0].flags, engine::kFlagShift);
}

TEST_F(LinuxInputTest, TheMappingUtilityTurnsCapsLockIntoTheTrigger) {
    startTap();
    EXPECT_TRUE(input.keyMapping().run({"property", "--set", kEnable}));
    type({key(KEY_CAPSLOCK, 1), syn(), key(KEY_J, 1), syn()}, 7);
    EXPECT_EQ(output->take(), (Out{"+42", "+29", "+56", "+125", "|", "+36", "|"}));
    ASSERT_EQ(engine.seen.size(), 2U);
    EXPECT_EQ(engine.seen[0].keycode, engine::kHyperTriggerKeyCode);
    EXPECT_TRUE(input.keyMapping().run({"property", "--set", R"({"UserKeyMapping":[]})"}));
    EXPECT_TRUE(input.mapping().isIdentity());
}

TEST_F(LinuxInputTest, CapsLockStateIsTheDesktopsLedAndIsSetThroughTheOutput) {
    EXPECT_EQ(input.lockState().open(), nullptr) << "no tap, no service";
    startTap();
    auto connection = input.lockState().open();
    ASSERT_NE(connection, nullptr);
    bool locked = true;
    ASSERT_TRUE(connection->getCapsLockState(locked));
    EXPECT_FALSE(locked);
    input.keyMapping().run({"property", "--set", kEnable});
    EXPECT_TRUE(connection->setCapsLockState(true));
    EXPECT_EQ(output->take(), (Out{"+58", "|", "-58", "|"})) << "past the mapping";
    ASSERT_TRUE(connection->getCapsLockState(locked));
    EXPECT_TRUE(locked);

    output->desktopSetsLed(LED_CAPSL, false);
    ASSERT_TRUE(spinUntil([&] { return keyboard->leds.count(LED_CAPSL) != 0; }));
    EXPECT_FALSE(keyboard->leds[LED_CAPSL]) << "mirrored onto the grabbed keyboard";
    ASSERT_TRUE(connection->getCapsLockState(locked));
    EXPECT_FALSE(locked);
    output->desktopSetsLed(LED_CAPSL, true);
    ASSERT_TRUE(spinUntil([&] { return keyboard->leds[LED_CAPSL]; }));
}

TEST_F(LinuxInputTest, AStalledLoopLosesTheKeyboardsAndTheEngineTakesThemBack) {
    startTap();
    engine.onNotification = [this](std::uint32_t type) {
        if (type == engine::kEventTapDisabledByTimeout) {
            tap->enable(true);
        }
    };
    type({key(KEY_J, 1), syn()}, 2);
    output->take();
    keyboard->push({key(KEY_K, 1), syn()});
    std::this_thread::sleep_for(300ms); // the main loop is busy elsewhere
    EXPECT_TRUE(engine.notifications.empty()) << "reported on the loop's next turn";
    ASSERT_TRUE(spinUntil([&] { return !engine.notifications.empty(); }));
    EXPECT_EQ(engine.notifications[0], engine::kEventTapDisabledByTimeout);
    EXPECT_FALSE(keyboard->grabbed) << "the keyboard was let go";
    EXPECT_EQ(output->take(), (Out{"-36", "|"})) << "nothing stays held, K is not typed late";
    EXPECT_FALSE(keyboard->grabbed) << "J and K are still down";
    keyboard->push({key(KEY_J, 0), key(KEY_K, 0), syn()});
    EXPECT_TRUE(spinUntil([&] { return keyboard->grabbed; }));
    EXPECT_TRUE(output->out.empty()) << "those keys went to the desktop";
}

TEST_F(LinuxInputTest, AGuardThatEndsIsReplacedAndNoKeyboardIsHeldWithoutOne) {
    startTap();
    engine.onNotification = [this](std::uint32_t type) {
        if (type == engine::kEventTapDisabledByTimeout) {
            tap->enable(true);
        }
    };
    const auto guards = children();
    ASSERT_EQ(guards.size(), 1U);
    ::kill(guards[0], SIGKILL);
    // Ended right after its start: the next one comes a while later, and until
    // then nothing stands in for a hung Tarnell.
    ASSERT_TRUE(spinUntil([&] { return !keyboard->grabbed; })) << "held without a guard";
    ASSERT_TRUE(spinUntil([&] { return keyboard->grabbed; }, 3000)) << "no new guard";
    const auto replaced = children();
    ASSERT_EQ(replaced.size(), 1U);
    EXPECT_NE(replaced[0], guards[0]);

    // The new guard watches the keyboard: a stall is still caught.
    keyboard->push({key(KEY_K, 1), syn()});
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(spinUntil([&] { return !engine.notifications.empty(); }));
    EXPECT_FALSE(keyboard->grabbed);
}

// The guard watches a bounded number of keyboards; one more works as if Tarnell
// were not there rather than be grabbed with nothing to let it go.
TEST_F(LinuxInputTest, AKeyboardTheGuardCannotWatchIsNotGrabbed) {
    FakeOpener many;
    LinuxInput::Options options;
    options.followUdev = false;
    options.followLoginSession = false;
    options.layout = XkbNames{"evdev", "pc105", "us", "", ""};
    options.opener = &many;
    options.makeOutput = [] { return std::make_unique<RecordingSink>(); };
    std::vector<FakeDevice*> keyboards;
    for (std::size_t i = 0; i <= StallGuard::kMaxKeyboards; ++i) {
        options.devicePaths.push_back("/dev/input/event" + std::to_string(100 + i));
        keyboards.push_back(&many.add(options.devicePaths.back()));
    }
    LinuxInput manyInput(options);
    auto manyTap =
        manyInput.tapService().createTap(engine::kKeyEventMask, &MiniEngine::callback, &engine);
    ASSERT_NE(manyTap, nullptr);
    manyTap->enable(true);
    for (std::size_t i = 0; i < StallGuard::kMaxKeyboards; ++i) {
        ASSERT_TRUE(keyboards[i]->grabbed) << i;
    }
    EXPECT_FALSE(keyboards.back()->grabbed);
}

TEST_F(LinuxInputTest, DisableLetsGoAndInvalidateClosesEverything) {
    startTap();
    type({key(KEY_J, 1), syn()}, 2);
    output->take();
    tap->enable(false);
    EXPECT_FALSE(keyboard->grabbed);
    EXPECT_EQ(output->take(), (Out{"-36", "|"}));
    keyboard->push({key(KEY_K, 1), syn()});
    spinUntil([] { return false; });
    EXPECT_TRUE(output->out.empty());
    EXPECT_EQ(engine.seen.size(), 1U);

    tap->enable(true);
    keyboard->push({key(KEY_K, 0), key(KEY_J, 0), syn()});
    ASSERT_TRUE(spinUntil([&] { return keyboard->grabbed; }));
    type({key(KEY_L, 1), syn()}, 2);
    tap->invalidate();
    EXPECT_TRUE(keyboardClosed);
    EXPECT_TRUE(outputDestroyed);
    tap->removeFromMainLoop();
    EXPECT_EQ(input.lockState().open(), nullptr);
    tap.reset();
    EXPECT_EQ(input.currentTap(), nullptr);
}
