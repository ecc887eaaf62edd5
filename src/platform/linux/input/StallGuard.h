#pragma once

#include "platform/linux/input/StallGuardPage.h"

#include <chrono>
#include <memory>
#include <sys/types.h>

namespace tarnell::input {

// Keeps the keyboards usable when the main loop stops taking their input, even
// when this whole process is stopped (SIGSTOP, a debugger) and no thread of it
// can run: a small process forked at start holds the same open descriptions of
// the keyboards (passed over a socket) and of the virtual keyboard. When input
// waits untaken for the timeout, it lets every keyboard go, releases every key
// on the virtual keyboard, marks the shared page and tells the main loop, which
// catches up on its next turn. It dies with this process (parent-death signal),
// so a kill -9 still closes every description it holds.
//
// The guard's code runs between fork and _exit with no exec, so it makes only
// async-signal-safe calls (poll, recvmsg, ioctl, write, clock_gettime): no heap,
// no locks, nothing that another thread of this process might have held at the
// fork. That is sound with any number of threads and needs no helper program
// to be found and installed.
class StallGuard {
public:
    using Clock = std::chrono::steady_clock;

    // Forks the guard. `outputFd`: the virtual keyboard, where key releases are
    // written (-1: none). `tick`: how often it looks again once it saw input
    // waiting; idle, it sleeps until input arrives. nullptr when it cannot start.
    static std::unique_ptr<StallGuard> start(int outputFd, Clock::duration timeout,
                                             Clock::duration tick);
    // Ends the guard and waits for it.
    ~StallGuard();
    StallGuard(const StallGuard&) = delete;
    StallGuard& operator=(const StallGuard&) = delete;

    [[nodiscard]] StallGuardPage& page() { return *page_; }
    // Readable when the guard let the keyboards go, or ended.
    [[nodiscard]] int fd() const { return socket_; }
    // After fd() turned readable: true when the keyboards were let go. Once the
    // guard has ended, fd() is not worth watching any more (alive() is false).
    bool takeNotice();
    [[nodiscard]] bool alive() const { return alive_; }

    // The guard watches this keyboard too (the descriptor is passed on), or no
    // longer; `deviceFd` names it in both calls.
    void watch(int deviceFd);
    void forget(int deviceFd);

private:
    StallGuard(StallGuardPage* page, int socket, pid_t pid)
        : page_(page), socket_(socket), pid_(pid) {}

    StallGuardPage* page_;
    int socket_;
    pid_t pid_;
    bool alive_ = true;
};

} // namespace tarnell::input
