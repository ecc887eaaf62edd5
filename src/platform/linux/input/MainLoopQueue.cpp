#include "platform/linux/input/MainLoopQueue.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tarnell::input {

MainLoopQueue::MainLoopQueue() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wake_ < 0) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(wake_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { runQueued(); });
}

MainLoopQueue::~MainLoopQueue() {
    notifier_.reset();
    if (wake_ >= 0) {
        ::close(wake_);
    }
}

void MainLoopQueue::post(std::function<void()> work) {
    bool first = false;
    {
        const std::lock_guard lock(mutex_);
        first = queued_.empty();
        queued_.push_back(std::move(work));
    }
    if (first && wake_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof(one));
    }
}

void MainLoopQueue::runQueued() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(wake_, &count, sizeof(count));
    std::vector<std::function<void()>> work;
    {
        const std::lock_guard lock(mutex_);
        work.swap(queued_);
    }
    for (auto& item : work) {
        item();
    }
}

} // namespace tarnell::input
