#include "platform/linux/input/KeyThread.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tarnell::input {

KeyThread::KeyThread()
    : epoll_(::epoll_create1(EPOLL_CLOEXEC)), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!valid()) {
        return;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = nullptr; // the eventfd: every other descriptor has its Watch
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event) != 0) {
        ::close(wake_);
        wake_ = -1;
    }
}

KeyThread::~KeyThread() {
    stop();
    for (const int fd : {epoll_, wake_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void KeyThread::watch(int fd, Handler handler) {
    if (!valid() || fd < 0) {
        return;
    }
    auto entry = std::make_unique<Watch>(Watch{fd, std::move(handler)});
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = entry.get();
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0) {
        watches_.push_back(std::move(entry));
    }
}

void KeyThread::unwatch(int fd) {
    for (auto it = watches_.begin(); it != watches_.end(); ++it) {
        if ((*it)->fd != fd) {
            continue;
        }
        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
        if (dispatching_) {
            // Its handler may be the one running, and later events of this
            // wakeup may still name it: it goes once the wakeup is handled.
            (*it)->fd = -1;
            retired_.push_back(std::move(*it));
        }
        watches_.erase(it);
        return;
    }
}

void KeyThread::start() {
    if (!valid() || thread_.joinable()) {
        return;
    }
    // The thread takes the signal mask of the one that makes it.
    sigset_t all;
    sigset_t before;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &before);
    running_.store(true, std::memory_order_release);
    thread_ = std::thread([this] { run(); });
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

void KeyThread::stop() {
    if (!thread_.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    signal();
    thread_.join();
    threadId_.store({}, std::memory_order_release);
    running_.store(false, std::memory_order_release);
    const std::lock_guard lock(mutex_);
    stopping_ = false;
}

bool KeyThread::acquire() {
    const auto caller = std::this_thread::get_id();
    if (!running() || onThread() || holder_.load(std::memory_order_acquire) == caller) {
        return false;
    }
    callers_.lock();
    std::unique_lock lock(mutex_);
    ++requests_;
    signal();
    changed_.wait(lock, [this] { return parked_ || stopping_; });
    holder_.store(caller, std::memory_order_release);
    return true;
}

void KeyThread::release() {
    {
        const std::lock_guard lock(mutex_);
        holder_.store({}, std::memory_order_release);
        --requests_;
        parked_ = false; // the next holder waits for the thread to park anew
    }
    changed_.notify_all();
    callers_.unlock();
}

void KeyThread::signal() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof(one));
}

void KeyThread::run() {
    threadId_.store(std::this_thread::get_id(), std::memory_order_release);
    std::array<epoll_event, 32> ready{};
    for (;;) {
        const int count = ::epoll_wait(epoll_, ready.data(), static_cast<int>(ready.size()), -1);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            // Nothing can be waited for any more; requests are still answered.
            pollfd wake{wake_, POLLIN, 0};
            if (::poll(&wake, 1, -1) < 0 && errno != EINTR) {
                ::usleep(10000);
            }
            if (!takeRequests()) {
                return;
            }
            continue;
        }
        bool woken = false;
        dispatching_ = true;
        for (int i = 0; i < count; ++i) {
            auto* entry = static_cast<Watch*>(ready[static_cast<std::size_t>(i)].data.ptr);
            if (entry == nullptr) {
                woken = true;
            } else if (entry->fd >= 0) {
                entry->handler();
            }
        }
        dispatching_ = false;
        retired_.clear();
        if (woken && !takeRequests()) {
            return;
        }
    }
}

bool KeyThread::takeRequests() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(wake_, &count, sizeof(count));
    std::unique_lock lock(mutex_);
    // One holder per park, and back to the descriptors in between: a holder that
    // came meanwhile has signalled anew, and input written before it asked is
    // handled first.
    if (requests_ > 0 && !stopping_) {
        parked_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !parked_ || stopping_; });
    }
    parked_ = false;
    return !stopping_;
}

} // namespace tarnell::input
