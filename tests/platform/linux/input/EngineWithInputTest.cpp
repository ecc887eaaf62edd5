// The real engine on the input layer: what the user gets, minus the kernel.
#include "bindings/BindingStore.h"
#include "engine/HyperKeyMonitor.h"
#include "platform/linux/input/FakeInput.h"
#include "platform/linux/input/LinuxInput.h"
#include "support/FakeApplicationDirectory.h"
#include "support/FakePlatformServices.h"
#include "support/InMemoryKeyValueStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace tarnell;
using namespace tarnell::input;
using namespace tarnell::input::testing;
using namespace std::chrono_literals;
using Out = std::vector<std::string>;

namespace {

class EngineWithInputTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "input_engine_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }

    EngineWithInputTest() : input(options()) {
        store = std::make_shared<BindingStore>(defaults, applications);
        store->setBindings({AppBinding{Uuid::random(), "s", kEditorUrl}});
        monitor = engine::HyperKeyMonitor::create(store, {platform.trust, input.tapService(),
                                                          platform.timers, input.keyMapping(),
                                                          input.lockState(), platform.workspace});
    }
    ~EngineWithInputTest() override { monitor->stop(); }
    EngineWithInputTest(const EngineWithInputTest&) = delete;
    EngineWithInputTest& operator=(const EngineWithInputTest&) = delete;

    LinuxInput::Options options() {
        LinuxInput::Options o;
        o.followUdev = false;
        o.followLoginSession = false;
        o.devicePaths = {"/dev/input/event3"};
        o.layout = XkbNames{"evdev", "pc105", "us", "", ""};
        o.opener = &opener;
        o.makeOutput = [this] {
            auto made = std::make_unique<RecordingSink>();
            output = made.get();
            return made;
        };
        keyboard = &opener.add("/dev/input/event3");
        return o;
    }

    Out type(std::initializer_list<input_event> events) {
        keyboard->push(events);
        QElapsedTimer timer;
        timer.start();
        while (!keyboard->queue.empty() && timer.elapsed() < 1000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return output->take();
    }

    static constexpr const char* kEditorUrl = "file:///usr/share/applications/editor.desktop";
    FakeOpener opener;
    FakeDevice* keyboard = nullptr;
    RecordingSink* output = nullptr;
    LinuxInput input;
    tarnell::testing::InMemoryKeyValueStore defaults;
    tarnell::testing::FakeApplicationDirectory applications;
    tarnell::testing::FakePlatform platform;
    std::shared_ptr<BindingStore> store;
    std::shared_ptr<engine::HyperKeyMonitor> monitor;
};

} // namespace

TEST_F(EngineWithInputTest, StartGrabsTheKeyboardAndMapsCapsLock) {
    monitor->start();
    ASSERT_TRUE(monitor->isRunning());
    EXPECT_TRUE(keyboard->grabbed);
    EXPECT_EQ(input.mapping().apply(KEY_CAPSLOCK), KEY_F18);
    bool wasGrabbedAtClose = true;
    keyboard->grabbedAtClose = &wasGrabbedAtClose;
    monitor->stop();
    EXPECT_FALSE(wasGrabbedAtClose) << "let go, then closed";
    EXPECT_TRUE(input.mapping().isIdentity());
}

TEST_F(EngineWithInputTest, HyperWithABoundKeyOpensTheApplicationAndTypesNothing) {
    monitor->start();
    const Out out = type({key(KEY_CAPSLOCK, 1), syn(), key(KEY_S, 1), syn(), key(KEY_S, 0), syn(),
                          key(KEY_CAPSLOCK, 0), syn()});
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(platform.workspace.opened, (std::vector<std::string>{kEditorUrl}));
}

TEST_F(EngineWithInputTest, HyperWithAnotherKeySendsTheChord) {
    monitor->start();
    const Out out = type({key(KEY_CAPSLOCK, 1), syn(), key(KEY_J, 1), syn(), key(KEY_J, 0), syn(),
                          key(KEY_CAPSLOCK, 0), syn()});
    EXPECT_EQ(out, (Out{"+42", "+29", "+56", "+125", "|", "+36", "|", "-36", "|", "-42", "-29",
                        "-56", "-125", "|"}));
}

TEST_F(EngineWithInputTest, AQuickTapTogglesCapsLockThroughTheVirtualKeyboard) {
    monitor->start();
    EXPECT_EQ(type({key(KEY_CAPSLOCK, 1), syn(), key(KEY_CAPSLOCK, 0), syn()}),
              (Out{"+58", "|", "-58", "|"}));
    store->setQuickTapTogglesCapsLock(false);
    EXPECT_TRUE(type({key(KEY_CAPSLOCK, 1), syn(), key(KEY_CAPSLOCK, 0), syn()}).empty());
}

TEST_F(EngineWithInputTest, ShiftedBoundKeyStillFindsItsBinding) {
    monitor->start();
    const Out out = type({key(KEY_LEFTSHIFT, 1), syn(), key(KEY_CAPSLOCK, 1), syn(), key(KEY_S, 1),
                          syn(), key(KEY_S, 0), syn()});
    EXPECT_EQ(out, (Out{"+42", "|"}));
    EXPECT_EQ(platform.workspace.opened.size(), 1U);
}
