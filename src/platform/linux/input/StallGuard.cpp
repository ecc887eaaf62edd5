#include "platform/linux/input/StallGuard.h"

#include "platform/linux/input/StallDetector.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <linux/input.h>
#include <new>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnell::input {
namespace {

constexpr std::size_t kMaxKeyboards = 64;

enum class Op : std::int32_t { Watch = 1, Forget = 2 };

struct Message {
    Op op;
    std::int32_t key; // the keyboard's descriptor number in the main process
};

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
        if (message.op == Op::Watch && passedFd >= 0 && count < watched.size()) {
            watched[count++] = {message.key, passedFd};
            return;
        }
        if (passedFd >= 0) {
            ::close(passedFd);
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
        const char notice = '!';
        [[maybe_unused]] const auto sent = ::send(control, &notice, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
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
    auto* page = new (mapped) StallGuardPage;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        ::munmap(mapped, sizeof(StallGuardPage));
        return nullptr;
    }
    const int tickMs =
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(tick).count());
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        becomeGuard(ends[1], outputFd, parent, *page, timeout, tickMs > 0 ? tickMs : 1);
    }
    ::close(ends[1]);
    if (pid < 0) {
        ::close(ends[0]);
        ::munmap(mapped, sizeof(StallGuardPage));
        return nullptr;
    }
    return std::unique_ptr<StallGuard>(new StallGuard(page, ends[0], pid));
}

StallGuard::~StallGuard() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    ::close(socket_);
    page_->~StallGuardPage();
    ::munmap(page_, sizeof(StallGuardPage));
}

bool StallGuard::takeNotice() {
    char notices[16];
    for (;;) {
        const ssize_t got = ::recv(socket_, notices, sizeof(notices), MSG_DONTWAIT);
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

void StallGuard::watch(int deviceFd) {
    Message message{Op::Watch, deviceFd};
    iovec data{&message, sizeof(message)};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
    msghdr header{};
    header.msg_iov = &data;
    header.msg_iovlen = 1;
    header.msg_control = control.data();
    header.msg_controllen = control.size();
    cmsghdr* part = CMSG_FIRSTHDR(&header);
    part->cmsg_level = SOL_SOCKET;
    part->cmsg_type = SCM_RIGHTS;
    part->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(part), &deviceFd, sizeof(deviceFd));
    [[maybe_unused]] const auto sent = ::sendmsg(socket_, &header, MSG_NOSIGNAL);
}

void StallGuard::forget(int deviceFd) {
    const Message message{Op::Forget, deviceFd};
    [[maybe_unused]] const auto sent = ::send(socket_, &message, sizeof(message), MSG_NOSIGNAL);
}

} // namespace tarnell::input
