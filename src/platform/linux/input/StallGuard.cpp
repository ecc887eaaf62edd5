#include "platform/linux/input/StallGuard.h"

#include "platform/linux/input/StallDetector.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <linux/input.h>
#include <mutex>
#include <new>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnell::input {
namespace {

constexpr std::size_t kMaxKeyboards = StallGuard::kMaxKeyboards;
// How long the main process waits for the guard to take a message and answer it.
constexpr auto kAnswerTimeout = std::chrono::seconds(2);

enum class Op : std::int32_t {
    // From the main process.
    Watch = 1,
    Forget = 2,
    LetGo = 3, // at once: this process is about to stop
    // From the guard.
    Watching = 4,
    Refused = 5,
    LetGone = 6,
};

struct Message {
    Op op;
    std::int32_t key; // the keyboard's descriptor number in the main process
};

// The socket of the guard that a stop signal tells to let go; -1 while none runs.
std::atomic<int> stopNoticeSocket{-1};
static_assert(std::atomic<int>::is_always_lock_free);

// Runs in whichever thread takes the signal: system calls only.
void letGoAndStop(int signal) {
    const int savedErrno = errno;
    if (const int socket = stopNoticeSocket.load(std::memory_order_acquire); socket >= 0) {
        const Message message{Op::LetGo, 0};
        [[maybe_unused]] const auto sent =
            ::send(socket, &message, sizeof(message), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    // Then stop as the signal would have without this handler, and take it
    // again once continued.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    struct sigaction ours {};
    ::sigaction(signal, &defaults, &ours);
    ::raise(signal); // pending: blocked while its handler runs
    sigset_t only;
    ::sigemptyset(&only);
    ::sigaddset(&only, signal);
    sigset_t before;
    ::pthread_sigmask(SIG_UNBLOCK, &only, &before); // stops here until SIGCONT
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ::sigaction(signal, &ours, nullptr);
    errno = savedErrno;
}

// Once per process, and only for stop signals that still do what they do by
// default: one that is ignored or handled stays so.
void letGoOnStopSignals() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        for (const int signal : {SIGTSTP, SIGTTIN, SIGTTOU}) {
            struct sigaction current {};
            if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) {
                continue;
            }
            struct sigaction handler {};
            handler.sa_handler = letGoAndStop;
            handler.sa_flags = SA_RESTART;
            ::sigemptyset(&handler.sa_mask);
            ::sigaction(signal, &handler, nullptr);
        }
    });
}

// Everything below up to the end of the namespace runs in the forked guard:
// system calls and plain arithmetic only.

struct Watched {
    std::int32_t key;
    int fd;
};

struct Guard {
    int control;
    int output;
    pid_t parent;
    StallGuardPage& page;
    int tickMs;
    std::array<Watched, kMaxKeyboards> watched{};
    std::size_t count = 0;

    void take(const Message& message, int passedFd) {
        if (message.op == Op::Watch) {
            const bool taken = passedFd >= 0 && count < watched.size();
            if (taken) {
                watched[count++] = {message.key, passedFd};
            } else if (passedFd >= 0) {
                ::close(passedFd);
            }
            answer({taken ? Op::Watching : Op::Refused, message.key});
            return;
        }
        if (passedFd >= 0) {
            ::close(passedFd);
        }
        if (message.op == Op::LetGo) {
            if (page.armed.load(std::memory_order_relaxed) != 0 &&
                page.state.load(std::memory_order_acquire) == StallGuardPage::kHolding) {
                letGo();
            }
            return;
        }
        if (message.op != Op::Forget) {
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (watched[i].key == message.key) {
                ::close(watched[i].fd);
                watched[i] = watched[--count];
                return;
            }
        }
    }

    void answer(const Message& message) const {
        [[maybe_unused]] const auto sent =
            ::send(control, &message, sizeof(message), MSG_DONTWAIT | MSG_NOSIGNAL);
    }

    // False once the main process closed its end.
    bool receive() {
        for (;;) {
            Message message{};
            iovec data{&message, sizeof(message)};
            alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> rights{};
            msghdr header{};
            header.msg_iov = &data;
            header.msg_iovlen = 1;
            header.msg_control = rights.data();
            header.msg_controllen = rights.size();
            const ssize_t got = ::recvmsg(control, &header, MSG_DONTWAIT);
            if (got == 0) {
                return false;
            }
            if (got < 0) {
                return errno == EAGAIN || errno == EINTR;
            }
            int passedFd = -1;
            if (cmsghdr* part = CMSG_FIRSTHDR(&header); part != nullptr &&
                                                        part->cmsg_level == SOL_SOCKET &&
                                                        part->cmsg_type == SCM_RIGHTS) {
                std::memcpy(&passedFd, CMSG_DATA(part), sizeof(passedFd));
            }
            if (static_cast<std::size_t>(got) == sizeof(message)) {
                take(message, passedFd);
            } else if (passedFd >= 0) {
                ::close(passedFd);
            }
        }
    }

    // Whether any keyboard has something to say (input, or that it is gone).
    bool anyReadable() {
        std::array<pollfd, kMaxKeyboards> fds{};
        for (std::size_t i = 0; i < count; ++i) {
            fds[i] = {watched[i].fd, POLLIN, 0};
        }
        return count > 0 && ::poll(fds.data(), count, 0) > 0;
    }

    void letGo() {
        page.state.store(StallGuardPage::kLettingGo, std::memory_order_seq_cst);
        for (std::size_t i = 0; i < count; ++i) {
            ::ioctl(watched[i].fd, EVIOCGRAB, 0); // fails harmlessly when not grabbed
        }
        if (output >= 0) {
            releaseEveryKey();
        }
        page.armed.store(0, std::memory_order_relaxed);
        page.state.store(StallGuardPage::kLetGo, std::memory_order_release);
        answer({Op::LetGone, 0});
    }

    // The kernel passes on only the releases of keys that are down.
    void releaseEveryKey() const {
        std::array<input_event, KEY_CNT> events{};
        std::size_t used = 0;
        for (std::uint16_t code = KEY_ESC; code < KEY_CNT; ++code) {
            events[used].type = EV_KEY;
            events[used].code = code;
            ++used;
        }
        events[used].type = EV_SYN;
        events[used].code = SYN_REPORT;
        ++used;
        const auto* bytes = reinterpret_cast<const char*>(events.data());
        std::size_t left = used * sizeof(input_event);
        while (left > 0) {
            const ssize_t written = ::write(output, bytes, left);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return;
            }
            bytes += written;
            left -= static_cast<std::size_t>(written);
        }
    }

    [[noreturn]] void run(StallDetector::Clock::duration timeout) {
        StallDetector detector(timeout);
        // Idle, the guard sleeps until a keyboard has input; once it saw input
        // waiting it looks again every tick rather than waking for every key.
        bool looking = false;
        std::array<pollfd, kMaxKeyboards + 1> fds{};
        for (;;) {
            fds[0] = {control, POLLIN, 0};
            std::size_t used = 1;
            if (!looking) {
                for (std::size_t i = 0; i < count; ++i) {
                    fds[used++] = {watched[i].fd, POLLIN, 0};
                }
            }
            const int ready = ::poll(fds.data(), used, looking ? tickMs : -1);
            if (ready < 0 && errno != EINTR) {
                ::_exit(1);
            }
            if (::getppid() != parent) {
                ::_exit(0);
            }
            if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !receive()) {
                ::_exit(0);
            }
            // Woken by input: whether or not the main loop took it meanwhile,
            // the next look is a tick away, not at the next key.
            bool woken = false;
            for (std::size_t i = 1; i < used; ++i) {
                woken = woken || fds[i].revents != 0;
            }
            looking = anyReadable() || woken;
            if (page.state.load(std::memory_order_acquire) != StallGuardPage::kHolding) {
                detector.reset(); // the main loop has not caught up yet
                continue;
            }
            const bool pending = looking && page.armed.load(std::memory_order_relaxed) != 0;
            if (detector.check(StallDetector::Clock::now(), pending,
                               page.serviced.load(std::memory_order_relaxed))) {
                letGo();
                detector.reset();
            }
        }
    }
};

// The guard holds only what it needs: a descriptor of the main process kept
// open here would outlive that process's own close.
void closeAllBut(int first, int second) {
    const int low = first < second ? first : second;
    const int high = first < second ? second : first;
    int from = 3;
    for (const int keep : {low, high}) {
        if (keep >= from) {
            if (keep > from) {
                ::close_range(static_cast<unsigned>(from), static_cast<unsigned>(keep - 1), 0);
            }
            from = keep + 1;
        }
    }
    ::close_range(static_cast<unsigned>(from), ~0U, 0);
}

[[noreturn]] void becomeGuard(int control, int output, pid_t parent, StallGuardPage& page,
                              StallDetector::Clock::duration timeout, int tickMs) {
    // Dies with the main process; if that already happened, at once.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        ::_exit(0);
    }
    // Its own process group: a terminal's Ctrl+Z stops the main process, not
    // the guard that has to act on that.
    ::setpgid(0, 0);
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        if (signal != SIGKILL && signal != SIGSTOP) {
            ::sigaction(signal, &defaults, nullptr);
        }
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    for (const int signal : {SIGPIPE, SIGINT, SIGHUP, SIGTSTP, SIGTTIN, SIGTTOU}) {
        ::sigaction(signal, &ignore, nullptr);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    closeAllBut(control, output);
    Guard guard{control, output, parent, page, tickMs};
    guard.run(timeout);
}

} // namespace

std::unique_ptr<StallGuard> StallGuard::start(int outputFd, Clock::duration timeout,
                                              Clock::duration tick) {
    void* mapped = ::mmap(nullptr, sizeof(StallGuardPage), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        return nullptr;
    }
    letGoOnStopSignals();
    std::unique_ptr<StallGuard> guard(
        new StallGuard(new (mapped) StallGuardPage, outputFd, timeout, tick));
    guard->fork();
    return guard;
}

StallGuard::~StallGuard() {
    end();
    page_->~StallGuardPage();
    ::munmap(page_, sizeof(StallGuardPage));
}

bool StallGuard::restart() {
    end();
    return fork();
}

bool StallGuard::fork() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        return false;
    }
    const auto tickMs =
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(tick_).count());
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        becomeGuard(ends[1], outputFd_, parent, *page_, timeout_, tickMs > 0 ? tickMs : 1);
    }
    ::close(ends[1]);
    if (pid < 0) {
        ::close(ends[0]);
        return false;
    }
    // The guard stays until its socket closes or it is killed, so the number
    // still names it here.
    socket_ = ends[0];
    pid_ = pid;
    // Straight to the kernel: Debian 12's C library declares the pidfd calls
    // without C linkage for C++.
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    alive_ = true;
    noticePending_ = false;
    stopNoticeSocket.store(socket_, std::memory_order_release);
    return true;
}

void StallGuard::end() {
    if (socket_ >= 0) {
        int expected = socket_;
        stopNoticeSocket.compare_exchange_strong(expected, -1, std::memory_order_acq_rel);
        ::close(socket_);
        socket_ = -1;
    }
    if (pid_ > 0) {
        if (pidfd_ >= 0) {
            ::syscall(SYS_pidfd_send_signal, pidfd_, SIGKILL, nullptr, 0);
            siginfo_t info{};
            while (::waitid(P_PIDFD, static_cast<id_t>(pidfd_), &info, WEXITED) != 0 &&
                   errno == EINTR) {
            }
            ::close(pidfd_);
        } else {
            // Without pidfds: signal the number only while it is still an
            // unreaped child of this process, so certainly the guard.
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == 0) {
                ::kill(pid_, SIGKILL);
            }
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_ = -1;
    pidfd_ = -1;
    alive_ = false;
}

bool StallGuard::takeNotice() {
    noticePending_ = false;
    Message message{};
    while (socket_ >= 0) {
        const ssize_t got = ::recv(socket_, &message, sizeof(message), MSG_DONTWAIT);
        if (got == 0) {
            alive_ = false;
            break;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN) {
                alive_ = false;
            }
            break;
        }
    }
    return page_->state.load(std::memory_order_acquire) == StallGuardPage::kLetGo;
}

bool StallGuard::watch(int deviceFd) {
    if (!alive_ || !send(static_cast<std::int32_t>(Op::Watch), deviceFd, deviceFd)) {
        return false;
    }
    const auto deadline = Clock::now() + kAnswerTimeout;
    for (;;) {
        Message message{};
        const ssize_t got = ::recv(socket_, &message, sizeof(message), MSG_DONTWAIT);
        if (got == 0) {
            end();
            return false;
        }
        if (got == static_cast<ssize_t>(sizeof(message))) {
            if (message.op == Op::LetGone) {
                noticePending_ = true;
            } else if (message.key == deviceFd) {
                return message.op == Op::Watching;
            }
            continue;
        }
        if (got < 0 && errno != EAGAIN && errno != EINTR) {
            end();
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd answer{socket_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&answer, 1, static_cast<int>(left.count())) == 0) {
            end(); // a guard that does not answer cannot be relied on
            return false;
        }
    }
}

void StallGuard::forget(int deviceFd) {
    if (alive_ && !send(static_cast<std::int32_t>(Op::Forget), deviceFd, -1)) {
        end(); // it would keep watching a keyboard that is no longer ours
    }
}

// Waits a while for room.
bool StallGuard::send(std::int32_t op, std::int32_t key, int passedFd) {
    Message message{static_cast<Op>(op), key};
    iovec data{&message, sizeof(message)};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> rights{};
    msghdr header{};
    header.msg_iov = &data;
    header.msg_iovlen = 1;
    if (passedFd >= 0) {
        header.msg_control = rights.data();
        header.msg_controllen = rights.size();
        cmsghdr* part = CMSG_FIRSTHDR(&header);
        part->cmsg_level = SOL_SOCKET;
        part->cmsg_type = SCM_RIGHTS;
        part->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(part), &passedFd, sizeof(passedFd));
    }
    const auto deadline = Clock::now() + kAnswerTimeout;
    for (;;) {
        if (::sendmsg(socket_, &header, MSG_NOSIGNAL | MSG_DONTWAIT) >= 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd room{socket_, POLLOUT, 0};
        if (errno != EAGAIN || left.count() <= 0 ||
            ::poll(&room, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
    }
}

} // namespace tarnell::input
