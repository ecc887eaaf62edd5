#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace tarnell {

// Tells observers that a published field is about to be assigned. Observers
// are called before each assignment, also when the value does not change, and
// read the new value afterwards (on the next turn of the event loop, or after
// the call that made the change returns).
//
// Single-threaded: used on the main thread only.
class ChangeNotifier {
public:
    using Observer = std::function<void()>;

    // Keeps an observer registered for as long as it lives.
    class Subscription {
    public:
        Subscription() = default;
        Subscription(Subscription&&) noexcept = default;
        Subscription& operator=(Subscription&&) noexcept = default;
        ~Subscription() { reset(); }
        void reset() {
            if (auto slot = slot_.lock()) {
                *slot = nullptr;
            }
            slot_.reset();
        }

    private:
        friend class ChangeNotifier;
        explicit Subscription(std::weak_ptr<Observer> slot) : slot_(std::move(slot)) {}
        std::weak_ptr<Observer> slot_;
    };

    [[nodiscard]] Subscription subscribe(Observer observer) {
        auto slot = std::make_shared<Observer>(std::move(observer));
        slots_.push_back(slot);
        return Subscription(slot);
    }

    void notify() {
        // Observers may subscribe or unsubscribe while being told.
        const auto snapshot = slots_;
        for (const auto& slot : snapshot) {
            if (*slot) {
                (*slot)();
            }
        }
        std::erase_if(slots_, [](const auto& slot) { return !*slot; });
    }

    [[nodiscard]] std::size_t observerCount() const {
        std::size_t n = 0;
        for (const auto& slot : slots_) {
            n += *slot ? 1 : 0;
        }
        return n;
    }

private:
    std::vector<std::shared_ptr<Observer>> slots_;
};

} // namespace tarnell
