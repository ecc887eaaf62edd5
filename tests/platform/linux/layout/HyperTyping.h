#pragma once

#include "engine/KeyEvent.h"
#include "platform/linux/input/FakeInput.h"
#include "platform/linux/input/KeyboardLayoutSource.h"
#include "platform/linux/input/LinuxInput.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnell::layout::testing {

// Runs the Qt event loop, and GLib's with it, until `done` holds or the deadline
// passes; says whether it holds.
bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline);

// Tarnell's input layer with one keyboard of the test's, its key text following a
// layout source, and an engine stand-in that notes what each key pressed with Hyper
// held types. Makes the Qt application object when there is none.
class HyperTyping {
public:
    explicit HyperTyping(input::KeyboardLayoutSource& source);
    ~HyperTyping();
    HyperTyping(const HyperTyping&) = delete;
    HyperTyping& operator=(const HyperTyping&) = delete;

    // Types the key with Hyper held, again and again while the loop runs, until it
    // types `text` or the deadline passes; the failure names the text seen last.
    ::testing::AssertionResult
    typesEventually(std::uint16_t code, std::u16string_view text,
                    std::chrono::milliseconds deadline = std::chrono::seconds(15));

private:
    static engine::KeyEvent* callback(void*, std::uint32_t type, engine::KeyEvent* event,
                                      void* self);
    // What the key typed with Hyper held; nullopt when the engine did not see it.
    std::optional<std::u16string> typeOnce(std::uint16_t code);

    input::testing::FakeOpener opener_;
    input::testing::FakeDevice* keyboard_ = nullptr;
    std::unique_ptr<input::LinuxInput> input_;
    std::unique_ptr<engine::EventTap> tap_;
    bool hyperDown_ = false;
    std::vector<std::u16string> seen_; // key-downs with Hyper held
};

} // namespace tarnell::layout::testing
