#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tarnell::input {

// Work handed from another thread (the key thread) to the main loop: queued under
// a mutex, announced through an eventfd that the main loop watches, and run there
// in the order it came. Made on the main loop; work still queued when it goes is
// dropped.
class MainLoopQueue {
public:
    MainLoopQueue();
    ~MainLoopQueue();
    MainLoopQueue(const MainLoopQueue&) = delete;
    MainLoopQueue& operator=(const MainLoopQueue&) = delete;

    // From any thread.
    void post(std::function<void()> work);

private:
    void runQueued();

    int wake_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::mutex mutex_;
    std::vector<std::function<void()>> queued_;
};

} // namespace tarnell::input
