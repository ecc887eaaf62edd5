#include "platform/linux/layout/HyperTyping.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

namespace tarnell::layout::testing {
namespace {

using namespace std::chrono_literals;

void ensureApplication() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "layout_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication application(argc, argv);
    }
}

std::string utf8(std::u16string_view text) {
    return QString::fromStdU16String(std::u16string(text)).toStdString();
}

} // namespace

bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < deadline.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

HyperTyping::HyperTyping(input::KeyboardLayoutSource& source) {
    ensureApplication();
    keyboard_ = &opener_.add("/dev/input/event-test");
    input::LinuxInput::Options options;
    options.followUdev = false;
    options.followLoginSession = false;
    options.devicePaths = {"/dev/input/event-test"};
    options.opener = &opener_;
    options.makeOutput = [] { return std::make_unique<input::testing::RecordingSink>(); };
    options.layoutSource = &source;
    input_ = std::make_unique<input::LinuxInput>(std::move(options));
    tap_ = input_->tapService().createTap(engine::kKeyEventMask, &HyperTyping::callback, this);
    if (tap_) {
        tap_->addToMainLoop();
        tap_->enable(true);
    }
}

HyperTyping::~HyperTyping() {
    tap_.reset();
    input_.reset();
}

engine::KeyEvent* HyperTyping::callback(void*, std::uint32_t type, engine::KeyEvent* event,
                                        void* data) {
    auto& self = *static_cast<HyperTyping*>(data);
    if (type == engine::kEventTapDisabledByTimeout ||
        type == engine::kEventTapDisabledByUserInput) {
        // As the monitor does: the stall guard let the keyboard go (a slow turn of the
        // loop, as under the sanitizers), and the tap takes it again.
        self.hyperDown_ = false;
        if (self.tap_) {
            self.tap_->enable(true);
        }
        return event;
    }
    if (type != engine::kEventKeyDown && type != engine::kEventKeyUp) {
        return event;
    }
    if (event->integerValueField(engine::kFieldKeycode) == engine::kHyperTriggerKeyCode) {
        self.hyperDown_ = type == engine::kEventKeyDown;
        return nullptr;
    }
    if (self.hyperDown_ && type == engine::kEventKeyDown) {
        char16_t buffer[4] = {};
        const int length = event->unicodeString(buffer, 4);
        self.seen_.emplace_back(buffer, static_cast<std::size_t>(std::max(length, 0)));
    }
    return event;
}

std::optional<std::u16string> HyperTyping::typeOnce(std::uint16_t code) {
    using input::testing::key;
    using input::testing::syn;
    const std::size_t before = seen_.size();
    keyboard_->push(
        {key(KEY_F18, 1), syn(), key(code, 1), syn(), key(code, 0), syn(), key(KEY_F18, 0), syn()});
    if (!spinUntil([&] { return seen_.size() > before && !hyperDown_; }, 2s)) {
        return std::nullopt;
    }
    return seen_.back();
}

::testing::AssertionResult HyperTyping::typesEventually(std::uint16_t code,
                                                        std::u16string_view text,
                                                        std::chrono::milliseconds deadline) {
    if (!tap_) {
        return ::testing::AssertionFailure() << "no keyboard tap";
    }
    QElapsedTimer timer;
    timer.start();
    std::optional<std::u16string> last;
    do {
        last = typeOnce(code);
        if (last == text) {
            return ::testing::AssertionSuccess();
        }
        // Whatever the loop brings meanwhile (the desktop's events) is taken first.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    } while (timer.elapsed() < deadline.count());
    return ::testing::AssertionFailure()
           << "key " << code << " typed \"" << (last ? utf8(*last) : "(not seen)") << "\", not \""
           << utf8(text) << "\"";
}

} // namespace tarnell::layout::testing
