#pragma once

#include "platform/linux/input/StallGuardPage.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
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
// A stop this process is asked for (SIGTSTP, SIGTTIN, SIGTTOU: a terminal's
// Ctrl+Z) does not wait for the timeout: the guard is told to let go at once,
// and then the process stops as it would have.
//
// The guard's code runs between fork and _exit with no exec, so it makes only
// async-signal-safe calls (poll, recvmsg, ioctl, write, clock_gettime): no heap,
// no locks, nothing that another thread of this process might have held at the
// fork. That is sound with any number of threads and needs no helper program
// to be found and installed. It is ended through a pidfd, so that a guard that
// is gone (reaped already, as when SIGCHLD is ignored) is never mistaken for
// another process that took its number.
class StallGuard {
public:
    using Clock = std::chrono::steady_clock;

    // How many keyboards one guard watches; it refuses more.
    static constexpr std::size_t kMaxKeyboards = 256;

    // Forks the guard. `outputFd`: the virtual keyboard, where key releases are
    // written (-1: none). `tick`: how often it looks again once it saw input
    // waiting; idle, it sleeps until input arrives. nullptr only when no page can
    // be shared; a guard that could not be forked is not alive() and may be
    // restarted.
    static std::unique_ptr<StallGuard> start(int outputFd, Clock::duration timeout,
                                             Clock::duration tick);
    // Ends the guard and waits for it.
    ~StallGuard();
    StallGuard(const StallGuard&) = delete;
    StallGuard& operator=(const StallGuard&) = delete;

    [[nodiscard]] StallGuardPage& page() { return *page_; }
    // Readable when the guard let the keyboards go, or ended; -1 while none runs.
    [[nodiscard]] int fd() const { return socket_; }
    // After fd() turned readable: true when the keyboards were let go. Once the
    // guard has ended, fd() is not worth watching any more (alive() is false).
    bool takeNotice();
    [[nodiscard]] bool alive() const { return alive_; }
    // A notice arrived while watch() waited for its answer: takeNotice() is due
    // although fd() may not be readable.
    [[nodiscard]] bool noticePending() const { return noticePending_; }

    // Ends the guard if it still runs and forks a new one on the same page, which
    // watches no keyboard yet. True when it runs.
    bool restart();

    // The guard watches this keyboard too (the descriptor is passed on): true once
    // it said so. False when it refused (it watches kMaxKeyboards already) or did
    // not answer in time; then it is ended and no longer alive().
    bool watch(int deviceFd);
    // It no longer watches the keyboard `deviceFd` names.
    void forget(int deviceFd);

private:
    StallGuard(StallGuardPage* page, int outputFd, Clock::duration timeout, Clock::duration tick)
        : page_(page), outputFd_(outputFd), timeout_(timeout), tick_(tick) {}
    bool fork();
    void end();
    // One message to the guard; `passedFd` goes along when it is one.
    bool send(std::int32_t op, std::int32_t key, int passedFd);

    StallGuardPage* page_;
    const int outputFd_;
    const Clock::duration timeout_;
    const Clock::duration tick_;
    int socket_ = -1;
    int pidfd_ = -1;
    pid_t pid_ = -1;
    bool alive_ = false;
    bool noticePending_ = false;
};

} // namespace tarnell::input
