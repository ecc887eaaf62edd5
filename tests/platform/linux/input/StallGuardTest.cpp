#include "platform/linux/input/StallGuard.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <memory>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tarnell::input;
using namespace std::chrono_literals;

namespace {

// Pipes stand in for the keyboards and the virtual keyboard: the guard's grab
// ioctls fail on them harmlessly, everything else is real.
struct Pipe {
    Pipe() {
        int fds[2] = {-1, -1};
        EXPECT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
        readEnd = fds[0];
        writeEnd = fds[1];
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void closeRead() {
        if (readEnd >= 0) {
            ::close(std::exchange(readEnd, -1));
        }
    }
    void closeWrite() {
        if (writeEnd >= 0) {
            ::close(std::exchange(writeEnd, -1));
        }
    }
    void typeSomething() const {
        const char byte = 1;
        EXPECT_EQ(::write(writeEnd, &byte, 1), 1);
    }
    int readEnd;
    int writeEnd;
};

bool waitFor(int fd, short events, std::chrono::milliseconds limit) {
    pollfd pfd{fd, events, 0};
    return ::poll(&pfd, 1, static_cast<int>(limit.count())) > 0;
}

std::vector<input_event> readEvents(int fd) {
    std::vector<input_event> events;
    input_event event{};
    while (waitFor(fd, POLLIN, events.empty() ? 2000ms : 200ms) &&
           ::read(fd, &event, sizeof(event)) == sizeof(event)) {
        events.push_back(event);
    }
    return events;
}

// Every key let go once, then one report.
void expectEveryKeyReleased(const std::vector<input_event>& events) {
    ASSERT_EQ(events.size(), static_cast<std::size_t>(KEY_CNT - KEY_ESC + 1));
    for (std::size_t i = 0; i + 1 < events.size(); ++i) {
        EXPECT_EQ(events[i].type, EV_KEY);
        EXPECT_EQ(events[i].code, KEY_ESC + i);
        EXPECT_EQ(events[i].value, 0);
    }
    EXPECT_EQ(events.back().type, EV_SYN);
    EXPECT_EQ(events.back().code, SYN_REPORT);
}

// A guard that watches `keyboard` while the keyboards are meant to be grabbed.
std::unique_ptr<StallGuard> startArmed(const Pipe& output, const Pipe& keyboard) {
    auto guard = StallGuard::start(output.writeEnd, 150ms, 20ms);
    if (guard) {
        EXPECT_TRUE(guard->watch(keyboard.readEnd));
        guard->page().armed = 1;
    }
    return guard;
}

} // namespace

TEST(StallGuard, LetsGoOfInputLeftWaitingAndReleasesEveryKeyOnTheOutput) {
    Pipe output;
    Pipe keyboard;
    auto guard = startArmed(output, keyboard);
    ASSERT_NE(guard, nullptr);

    const auto typed = std::chrono::steady_clock::now();
    keyboard.typeSomething(); // and nobody takes it
    ASSERT_TRUE(waitFor(guard->fd(), POLLIN, 2s));
    EXPECT_GE(std::chrono::steady_clock::now() - typed, 150ms);
    EXPECT_TRUE(guard->takeNotice());
    EXPECT_TRUE(guard->alive());
    EXPECT_EQ(guard->page().state.load(), StallGuardPage::kLetGo);
    EXPECT_EQ(guard->page().armed.load(), 0U) << "until the main loop grabs again";
    expectEveryKeyReleased(readEvents(output.readEnd));

    // Caught up: the same input waiting is no new stall while not grabbing.
    guard->page().state = StallGuardPage::kHolding;
    EXPECT_FALSE(waitFor(guard->fd(), POLLIN, 400ms));
}

TEST(StallGuard, InputTheLoopKeepsTakingOrThatIsNotGrabbedIsNoStall) {
    Pipe output;
    Pipe keyboard;
    auto guard = startArmed(output, keyboard);
    ASSERT_NE(guard, nullptr);
    keyboard.typeSomething();
    for (int i = 0; i < 25; ++i) { // a busy loop that keeps taking input
        guard->page().markServiced();
        EXPECT_FALSE(waitFor(guard->fd(), POLLIN, 20ms));
    }
    guard->page().armed = 0;
    EXPECT_FALSE(waitFor(guard->fd(), POLLIN, 400ms)) << "the tap is disabled";
    guard->page().armed = 1;
    EXPECT_TRUE(waitFor(guard->fd(), POLLIN, 2s));
    EXPECT_TRUE(guard->takeNotice());
}

TEST(StallGuard, ClosesAForgottenKeyboardAndEndsWhenDestroyed) {
    Pipe output;
    Pipe keyboard;
    auto guard = StallGuard::start(output.writeEnd, 1s, 20ms);
    ASSERT_NE(guard, nullptr);
    ASSERT_TRUE(guard->watch(keyboard.readEnd));
    guard->forget(keyboard.readEnd);
    keyboard.closeRead();
    // Once no reader is left, the writing end reports an error.
    bool closedEverywhere = false;
    for (int i = 0; i < 100 && !closedEverywhere; ++i) {
        pollfd pfd{keyboard.writeEnd, POLLOUT, 0};
        closedEverywhere = ::poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLERR) != 0;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(closedEverywhere) << "the guard's copy of the keyboard is closed too";

    guard.reset();
    output.closeWrite();
    ASSERT_TRUE(waitFor(output.readEnd, POLLIN, 1s));
    char byte = 0;
    EXPECT_EQ(::read(output.readEnd, &byte, 1), 0) << "the guard holds the output no more";
}

// The point of a separate process: a stopped owner, whose threads all stand
// still, still gets its keyboards let go; a killed one takes the guard along.
TEST(StallGuard, ActsWhileItsOwnerIsStoppedAndDiesWithIt) {
    Pipe output;
    Pipe keyboard;
    const pid_t owner = ::fork();
    ASSERT_GE(owner, 0);
    if (owner == 0) {
        const auto guard = startArmed(output, keyboard);
        if (!guard) {
            ::_exit(1);
        }
        ::raise(SIGSTOP);
        ::_exit(0);
    }
    output.closeWrite();
    int status = 0;
    ASSERT_EQ(::waitpid(owner, &status, WUNTRACED), owner);
    ASSERT_TRUE(WIFSTOPPED(status));
    keyboard.typeSomething();
    expectEveryKeyReleased(readEvents(output.readEnd));

    ::kill(owner, SIGKILL);
    ::waitpid(owner, nullptr, 0);
    ASSERT_TRUE(waitFor(output.readEnd, POLLIN, 2s));
    char byte = 0;
    EXPECT_EQ(::read(output.readEnd, &byte, 1), 0) << "the guard died with its owner";
}

// A terminal's Ctrl+Z: the keyboards are let go as the owner stops, not a
// timeout later and without any input waiting.
TEST(StallGuard, AStopSignalToItsOwnerLetsGoAtOnce) {
    Pipe output;
    Pipe keyboard;
    const pid_t owner = ::fork();
    ASSERT_GE(owner, 0);
    if (owner == 0) {
        ::setpgid(0, 0); // a process group that stop signals are not discarded in
        auto guard = StallGuard::start(output.writeEnd, 60s, 20ms);
        if (!guard || !guard->watch(keyboard.readEnd)) {
            ::_exit(1);
        }
        guard->page().armed = 1;
        ::raise(SIGTSTP);
        ::_exit(0);
    }
    output.closeWrite();
    int status = 0;
    ASSERT_EQ(::waitpid(owner, &status, WUNTRACED), owner);
    ASSERT_TRUE(WIFSTOPPED(status));
    EXPECT_EQ(WSTOPSIG(status), SIGTSTP);
    expectEveryKeyReleased(readEvents(output.readEnd));
    ::kill(owner, SIGKILL);
    ::waitpid(owner, nullptr, 0);
}
