#include "platform/linux/mainloop/QtTimerService.h"

#include <QTimer>

namespace tarnell::platform {
namespace {

// What a tick needs. Shared between the timer object the caller owns and the
// tick itself, so a block that destroys the caller's object keeps running on
// state that is still there.
struct TickState {
    // The reference handed to the block; invalidating it stops the timer.
    struct Handle final : engine::RepeatingTimer {
        explicit Handle(TickState& owner) : state(owner) {}
        void invalidate() override { state.stop(); }
        TickState& state;
    };

    explicit TickState(std::function<void(engine::RepeatingTimer&)> tickBlock)
        : block(std::move(tickBlock)) {}

    void stop() {
        active = false;
        if (timer != nullptr) {
            timer->stop();
        }
    }

    std::function<void(engine::RepeatingTimer&)> block;
    Handle handle{*this};
    QTimer* timer = nullptr; // owned by QtRepeatingTimer; null once it is gone
    bool active = true;
    bool firing = false;
};

class QtRepeatingTimer final : public engine::RepeatingTimer {
public:
    QtRepeatingTimer(std::chrono::milliseconds interval,
                     std::function<void(engine::RepeatingTimer&)> block)
        : state_(std::make_shared<TickState>(std::move(block))), timer_(new QTimer) {
        state_->timer = timer_;
        timer_->setInterval(interval);
        timer_->setTimerType(Qt::CoarseTimer);
        // The connection holds the state; the state does not hold the timer.
        QObject::connect(timer_, &QTimer::timeout, [state = state_] {
            if (!state->active) {
                return;
            }
            const std::shared_ptr<TickState> keep = state;
            keep->firing = true;
            keep->block(keep->handle);
            keep->firing = false;
        });
        timer_->start();
    }

    QtRepeatingTimer(const QtRepeatingTimer&) = delete;
    QtRepeatingTimer& operator=(const QtRepeatingTimer&) = delete;

    ~QtRepeatingTimer() override {
        state_->stop();
        state_->timer = nullptr;
        if (state_->firing) {
            // Destroyed from inside its own tick: the timer is still emitting.
            timer_->deleteLater();
        } else {
            delete timer_;
        }
    }

    void invalidate() override { state_->stop(); }

private:
    std::shared_ptr<TickState> state_;
    QTimer* timer_;
};

} // namespace

std::unique_ptr<engine::RepeatingTimer>
QtTimerService::scheduleRepeating(std::chrono::milliseconds interval,
                                  std::function<void(engine::RepeatingTimer&)> block) {
    return std::make_unique<QtRepeatingTimer>(interval, std::move(block));
}

} // namespace tarnell::platform
