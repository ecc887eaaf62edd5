#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace tarnell::testing {

// The one QApplication of a test program, made on first use and ended when the tests
// are over, before static objects go (Qt's clean-up needs them).
inline QApplication& qtApplication() {
    struct Ending : ::testing::Environment {
        std::unique_ptr<QApplication>& application;
        explicit Ending(std::unique_ptr<QApplication>& made) : application(made) {}
        void TearDown() override { application.reset(); }
    };
    static int argc = 1;
    static char name[] = "tarnell-tests";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QApplication> application;
    if (!application) {
        application = std::make_unique<QApplication>(argc, argv);
        ::testing::AddGlobalTestEnvironment(new Ending(application));
    }
    return *application;
}

// Delivers what the event loop has queued, such as the change signals that follow
// a store or monitor change.
inline void settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

// Keeps handling events until the condition holds; false when time ran out first.
inline bool waitFor(const std::function<bool()>& condition, int timeoutMs = 20000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

} // namespace tarnell::testing
