#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tarnell::input {

// The thread the keys take: it waits on the descriptors it is given (the
// keyboards, the virtual keyboard's LEDs) with epoll and calls their handlers, so
// that a key costs one wakeup, one read and one write, and nothing of the main
// loop's work or of the descriptors it watches.
//
// What the handlers use belongs to whichever thread holds the key thread: the
// thread itself while it runs, or another one inside exclusive(), during which
// the thread waits between two wakeups. Every hand-over goes through exclusive(),
// whose mutex orders the two sides. The key path takes no lock: the thread looks
// for such requests only when its own eventfd wakes it, after the descriptors that
// woke with it, so input written before an exclusive() call has been handled
// when its work runs.
//
// All signals are blocked on the thread; they go to the others.
class KeyThread {
public:
    using Handler = std::function<void()>;

    KeyThread();
    // Stops the thread.
    ~KeyThread();
    KeyThread(const KeyThread&) = delete;
    KeyThread& operator=(const KeyThread&) = delete;

    // Whether the thread can run (its epoll and eventfd descriptors were made).
    [[nodiscard]] bool valid() const { return epoll_ >= 0 && wake_ >= 0; }

    // Calls `handler` on the thread whenever `fd` is readable. Only where the
    // handlers' state may be touched: on the thread, inside exclusive(), or while
    // the thread does not run.
    void watch(int fd, Handler handler);
    void unwatch(int fd);

    // Starts the thread; does nothing while it runs.
    void start();
    // Ends the thread and waits for it; from then on exclusive() runs its work at
    // once. Not on the thread itself.
    void stop();
    [[nodiscard]] bool running() const { return running_.load(std::memory_order_acquire); }
    [[nodiscard]] bool onThread() const {
        return std::this_thread::get_id() == threadId_.load(std::memory_order_acquire);
    }

    // Runs `work` while the thread waits between two wakeups and returns its
    // result. At once where the caller holds the thread already: on the thread
    // itself, inside an exclusive() of the same caller, or while it does not run.
    template <typename Work> decltype(auto) exclusive(Work&& work) {
        const Hold hold(*this);
        return std::forward<Work>(work)();
    }

private:
    struct Watch {
        int fd;
        Handler handler;
    };

    class Hold {
    public:
        explicit Hold(KeyThread& thread) : thread_(thread), held_(thread.acquire()) {}
        ~Hold() {
            if (held_) {
                thread_.release();
            }
        }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        KeyThread& thread_;
        const bool held_;
    };

    // True when the caller now holds the thread and has to release it.
    bool acquire();
    void release();
    void run();
    // After a wakeup through the eventfd: waits while another thread holds this
    // one. False once the thread is to end.
    bool takeRequests();
    void signal() const;

    int epoll_ = -1;
    int wake_ = -1;
    // Watches keep their address: epoll hands them back. One unwatched while a
    // wakeup is handled is kept until that is done.
    std::vector<std::unique_ptr<Watch>> watches_;
    std::vector<std::unique_ptr<Watch>> retired_;
    bool dispatching_ = false;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<std::thread::id> threadId_{};

    std::mutex callers_; // one holder at a time
    std::mutex mutex_;   // the fields below
    std::condition_variable changed_;
    int requests_ = 0;
    bool parked_ = false;
    bool stopping_ = false;
    std::atomic<std::thread::id> holder_{};
};

} // namespace tarnell::input
